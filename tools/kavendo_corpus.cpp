// Writes recordings of poems whose phrase boundaries are known, as program folders to look at
// with kavendo-phrases: each folder's truth.txt is what kavendo-phrases should print for it.
//
//   kavendo-corpus FOLDER [SEED]      the tests measure the corpus of the default seed

#include "PhraseCorpus.h"

#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FOLDER [SEED]\n", argv[0]);
        return 2;
    }
    const quint32 seed = argc == 3 ? QByteArray(argv[2]).toUInt() : MeasuredCorpus;
    QString error;
    const QStringList folders = writePhraseCorpus(QFile::decodeName(argv[1]), seed, error);
    if (folders.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (const QString &folder : folders)
        std::printf("%s\n", qPrintable(folder));
    return 0;
}
