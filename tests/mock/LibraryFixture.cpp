#include "LibraryFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace LibraryFixture {

QByteArray gbk(const QString &text)
{
    // Each character the tests use, then its two bytes in code page 936 as hexadecimal.
    static const QString table =
        u"静BEB2 夜D2B9 思CBBC 床B4B2 前C7B0 明C3F7 月D4C2 光B9E2 疑D2C9 是CAC7 地B5D8 上C9CF "
        u"霜CBAA 举BED9 头CDB7 望CDFB 低B5CD 故B9CA 乡CFE7 春B4BA 眠C3DF 不B2BB 觉BEF5 晓CFFE "
        u"处B4A6 闻CEC5 啼CCE4 鸟C4F1 登B5C7 鹳F0D9 雀C8B8 楼C2A5 白B0D7 日C8D5 依D2C0 山C9BD "
        u"尽BEA1 黄BBC6 河BAD3 入C8EB 海BAA3 流C1F7 欲D3FB 穷C7EE 千C7A7 里C0EF 目C4BF 更B8FC "
        u"一D2BB 层B2E3 李C0EE 相CFE0 见BCFB 时CAB1 难C4D1 别B1F0 亦D2E0 东B6AB 风B7E7 无CEDE "
        u"力C1A6 百B0D9 花BBA8 残B2D0"_s;
    QByteArray bytes;
    for (const QChar c : text) {
        const qsizetype at = table.indexOf(c);
        if (c.unicode() < 0x80)
            bytes += char(c.unicode());
        else if (at >= 0)
            bytes += QByteArray::fromHex(table.sliced(at + 1, 4).toLatin1());
        else
            qFatal("The test fixture has no code page 936 bytes for %s", qPrintable(QString(c)));
    }
    return bytes;
}

QByteArray record(const QByteArray &title, const QByteArray &line1, const QByteArray &line2,
                  const QByteArray &line3, const QByteArray &line4)
{
    const auto padded = [](const QByteArray &field, int width) {
        return field + QByteArray(width - field.size(), ' ');
    };
    return padded(title, 24) + padded(line1, 16) + padded(line2, 16) + padded(line3, 16) +
           padded(line4, 16);
}

QByteArray poem(const QString &title, const QStringList &lines)
{
    return record(gbk(title), gbk(lines.value(0)), gbk(lines.value(1)), gbk(lines.value(2)),
                  gbk(lines.value(3)));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(bytes) == bytes.size());
}

void writeLibrary(const QString &folder, const QByteArray &bytes)
{
    writeFile(folder + u"/Kavendo.dbf"_s, bytes);
}

QString writeRecording(const QString &folder, const QString &name)
{
    QDir(folder).mkpath(u"sound"_s);
    const QString path = folder + u"/sound/"_s + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("RIFF") != 4)
        qFatal("Cannot write the test recording %s", qPrintable(path));
    return path;
}

} // namespace LibraryFixture
