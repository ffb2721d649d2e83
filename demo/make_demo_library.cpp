// Writes the demo library: reads poems written as UTF-8 text and writes them as a library file.

#include "LibraryFile.h"
#include "PoemText.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s poems.txt Kavendo.dbf\n", argv[0]);
        return 2;
    }
    QString error;
    const std::optional<std::vector<PoemRecord>> Poems =
        readPoemText(QString::fromLocal8Bit(argv[1]), error);
    if (!Poems) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (const LibraryError failure = rewriteLibrary(QString::fromLocal8Bit(argv[2]), *Poems)) {
        std::fprintf(stderr, "%s\n", qPrintable(*failure));
        return 1;
    }
    return 0;
}
