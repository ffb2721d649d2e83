// Writes the demo library: reads poems written as UTF-8 text (a title and four lines per block,
// blocks separated by blank lines, # starting a comment) and writes them as a library file.

#include "LibraryFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s poems.txt Kavendo.dbf\n", argv[0]);
        return 2;
    }
    QFile text(QString::fromLocal8Bit(argv[1]));
    if (!text.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }

    std::vector<PoemRecord> Poems(1);
    QStringList block;
    const auto finishBlock = [&]() -> bool {
        if (block.isEmpty())
            return true;
        if (block.size() != 1 + PoemRecord::LineCount) {
            std::fprintf(stderr, "a poem needs a title and four lines: %s\n",
                         qPrintable(block.join(u'/')));
            return false;
        }
        PoemRecord poem;
        poem.setTitle(block[0]);
        for (int i = 1; i <= PoemRecord::LineCount; ++i)
            poem.setLines(i, block[i]);
        Poems.push_back(poem);
        block.clear();
        return true;
    };

    QTextStream in(&text);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'#'))
            continue;
        if (line.isEmpty() ? !finishBlock() : (block << line, false))
            return 1;
    }
    if (!finishBlock())
        return 1;

    if (const LibraryError error = rewriteLibrary(QString::fromLocal8Bit(argv[2]), Poems)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    return 0;
}
