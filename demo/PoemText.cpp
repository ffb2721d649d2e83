#include "PoemText.h"

#include "CodePage936.h"

#include <QFile>
#include <QTextStream>

std::optional<std::vector<PoemRecord>> readPoemText(const QString &path, QString &error)
{
    QFile text(path);
    if (!text.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }

    const auto codePage = std::make_shared<const CodePage936>();
    if (!codePage->isAvailable()) {
        error = QStringLiteral("the C library cannot convert code page 936");
        return std::nullopt;
    }
    std::vector<PoemRecord> Poems(1);
    QStringList block;
    const auto finishBlock = [&]() -> bool {
        if (block.isEmpty())
            return true;
        if (block.size() != 1 + PoemRecord::LineCount) {
            error = QStringLiteral("a poem needs a title and four lines: %1").arg(block.join(u'/'));
            return false;
        }
        PoemRecord poem(codePage);
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
            return std::nullopt;
    }
    if (!finishBlock())
        return std::nullopt;
    return Poems;
}
