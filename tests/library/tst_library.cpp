#include "AtomicWrite.h"
#include "LibraryFile.h"
#include "LibraryFixture.h"
#include "NativePath.h"
#include "SharedLibrary.h"
#include "SoundPath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

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
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
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

    // Whatever stands at the library's path, loading and rewriting it work or say at once what
    // it is; what is refused stays as it was, and nothing is created beside it or where a link
    // leads. A link to a library elsewhere stays a link.
    void whatIsNoLibraryIsRefused_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("loadSays"); // empty: it loads
        QTest::addColumn<QString>("saveSays"); // empty: it is rewritten

        const auto both = [](const QString &what, const QString &reason) {
            QTest::newRow(qPrintable(what)) << what << u"无法打开诗词库：<path>（%1）"_s.arg(reason)
                                            << u"无法保存诗词库：<path>（%1）"_s.arg(reason);
        };
        both(u"no folder"_s, u"文件或文件夹不存在"_s);
        both(u"a folder"_s, u"这是一个文件夹，不是文件"_s);
        both(u"a pipe"_s, u"这是一个管道，不是文件"_s);
        both(u"a link to a device"_s, u"这是一个设备，不是文件"_s);
        both(u"a link leading nowhere"_s,
             u"这是一个链接，它指向的“<folder>/shared/Kavendo.dbf”不存在"_s);
        QTest::newRow("a sparse file of 30 GB")
            << u"sparse"_s
            << u"无法打开诗词库：<path>（文件长 32,212,254,720 字节，超过了诗词库的上限 "
               u"88,000,000 字节（1,000,000 首诗），不像是诗词库）"_s
            << QString();
        QTest::newRow("a link to a library elsewhere") << u"link"_s << QString() << QString();
        QTest::newRow("read-only") << u"read-only"_s << QString()
                                   << u"诗词库文件是只读的，不能改动：<path>\n"
                                      u"要改动诗词库，请先让它可以写入。"_s;
        QTest::newRow("another user's, rewritten by root")
            << u"foreign"_s << QString() << QString();
    }

    void whatIsNoLibraryIsRefused()
    {
        QFETCH(QString, what);
        QFETCH(QString, loadSays);
        QFETCH(QString, saveSays);
        const QString shared = m_folder->filePath(u"shared"_s);
        QVERIFY(QDir().mkpath(shared));
        const QString path = what == u"no folder"_s ? shared + u"/none/Kavendo.dbf"_s : m_path;
        const QByteArray native = QFile::encodeName(path);
        if (what == u"link"_s || what == u"a link leading nowhere"_s)
            QVERIFY(QFile::link(shared + u"/Kavendo.dbf"_s, path));
        if (what == u"link"_s || what == u"sparse"_s || what == u"read-only"_s ||
            what == u"foreign"_s)
            writeFile(what == u"link"_s ? shared + u"/Kavendo.dbf"_s : path, record("one"));
        if (what == u"a folder"_s)
            QVERIFY(QDir().mkpath(path + u"/kept"_s));
        else if (what == u"a pipe"_s)
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        else if (what == u"a link to a device"_s)
            QVERIFY(QFile::link(u"/dev/zero"_s, path));
        else if (what == u"sparse"_s)
            QVERIFY(QFile::resize(path, 30LL << 30));
        else if (what == u"read-only"_s)
            QCOMPARE(::chmod(native.constData(), 0444), 0);
        else if (what == u"foreign"_s &&
                 (::geteuid() != 0 || ::chown(native.constData(), 65534, 65534) != 0))
            QSKIP("Only root can give a file to another user.");
        const auto said = [&](QString text) {
            return text.replace(u"<path>"_s, path).replace(u"<folder>"_s, m_folder->path());
        };
        struct stat before = {}, after = {};
        const int found = ::lstat(native.constData(), &before);

        const LoadedLibrary loaded = loadLibrary(path);
        QCOMPARE(loaded.error.value_or(QString()), said(loadSays));
        QCOMPARE(loaded.Poems.size(), loadSays.isEmpty() ? 2u : 1u);
        const std::vector<PoemRecord> two{PoemRecord(), PoemRecord::fromRecord(record("two"))};
        QCOMPARE(rewriteLibrary(path, two).value_or(QString()), said(saveSays));

        QCOMPARE(::lstat(native.constData(), &after), found);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        QCOMPARE(after.st_uid, before.st_uid);
        if (!saveSays.isEmpty())
            QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        else
            QCOMPARE(readFile(path), record("two"));
        const QStringList inFolder{u"Kavendo.dbf"_s, u"shared"_s};
        QCOMPARE(entries(), what == u"no folder"_s ? inFolder.sliced(1) : inFolder);
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 what == u"link"_s ? QStringList{u"Kavendo.dbf"_s} : QStringList());
    }

    // A rewrite waits while another copy of the program holds the lock on the library's folder,
    // which it holds from its look at the file to the rename that replaces it.
    void aRewriteWaitsForTheFolderLock()
    {
        writeFile(m_path, record("one"));
        SharedLibrary library;
        std::vector<PoemRecord> Poems;
        QVERIFY(!library.load(m_path, Poems));
        std::optional<FolderLock> held(std::in_place, m_path);
        std::atomic<bool> saved = false;
        std::thread saving([&] { saved = !library.save(Poems, 1).error; });
        QTest::qWait(200);
        const bool savedWhileHeld = saved;
        held.reset();
        saving.join();
        QVERIFY(!savedWhileHeld && saved);
        QCOMPARE(readFile(m_path), QByteArray());
    }

    // What a killed save left behind is removed when the program next starts: files named as
    // the program names its unfinished ones, for its own files only, unchanged for a minute.
    void leftoversOfKilledSavesAreRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("age"); // seconds since it last changed
        QTest::addColumn<bool>("removed");
        QTest::newRow("the library's") << u".Kavendo.dbf.a1B2c3"_s << 61 << true;
        QTest::newRow("still being written") << u".Kavendo.dbf.a1B2c3"_s << 5 << false;
        QTest::newRow("a recording's") << u"sound/.静夜思.wav.XyZ789"_s << 3600 << true;
        QTest::newRow("another file's") << u".notes.txt.a1B2c3"_s << 3600 << false;
        QTest::newRow("in the sound folder") << u"sound/.notes.txt.a1B2c3"_s << 3600 << false;
    }

    void leftoversOfKilledSavesAreRemoved()
    {
        QFETCH(QString, name);
        QFETCH(int, age);
        QFETCH(bool, removed);
        QVERIFY(QDir(m_folder->path()).mkpath(u"sound"_s));
        QFile file(m_folder->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("half") == 4 && file.flush());
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                 QFileDevice::FileModificationTime));
        file.close();
        removeLibraryLeftovers(m_folder->path());
        removeRecordingLeftovers(m_folder->path());
        QCOMPARE(!file.exists(), removed);
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
