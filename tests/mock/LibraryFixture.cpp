#include "LibraryFixture.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QTest>

namespace LibraryFixture {

QByteArray gbk(const QString &text)
{
    static const QHash<QChar, QByteArray> twoByte{
        {u'静', "\xBE\xB2"}, {u'夜', "\xD2\xB9"}, {u'思', "\xCB\xBC"}, {u'床', "\xB4\xB2"},
        {u'前', "\xC7\xB0"}, {u'明', "\xC3\xF7"}, {u'月', "\xD4\xC2"}, {u'光', "\xB9\xE2"},
        {u'疑', "\xD2\xC9"}, {u'是', "\xCA\xC7"}, {u'地', "\xB5\xD8"}, {u'上', "\xC9\xCF"},
        {u'霜', "\xCB\xAA"}, {u'举', "\xBE\xD9"}, {u'头', "\xCD\xB7"}, {u'望', "\xCD\xFB"},
        {u'低', "\xB5\xCD"}, {u'故', "\xB9\xCA"}, {u'乡', "\xCF\xE7"}, {u'春', "\xB4\xBA"},
        {u'眠', "\xC3\xDF"}, {u'不', "\xB2\xBB"}, {u'觉', "\xBE\xF5"}, {u'晓', "\xCF\xFE"},
        {u'处', "\xB4\xA6"}, {u'闻', "\xCE\xC5"}, {u'啼', "\xCC\xE4"}, {u'鸟', "\xC4\xF1"},
        {u'登', "\xB5\xC7"}, {u'鹳', "\xF0\xD9"}, {u'雀', "\xC8\xB8"}, {u'楼', "\xC2\xA5"},
        {u'白', "\xB0\xD7"}, {u'日', "\xC8\xD5"}, {u'依', "\xD2\xC0"}, {u'山', "\xC9\xBD"},
        {u'尽', "\xBE\xA1"}, {u'黄', "\xBB\xC6"}, {u'河', "\xBA\xD3"}, {u'入', "\xC8\xEB"},
        {u'海', "\xBA\xA3"}, {u'流', "\xC1\xF7"}, {u'欲', "\xD3\xFB"}, {u'穷', "\xC7\xEE"},
        {u'千', "\xC7\xA7"}, {u'里', "\xC0\xEF"}, {u'目', "\xC4\xBF"}, {u'更', "\xB8\xFC"},
        {u'一', "\xD2\xBB"}, {u'层', "\xB2\xE3"}, {u'李', "\xC0\xEE"}, {u'相', "\xCF\xE0"},
        {u'见', "\xBC\xFB"}, {u'时', "\xCA\xB1"}, {u'难', "\xC4\xD1"}, {u'别', "\xB1\xF0"},
        {u'亦', "\xD2\xE0"}, {u'东', "\xB6\xAB"}, {u'风', "\xB7\xE7"}, {u'无', "\xCE\xDE"},
        {u'力', "\xC1\xA6"}, {u'百', "\xB0\xD9"}, {u'花', "\xBB\xA8"}, {u'残', "\xB2\xD0"},
    };
    QByteArray bytes;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            bytes += char(c.unicode());
        else if (twoByte.contains(c))
            bytes += twoByte.value(c);
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
    QList<QByteArray> encoded;
    for (int i = 0; i < 4; ++i)
        encoded << (i < lines.size() ? gbk(lines[i]) : QByteArray());
    return record(gbk(title), encoded[0], encoded[1], encoded[2], encoded[3]);
}

void writeLibrary(const QString &folder, const QByteArray &bytes)
{
    QFile file(folder + QStringLiteral("/Kavendo.dbf"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString writeRecording(const QString &folder, const QString &name)
{
    QDir(folder).mkpath(QStringLiteral("sound"));
    const QString path = folder + QStringLiteral("/sound/") + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("RIFF") != 4)
        qFatal("Cannot write the test recording %s", qPrintable(path));
    return path;
}

} // namespace LibraryFixture
