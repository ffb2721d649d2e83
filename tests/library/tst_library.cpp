#include "LibraryFile.h"
#include "LibraryFixture.h"
#include "NativePath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using LibraryFixture::readFile;
using LibraryFixture::writeFile;

namespace {

// Fixture bytes are spelled out here, not produced by the code under test.
const QByteArray JingYeSi("\xBE\xB2\xD2\xB9\xCB\xBC");                   // 静夜思
const QByteArray ChuangQian("\xB4\xB2\xC7\xB0\xC3\xF7\xD4\xC2\xB9\xE2"); // 床前明月光
const QByteArray ChunMian(
    "\xB4\xBA\xC3\xDF\xB2\xBB\xBE\xF5\xCF\xFE\xB4\xA6\xB4\xA6\xCE\xC5"); // 春眠不觉晓处处闻

// One 88-byte record of the fields given as "title|line 1|...", each filled with spaces.
QByteArray record(const QByteArray &fields)
{
    QByteArray bytes;
    for (int i = 0; i < 5; ++i)
        bytes += fields.split('|').value(i).leftJustified(i == 0 ? 24 : 16, ' ');
    return bytes;
}

// The fields given as "title|line 1|...", at their width of 24 and 16 characters.
QStringList padded(const QString &fields)
{
    QStringList result;
    for (int i = 0; i < 5; ++i)
        result << fields.split(u'|').value(i).left(i ? 16 : 24).leftJustified(i ? 16 : 24, u' ');
    return result;
}

QStringList fieldsOf(const PoemRecord &poem)
{
    return {poem.Title(), poem.Lines(1), poem.Lines(2), poem.Lines(3), poem.Lines(4)};
}

} // namespace

class LibraryTest final : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_folder;
    QString m_path;

    QStringList entries() const
    {
        return QDir(m_folder->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        m_folder.emplace();
        QVERIFY(m_folder->isValid());
        m_path = LibraryFile(m_folder->path());
    }

    void recordsAreTheirBytes_data()
    {
        QTest::addColumn<QString>("written"); // empty: the bytes are only read
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("read"); // empty: what was written

        QTest::newRow("ascii and the euro sign")
            << u"  Moon|abc|de|5€|ghi"_s << QByteArray("  Moon|abc|de|5\x80|ghi") << QString();
        QTest::newRow("chinese, mixed and unencodable")
            << u"静夜思|1床前明月光|a😀b"_s << JingYeSi + "|1" + ChuangQian + "|a?b"
            << u"静夜思|1床前明月光|a?b"_s;
        // Kept whole in memory up to 24 and 16 characters, cut to 24 and 16 bytes on disk, where
        // a character that the cut would split becomes a space.
        QTest::newRow("too long for the file")
            << u"春眠不觉晓处处闻春眠不觉晓|a春眠不觉晓处处闻|春眠不觉晓处处闻|春眠不觉晓处处闻春眠不觉晓处处闻春"_s
            << ChunMian + ChunMian.first(8) + "|a" + ChunMian.first(14) + " |" + ChunMian + "|" +
                   ChunMian
            << u"春眠不觉晓处处闻春眠不觉|a春眠不觉晓处处|春眠不觉晓处处闻|春眠不觉晓处处闻"_s;
        QTest::newRow("bytes that form no character")
            << QString() << QByteArray("\xFFz\x80\xFF|\xBE\x7Fok")
            << u"\uFFFDz€\uFFFD|\uFFFD\x7Fok"_s;
        QTest::newRow("nul bytes, a character cut at the field's end")
            << QString() << QByteArray(23, '\0') + "\xBE|ab" + QByteArray("\0\0cd", 4)
            << QString(23, u' ') + u"\uFFFD|ab  cd"_s;
    }

    void recordsAreTheirBytes()
    {
        QFETCH(QString, written);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, read);
        if (written.isEmpty()) {
            writeFile(m_path, record(bytes));
        } else {
            PoemRecord poem;
            poem.setTitle(written.section(u'|', 0, 0));
            for (int i = 1; i <= 4; ++i)
                poem.setLines(i, written.section(u'|', i, i));
            QCOMPARE(fieldsOf(poem), padded(written));
            QVERIFY(!rewriteLibrary(m_path, {PoemRecord(), poem}));
            QCOMPARE(readFile(m_path), record(bytes));
        }

        const LoadedLibrary library = loadLibrary(m_path);
        QCOMPARE(library.Poems.size(), 2u);
        QCOMPARE(fieldsOf(library.Poems[1]), padded(read.isEmpty() ? written : read));
        QVERIFY(loadLibrary(m_path).Poems == library.Poems);
    }

    void trimRemovesOnlySpaces()
    {
        QCOMPARE(trimSpaces(u" \t静夜思\u3000  "), u"\t静夜思\u3000"_s);
    }

    void countsPoemsFromTheFileLength_data()
    {
        QTest::addColumn<int>("length"); // -1: no file
        QTest::addColumn<int>("count");

        QTest::newRow("missing file is created empty") << -1 << 0;
        QTest::newRow("part under half is ignored") << 2 * 88 + 43 << 2;
        QTest::newRow("half after an even count is ignored") << 2 * 88 + 44 << 2;
        QTest::newRow("half after an odd count is a poem") << 3 * 88 + 44 << 4;
        QTest::newRow("part over half is a poem") << 2 * 88 + 45 << 3;
    }

    void countsPoemsFromTheFileLength()
    {
        QFETCH(int, length);
        QFETCH(int, count);
        // Printable bytes that repeat every 89, so that no two records are alike.
        QByteArray bytes;
        for (int i = 0; i < length; ++i)
            bytes += char('!' + i % 89);
        if (length >= 0)
            writeFile(m_path, bytes);

        const LoadedLibrary library = loadLibrary(m_path);
        QVERIFY(!library.error);
        QCOMPARE(int(library.Poems.size()) - 1, count);
        // Poem n is the 88 bytes at (n - 1) × 88; what a counted part lacks reads as spaces.
        for (int n = 1; n <= count; ++n)
            QCOMPARE(fieldsOf(library.Poems[n]).join(QString()),
                     QString::fromLatin1(bytes.mid((n - 1) * 88, 88)).leftJustified(88, u' '));
        QCOMPARE(readFile(m_path), bytes); // loading never writes
    }

    void rewriteReplacesTheWholeFile()
    {
        writeFile(m_path, record("one") + record("two") + record("three"));
        std::vector<PoemRecord> Poems = loadLibrary(m_path).Poems;
        Poems.erase(Poems.begin() + 1);
        QVERIFY(!rewriteLibrary(m_path, Poems));
        QCOMPARE(readFile(m_path), record("two") + record("three"));
        QVERIFY(!rewriteLibrary(m_path, {PoemRecord()}));
        QCOMPARE(readFile(m_path), QByteArray());
        QCOMPARE(entries(), QStringList{u"Kavendo.dbf"_s}); // no temporary file is left
    }

    void failuresNameTheFileAndTheReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");

        QTest::newRow("missing folder") << u"missing/Kavendo.dbf"_s << u"文件或文件夹不存在"_s;
        QTest::newRow("library is a folder") << u"Kavendo.dbf"_s << u"这是一个文件夹，不是文件"_s;
    }

    void failuresNameTheFileAndTheReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QVERIFY(QDir(m_folder->path()).mkpath(u"Kavendo.dbf/kept"_s));
        const QString full = m_folder->filePath(path);

        QCOMPARE(rewriteLibrary(full, {PoemRecord(), PoemRecord()}).value_or(u"saved"_s),
                 u"无法保存诗词库：%1（%2）"_s.arg(full, reason));
        QCOMPARE(loadLibrary(full).error.value_or(u"loaded"_s),
                 u"无法打开诗词库：%1（%2）"_s.arg(full, reason));
        QCOMPARE(entries(), QStringList{u"Kavendo.dbf"_s});
        QVERIFY(QFileInfo(m_folder->filePath(u"Kavendo.dbf/kept"_s)).isDir());
    }

    // Folder names are bytes: one that an old copying tool left in code page 936, or that is no
    // UTF-8 at all, still holds the library that is read and written.
    void aFolderNamedInAnyBytesIsUsedAsItIs_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");

        QTest::newRow("古诗 in code page 936") << QByteArray("\xB9\xC5\xCA\xAB") << u"古诗"_s;
        QTest::newRow("古诗 in UTF-8") << u"古诗"_s.toUtf8() << u"古诗"_s;
        QTest::newRow("a character beyond 16 bits") << u"诗😀"_s.toUtf8() << u"诗😀"_s;
        QTest::newRow("bytes that are no character")
            << QByteArray("\xFF\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80\xE5\x8F") << QString();
    }

    void aFolderNamedInAnyBytesIsUsedAsItIs()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        const QByteArray folder = QFile::encodeName(m_folder->path()) + '/' + name;
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const QString path = LibraryFile(pathFromNative(folder));
        QCOMPARE(nativePath(path), folder + "/Kavendo.dbf");

        QVERIFY(!rewriteLibrary(path, {PoemRecord(), loadLibrary(path).Poems.at(0)}));
        QCOMPARE(loadLibrary(path).Poems.size(), 2u);
        struct stat status
        {
        };
        QCOMPARE(::stat((folder + "/Kavendo.dbf").constData(), &status), 0);
        QCOMPARE(status.st_size, 88);
        if (!shown.isNull())
            QCOMPARE(displayPath(path), m_folder->path() + u'/' + shown + u"/Kavendo.dbf"_s);
        // Nothing else was written, in the folder or beside it.
        QCOMPARE(::unlink((folder + "/Kavendo.dbf").constData()), 0);
        QCOMPARE(::rmdir(folder.constData()), 0);
        QCOMPARE(entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(LibraryTest)
#include "tst_library.moc"
