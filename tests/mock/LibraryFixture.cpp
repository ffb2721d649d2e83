#include "LibraryFixture.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTest>

using namespace Qt::StringLiterals;

namespace LibraryFixture {

QByteArray gbk(const QString &text)
{
    return QStringEncoder("GBK").encode(text);
}

QByteArray record(const QByteArray &title, const QByteArray &line1, const QByteArray &line2,
                  const QByteArray &line3, const QByteArray &line4)
{
    return title.leftJustified(24, ' ') + line1.leftJustified(16, ' ') +
           line2.leftJustified(16, ' ') + line3.leftJustified(16, ' ') +
           line4.leftJustified(16, ' ');
}

QByteArray poem(const QString &title, const QStringList &lines)
{
    return record(gbk(title), gbk(lines.value(0)), gbk(lines.value(1)), gbk(lines.value(2)),
                  gbk(lines.value(3)));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>"_ba;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

void writeLibrary(const QString &folder, const QByteArray &bytes)
{
    writeFile(folder + u"/Kavendo.dbf"_s, bytes);
}

QString writeRecording(const QString &folder, const QString &name)
{
    QDir(folder).mkpath(u"sound"_s);
    writeFile(folder + u"/sound/"_s + name, "RIFF");
    return folder + u"/sound/"_s + name;
}

} // namespace LibraryFixture
