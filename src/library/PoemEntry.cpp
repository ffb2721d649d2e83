#include "PoemEntry.h"

#include "CodePage936.h"
#include "NativePath.h"
#include "Trim.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A character as a parent can find it in what they typed; control characters and characters
// the font may not show are given by their code as well.
QString describeCharacter(const QString &character)
{
    const char32_t code = character.size() == 2 ? QChar::surrogateToUcs4(character[0], character[1])
                                                : char32_t(character[0].unicode());
    const QString number = u"U+"_s + QString::number(code, 16).toUpper().rightJustified(4, u'0');
    if (code < 0x20 || code == 0x7F)
        return u"控制字符 "_s + number;
    if (code < 0x80)
        return u"“%1”"_s.arg(character);
    return u"“%1”（%2）"_s.arg(character, number);
}

} // namespace

bool isFilled(const PoemEntry &entry)
{
    const auto filled = [](const QString &box) { return !trimSpaces(box).isEmpty(); };
    return filled(entry.title) && std::all_of(entry.lines.begin(), entry.lines.end(), filled);
}

bool titleFits(QStringView typed, const CodePage936 &codePage)
{
    return codePage.encode(trimSpaces(typed)).size() <= PoemRecord::TitleLength;
}

std::optional<QString> refusalOfEntry(const PoemEntry &entry, const CodePage936 &codePage)
{
    const QString title = trimSpaces(entry.title);
    if (title == u"."_s || title == u".."_s)
        return u"诗名不能是“%1”：诗名也是录音文件的名字，而“%1”不能用作文件名。"_s.arg(title);
    if (const QString unfit = characterUnfitForFileName(title); !unfit.isEmpty())
        return u"诗名中不能有%1：诗名也是录音文件的名字，而文件名中不能有这个字符。"_s.arg(
            describeCharacter(unfit));

    const std::array<QString, 5> boxNames{u"诗名"_s, u"第一句"_s, u"第二句"_s, u"第三句"_s,
                                          u"第四句"_s};
    const std::array<QString, 5> texts{entry.title, entry.lines[0], entry.lines[1], entry.lines[2],
                                       entry.lines[3]};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        QString missing;
        codePage.encode(texts[i], &missing);
        if (!missing.isEmpty())
            return u"%1中的%2无法存入诗词库：诗词库以 GBK 编码保存文字，其中没有这个字符。"_s.arg(
                boxNames[i], describeCharacter(missing));
    }
    return std::nullopt;
}

PoemRecord poemOf(const PoemEntry &entry, std::shared_ptr<const CodePage936> codePage)
{
    PoemRecord poem(std::move(codePage));
    poem.setTitle(trimSpaces(entry.title));
    for (int i = 1; i <= PoemRecord::LineCount; ++i)
        poem.setLines(i, entry.lines[size_t(i - 1)]);
    return poem;
}
