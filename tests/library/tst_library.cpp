#include "LibraryFile.h"
#include "PoemRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(PoemRecord)

namespace {

// Fixture bytes are spelled out here, not produced by the code under test.
const QByteArray JingYeSi("\xBE\xB2\xD2\xB9\xCB\xBC");                   // 静夜思
const QByteArray ChuangQian("\xB4\xB2\xC7\xB0\xC3\xF7\xD4\xC2\xB9\xE2"); // 床前明月光
const QByteArray EightCharacters(
    "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xB4\xA6\xB4\xA6\xCE\xC5"); // 春眠不觉晓处处闻

QByteArray padded(const QByteArray &bytes, int width)
{
    return bytes + QByteArray(width - bytes.size(), ' ');
}

QByteArray record(const QByteArray &title, const QByteArray &line1 = {},
                  const QByteArray &line2 = {}, const QByteArray &line3 = {},
                  const QByteArray &line4 = {})
{
    return padded(title, 24) + padded(line1, 16) + padded(line2, 16) + padded(line3, 16) +
           padded(line4, 16);
}

PoemRecord poem(const QString &title, const QStringList &lines = {})
{
    PoemRecord result;
    result.setTitle(title);
    for (int i = 1; i <= lines.size(); ++i)
        result.setLines(i, lines[i - 1]);
    return result;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class LibraryTest final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    QString m_path;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_folder.isValid());
        m_path = LibraryFile(m_folder.path());
        QFile::remove(m_path);
    }

    void fieldsFitTheirWidthInCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("line");

        QTest::newRow("short text is filled with spaces")
            << u"静夜思"_s << u"静夜思                     "_s << u"静夜思             "_s;
        QTest::newRow("long text keeps its first characters")
            << u"一二三四五六七八九十一二三四五六七八九十一二三四五"_s
            << u"一二三四五六七八九十一二三四五六七八九十一二三四"_s
            << u"一二三四五六七八九十一二三四五六"_s;
        QTest::newRow("leading spaces are kept")
            << u"  abc"_s << u"  abc                   "_s << u"  abc           "_s;
    }

    void fieldsFitTheirWidthInCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, line);
        PoemRecord record;
        record.setTitle(text);
        record.setLines(3, text);
        QCOMPARE(record.Title(), title);
        QCOMPARE(record.Lines(3), line);
        QCOMPARE(record.Lines(1), QString(16, u' '));
    }

    void trimRemovesOnlySpaces()
    {
        QCOMPARE(trimSpaces(u"  静夜思  "), u"静夜思"_s);
        QCOMPARE(trimSpaces(u"\t静夜思\u3000"), u"\t静夜思\u3000"_s);
        QCOMPARE(trimSpaces(u"    "), QString());
    }

    void writesRecordsByteForByte_data()
    {
        QTest::addColumn<PoemRecord>("written");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("ascii") << poem(u"Moon"_s, {u"abc"_s, u"de"_s, u"f"_s, u"ghi"_s})
                               << record("Moon", "abc", "de", "f", "ghi");
        QTest::newRow("chinese") << poem(u"静夜思"_s, {u"床前明月光"_s})
                                 << record(JingYeSi, ChuangQian);
        QTest::newRow("mixed ascii and chinese") << poem(u"Li 静夜思"_s, {u"1床前明月光"_s})
                                                 << record("Li " + JingYeSi, "1" + ChuangQian);
        QTest::newRow("eight chinese characters fill a line")
            << poem(u"静夜思"_s, {u"春眠不觉晓处处闻"_s}) << record(JingYeSi, EightCharacters);
        QTest::newRow("thirteen chinese characters keep twelve")
            << poem(u"春眠不觉晓处处闻春眠不觉晓"_s)
            << record(EightCharacters + QByteArray("\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5"));
        QTest::newRow("a split character becomes a space")
            << poem(u"a春眠不觉晓处处闻春眠不觉晓"_s)
            << record("a" + EightCharacters + QByteArray("\xB4\xBA\xC3\xDF\xB2\xBB "));
        QTest::newRow("euro sign is byte 0x80") << poem(u"€5"_s)
                                                << record("\x80"
                                                          "5");
        QTest::newRow("no form in code page 936 is a question mark")
            << poem(u"a😀b"_s) << record("a?b");
    }

    void writesRecordsByteForByte()
    {
        QFETCH(PoemRecord, written);
        QFETCH(QByteArray, bytes);
        QCOMPARE(bytes.size(), 88);

        QVERIFY(!rewriteLibrary(m_path, {PoemRecord(), written}));
        QCOMPARE(readAll(m_path), bytes);
    }

    void readsRecordsFromBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("line1");

        QTest::newRow("chinese") << record(JingYeSi, ChuangQian) << u"静夜思"_s << u"床前明月光"_s;
        QTest::newRow("euro sign") << record("\x80") << u"€"_s << QString();
        QTest::newRow("nul bytes read as spaces")
            << (QByteArray(24, '\0') + QByteArray("ab\0\0cd", 6) + QByteArray(58, '\0'))
            << QString() << u"ab  cd"_s;
        QTest::newRow("bytes that form no character") << record("\xFF"
                                                                "a\x80\xFF",
                                                                "\x81")
                                                      << u"\uFFFDa€\uFFFD"_s << u"\uFFFD"_s;
        QTest::newRow("a character cut at the field's end")
            << record(QByteArray(23, 'x') + "\xBE", "ab")
            << (QString(23, u'x') + QChar::ReplacementCharacter) << u"ab"_s;
        QTest::newRow("a character whose second byte is invalid") << record("\xBE"
                                                                            "\x7F"
                                                                            "ok")
                                                                  << u"\uFFFD\x7Fok"_s << QString();
    }

    void readsRecordsFromBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, title);
        QFETCH(QString, line1);
        writeAll(m_path, bytes);

        const LoadedLibrary library = loadLibrary(m_path);
        QVERIFY2(!library.error, qPrintable(library.error.value_or(QString())));
        QCOMPARE(library.Poems.size(), 2u);
        QCOMPARE(library.Poems[1].Title().size(), 24);
        QCOMPARE(library.Poems[1].Lines(1).size(), 16);
        QCOMPARE(trimSpaces(library.Poems[1].Title()), title);
        QCOMPARE(trimSpaces(library.Poems[1].Lines(1)), line1);
    }

    void countsPoemsFromTheFileLength_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("PoemCount");

        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("three records") << 3 * 88 << 3;
        QTest::newRow("partial under half is ignored") << 2 * 88 + 43 << 2;
        QTest::newRow("partial of half after even count is ignored") << 2 * 88 + 44 << 2;
        QTest::newRow("partial of half after odd count is a poem") << 3 * 88 + 44 << 4;
        QTest::newRow("partial over half is a poem") << 2 * 88 + 45 << 3;
        QTest::newRow("lone half record") << 44 << 0;
        QTest::newRow("lone record over half") << 45 << 1;
    }

    void countsPoemsFromTheFileLength()
    {
        QFETCH(int, length);
        QFETCH(int, PoemCount);
        QByteArray bytes;
        for (int n = 0; n * 88 < length; ++n)
            bytes += record(QByteArray::number(n + 1));
        writeAll(m_path, bytes.first(length));

        const LoadedLibrary library = loadLibrary(m_path);
        QVERIFY(!library.error);
        QCOMPARE(int(library.Poems.size()) - 1, PoemCount);
        for (int n = 1; n <= PoemCount; ++n)
            QCOMPARE(trimSpaces(library.Poems[n].Title()), QString::number(n));
        QCOMPARE(readAll(m_path).size(), length); // loading never writes
    }

    void partialRecordReadsMissingBytesAsSpaces()
    {
        const QByteArray full = record("first", "l1");
        const QByteArray partial = record("second", "abcdefghijklmnop", "xyz").first(24 + 16 + 5);
        writeAll(m_path, full + partial);

        const LoadedLibrary library = loadLibrary(m_path);
        QCOMPARE(library.Poems.size(), 3u);
        QCOMPARE(library.Poems[2].Title(), u"second                  "_s);
        QCOMPARE(library.Poems[2].Lines(1), u"abcdefghijklmnop"_s);
        QCOMPARE(library.Poems[2].Lines(2), u"xyz             "_s);
        QCOMPARE(library.Poems[2].Lines(4), QString(16, u' '));
    }

    void recordTwoComesFromItsOwnBytes()
    {
        writeAll(m_path, record("one", "a") + record(JingYeSi, ChuangQian, "b", "c", "d") +
                             record("three"));
        const LoadedLibrary library = loadLibrary(m_path);
        QCOMPARE(library.Poems.size(), 4u);
        QCOMPARE(trimSpaces(library.Poems[2].Title()), u"静夜思"_s);
        QCOMPARE(trimSpaces(library.Poems[2].Lines(1)), u"床前明月光"_s);
        QCOMPARE(trimSpaces(library.Poems[2].Lines(4)), u"d"_s);
        QCOMPARE(trimSpaces(library.Poems[3].Title()), u"three"_s);
    }

    void missingFileIsCreatedEmpty()
    {
        const LoadedLibrary library = loadLibrary(m_path);
        QVERIFY(!library.error);
        QCOMPARE(library.Poems.size(), 1u);
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(QFileInfo(m_path).size(), 0);
    }

    void rewriteRoundTripsThroughTheFile()
    {
        const std::vector<PoemRecord> written{
            PoemRecord(),
            poem(u"静夜思"_s, {u"床前明月光"_s, u"疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s}),
            poem(u"  Spring"_s, {u"  lead"_s, u"€"_s, u"x"_s, u"春眠不觉晓处处闻"_s})};
        QVERIFY(!rewriteLibrary(m_path, written));
        QCOMPARE(QFileInfo(m_path).size(), 2 * 88);

        const LoadedLibrary first = loadLibrary(m_path);
        QVERIFY(first.Poems == written);
        QVERIFY(loadLibrary(m_path).Poems == first.Poems);
    }

    void rewriteAfterDeletionIsOneRecordShorter()
    {
        writeAll(m_path, record("one") + record("two") + record("three"));
        std::vector<PoemRecord> Poems = loadLibrary(m_path).Poems;
        Poems.erase(Poems.begin() + 1);
        QVERIFY(!rewriteLibrary(m_path, Poems));
        QCOMPARE(readAll(m_path), record("two") + record("three"));
    }

    void rewriteOfNoPoemsLeavesAnEmptyFile()
    {
        writeAll(m_path, record("one"));
        QVERIFY(!rewriteLibrary(m_path, {PoemRecord()}));
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(QFileInfo(m_path).size(), 0);
        QCOMPARE(entriesOf(m_folder.path()), QStringList{u"Kavendo.dbf"_s});
    }

    void failuresNameTheFileAndKeepTheOldOne_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");

        QTest::newRow("missing folder") << u"missing/Kavendo.dbf"_s << u"不存在"_s;
        QTest::newRow("library is a folder") << u"Kavendo.dbf"_s << u"文件夹"_s;
    }

    void failuresNameTheFileAndKeepTheOldOne()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const QString full = m_folder.filePath(path);
        if (path == u"Kavendo.dbf"_s) {
            QVERIFY(QDir(m_folder.path()).mkdir(path));
            writeAll(full + u"/inside"_s, "kept");
        }
        const QStringList before = entriesOf(m_folder.path());

        const LibraryError saved = rewriteLibrary(full, {PoemRecord(), poem(u"new"_s)});
        QVERIFY(saved);
        QVERIFY2(saved->startsWith(u"无法保存诗词库："_s), qPrintable(*saved));
        QVERIFY2(saved->contains(QDir::toNativeSeparators(full)) && saved->contains(reason),
                 qPrintable(*saved));

        const LoadedLibrary loaded = loadLibrary(full);
        QVERIFY(loaded.error);
        QVERIFY2(loaded.error->contains(full) && loaded.error->contains(reason),
                 qPrintable(*loaded.error));
        QCOMPARE(loaded.Poems.size(), 1u);

        QCOMPARE(entriesOf(m_folder.path()), before);
        if (path == u"Kavendo.dbf"_s)
            QCOMPARE(readAll(full + u"/inside"_s), QByteArray("kept"));
    }
};

QTEST_GUILESS_MAIN(LibraryTest)
#include "tst_library.moc"
