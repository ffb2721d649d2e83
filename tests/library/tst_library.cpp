#include "AtomicWrite.h"
#include "CodePage936.h"
#include "LibraryFile.h"
#include "LibraryFixture.h"
#include "NativePath.h"
#include "SharedLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

// Generated files are reproducible: KAVENDO_SEED replays a failure.
const quint32 Seed = qEnvironmentVariable("KAVENDO_SEED", u"20261206"_s).toUInt();

const QByteArray ChunMian = gbk(u"春眠不觉晓处处闻"_s);

// The fields given as "title|line 1|..." at their width of 24 and 16 characters, or those of a
// poem.
QStringList padded(const QString &text)
{
    QStringList result;
    for (int i = 0; i < 5; ++i)
        result << text.section(u'|', i, i).left(i ? 16 : 24).leftJustified(i ? 16 : 24, u' ');
    return result;
}
QStringList fieldsOf(const PoemRecord &poem)
{
    return {poem.Title(), poem.Lines(1), poem.Lines(2), poem.Lines(3), poem.Lines(4)};
}

// Runs of any bytes, NUL, 0xFF, valid two-byte characters, lead bytes with no valid trail byte,
// and ASCII, so that invalid and cut characters fall everywhere, across field ends too.
QByteArray hostileBytes(QRandomGenerator &random, qsizetype length)
{
    // Each kind of run alternates between two ranges of bytes: lowest byte and size of each.
    static constexpr quint32 Kinds[][4] = {{0, 256, 0, 256},      {0, 1, 0, 1},
                                           {0xFF, 1, 0xFF, 1},    {0xA1, 0x5E, 0xB0, 0x40},
                                           {0, 0x40, 0x81, 0x7E}, {0x20, 0x5F, 0x20, 0x5F}};
    QByteArray bytes;
    while (bytes.size() < length) {
        const quint32 *kind = Kinds[random.bounded(6)];
        for (quint32 i = random.bounded(1u, 41u); i > 0; --i)
            bytes += char(kind[2 * (i % 2)] + random.bounded(kind[2 * (i % 2) + 1]));
    }
    return bytes.first(length);
}

} // namespace

class LibraryTest final : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_folder;
    QString m_path;
    const std::shared_ptr<const CodePage936> m_codePage = std::make_shared<const CodePage936>();

    QStringList entries() const
    {
        return QDir(m_folder->path())
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    std::vector<PoemRecord> load(const QString &path) const
    {
        return loadLibrary(path, m_codePage).Poems;
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
            << u"  Moon|abc|de|5€|ghi"_s << record("  Moon", "abc", "de", "5\x80", "ghi")
            << QString();
        QTest::newRow("chinese, mixed and unencodable")
            << u"静夜思|1床前明月光|a😀b"_s << record(gbk(u"静夜思"_s), gbk(u"1床前明月光"_s), "a?b")
            << u"静夜思|1床前明月光|a?b"_s;
        // Kept whole in memory up to 24 and 16 characters, cut to 24 and 16 bytes on disk, where
        // a character that the cut would split becomes a space.
        QTest::newRow("too long for the file")
            << u"春眠不觉晓处处闻春眠不觉晓|a春眠不觉晓处处闻|春眠不觉晓处处闻|春眠不觉晓处处闻春眠不觉晓处处闻春"_s
            << record(ChunMian + ChunMian.first(8), "a" + ChunMian.first(14) + " ", ChunMian,
                      ChunMian)
            << u"春眠不觉晓处处闻春眠不觉|a春眠不觉晓处处|春眠不觉晓处处闻|春眠不觉晓处处闻"_s;
        QTest::newRow("bytes that form no character")
            << QString() << record("\xFFz\x80\xFF", "\xBE\x7Fok")
            << u"\uFFFDz€\uFFFD|\uFFFD\x7Fok"_s;
        QTest::newRow("nul bytes, a character cut at the field's end")
            << QString() << record(QByteArray(23, '\0') + "\xBE", QByteArray("ab\0\0cd", 6))
            << QString(23, u' ') + u"\uFFFD|ab  cd"_s;
    }

    void recordsAreTheirBytes()
    {
        QFETCH(QString, written);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, read);
        if (written.isEmpty()) {
            writeFile(m_path, bytes);
        } else {
            PoemRecord poem(m_codePage);
            poem.setTitle(written.section(u'|', 0, 0));
            for (int i = 1; i <= 4; ++i)
                poem.setLines(i, written.section(u'|', i, i));
            QCOMPARE(fieldsOf(poem), padded(written));
            QVERIFY(!rewriteLibrary(m_path, {PoemRecord(), poem}));
            QCOMPARE(readFile(m_path), bytes);
        }
        const std::vector<PoemRecord> Poems = load(m_path);
        QCOMPARE(Poems.size(), 2u);
        QCOMPARE(fieldsOf(Poems[1]), padded(read.isEmpty() ? written : read));
    }

    // Whatever stands at the library's path, loading and rewriting it work or say at once what
    // it is; what is refused stays as it was, and nothing is created beside it or where a link
    // leads. A link to a library elsewhere stays a link; a rewritten file keeps its permissions,
    // and its owner when root rewrites another user's library.
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
        QTest::newRow("no converter for the code page")
            << u"no converter"_s
            << u"无法打开诗词库：<path>（系统缺少 GBK 编码的转换程序，读不出库中的中文）"_s
            << QString();
        QTest::newRow("a link to a library elsewhere") << u"link"_s << QString() << QString();
        QTest::newRow("readable by its owner only") << u"private"_s << QString() << QString();
        QTest::newRow("another user's, rewritten by root")
            << u"foreign"_s << QString() << QString();
        QTest::newRow("read-only") << u"read-only"_s << QString()
                                   << u"诗词库文件是只读的，不能改动：<path>\n"
                                      u"要改动诗词库，请先让它可以写入。"_s;
    }

    void whatIsNoLibraryIsRefused()
    {
        QFETCH(QString, what);
        QFETCH(QString, loadSays);
        QFETCH(QString, saveSays);
        const QString shared = m_folder->filePath(u"shared"_s);
        QVERIFY(QDir().mkpath(shared));
        const QString path = what == u"no folder"_s ? shared + u"/none/Kavendo.dbf"_s : m_path;
        const QByteArray native = nativePath(path);
        const bool aFile =
            QStringList{u"sparse"_s, u"no converter"_s, u"private"_s, u"foreign"_s, u"read-only"_s}
                .contains(what);
        if (what == u"link"_s || what == u"a link leading nowhere"_s)
            QVERIFY(QFile::link(shared + u"/Kavendo.dbf"_s, path));
        if (what == u"link"_s || aFile)
            writeFile(what == u"link"_s ? shared + u"/Kavendo.dbf"_s : path, record("one"));
        if (what == u"a folder"_s)
            QVERIFY(QDir().mkpath(path + u"/kept"_s));
        else if (what == u"a pipe"_s)
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        else if (what == u"a link to a device"_s)
            QVERIFY(QFile::link(u"/dev/zero"_s, path));
        else if (what == u"sparse"_s)
            QVERIFY(QFile::resize(path, 30LL << 30));
        else if (what == u"private"_s || what == u"read-only"_s || what == u"foreign"_s)
            QCOMPARE(::chmod(native.constData(), what == u"read-only"_s ? 0444 : 0640), 0);
        if (what == u"foreign"_s &&
            (::geteuid() != 0 || ::chown(native.constData(), 65534, 65534) != 0))
            QSKIP("Only root can give a file to another user.");
        const auto said = [&](QString text) {
            return text.replace(u"<path>"_s, path).replace(u"<folder>"_s, m_folder->path());
        };
        struct stat before = {}, after = {};
        const int found = ::lstat(native.constData(), &before);

        const auto codePage = what == u"no converter"_s
                                  ? std::make_shared<const CodePage936>("NO-SUCH-CODE-PAGE")
                                  : m_codePage;
        const LoadedLibrary loaded = loadLibrary(path, codePage);
        QCOMPARE(loaded.error.value_or(QString()), said(loadSays));
        QCOMPARE(loaded.Poems.size(), loadSays.isEmpty() ? 2u : 1u);
        const std::vector<PoemRecord> two{PoemRecord(),
                                          PoemRecord::fromRecord(record("two"), m_codePage)};
        QCOMPARE(rewriteLibrary(path, two).value_or(QString()), said(saveSays));

        QCOMPARE(::lstat(native.constData(), &after), found);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        if (!saveSays.isEmpty())
            QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        else
            QCOMPARE(readFile(path), record("two"));
        const QStringList inFolder{u"Kavendo.dbf"_s, u"shared"_s};
        QCOMPARE(entries(), what == u"no folder"_s ? inFolder.sliced(1) : inFolder);
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 what == u"link"_s ? QStringList{u"Kavendo.dbf"_s} : QStringList());
    }

    // Folder names are bytes: one that an old copying tool left in code page 936, or that is no
    // UTF-8 at all, still holds the library that is written and read, and messages name it.
    void aFolderNamedInAnyBytesIsUsedAsItIs_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("古诗 in code page 936") << gbk(u"古诗"_s) << u"古诗"_s;
        QTest::newRow("a character beyond 16 bits") << u"诗😀"_s.toUtf8() << u"诗😀"_s;
        QTest::newRow("bytes that are no character")
            << "\xFF\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80\xE5\x8F"_ba << QString(12, u'\uFFFD');
    }

    void aFolderNamedInAnyBytesIsUsedAsItIs()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        const QByteArray folder = nativePath(m_folder->path()) + '/' + name;
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const QString path = LibraryFile(pathFromNative(folder));
        QVERIFY(!rewriteLibrary(path, {PoemRecord(), PoemRecord()}));
        QCOMPARE(load(path).size(), 2u);
        struct stat status = {};
        QCOMPARE(::stat((folder + "/Kavendo.dbf").constData(), &status), 0);
        QCOMPARE(status.st_size, 88);
        QCOMPARE(displayPath(path), m_folder->path() + u'/' + shown + u"/Kavendo.dbf"_s);
    }

    // Any bytes load, as many poems as the length holds: whole records, and a part of more than
    // half a record or of half after an odd count, whose missing bytes read as spaces. What was
    // read is written back as it was, down to bytes that form no character.
    void hostileFilesLoadAndAreWrittenBackAsTheyWere()
    {
        QRandomGenerator random(Seed);
        QList<qsizetype> lengths{0,           2 * 88 + 43, 2 * 88 + 44,    3 * 88 + 44,
                                 2 * 88 + 45, 32767 * 88,  40000 * 88 + 44};
        for (int i = 0; i < 3000; ++i) // a third of them a few records and a part of one
            lengths << (i % 3 ? random.bounded(4000) : random.bounded(6) * 88 + random.bounded(88));
        for (const qsizetype length : lengths) {
            const QByteArray bytes = hostileBytes(random, length);
            const qsizetype whole = length / 88, part = length % 88;
            const qsizetype count = whole + (part > 44 || (part == 44 && whole % 2 == 1));
            // A new file each time: rewriting one in place makes the file system flush it.
            QFile::remove(m_path);
            writeFile(m_path, bytes);
            const LoadedLibrary loaded = loadLibrary(m_path, m_codePage);
            const QByteArray where = "length " + QByteArray::number(length);
            QVERIFY2(!loaded.error && qsizetype(loaded.Poems.size()) == count + 1, where);
            QVERIFY2(libraryRecords(loaded.Poems) == bytes.leftJustified(count * 88, ' ', true),
                     where);
        }
    }

    // Another program rewrites the library over and over, alternating between two libraries of
    // 32,767 poems, while this one loads it, until it is killed at a random moment of its first,
    // second or third rewrite; forty times. The writer tells when each rewrite is done, so where
    // a kill lands does not depend on how busy the computer is.
    void anotherProgramsRewriteIsSeenWholeAndSurvivesAKill()
    {
        QRandomGenerator random(Seed);
        const QByteArray bytes[] = {hostileBytes(random, 32767 * 88),
                                    hostileBytes(random, 32767 * 88)};
        const QStringList arguments{m_path, m_folder->filePath(u"first"_s),
                                    m_folder->filePath(u"second"_s)};
        writeFile(arguments[1], bytes[0]);
        writeFile(arguments[2], bytes[1]);
        writeFile(m_path, bytes[0]);
        QElapsedTimer oneRewrite;
        oneRewrite.start();
        QVERIFY(!rewriteLibrary(m_folder->filePath(u"timing"_s), load(arguments[2])));
        const auto rewriteMs = quint32(std::max<qint64>(5, oneRewrite.elapsed()));

        for (int kill = 0; kill < 40; ++kill) {
            QProcess writer;
            writer.start(QStringLiteral(LIBRARY_WRITER), arguments);
            const qint64 killAt = random.bounded(rewriteMs);
            QByteArray said; // "ready\n", then a dot per rewrite
            QElapsedTimer inRewrite;
            while (!inRewrite.isValid() || inRewrite.elapsed() < killAt) {
                if (writer.waitForReadyRead(1))
                    said += writer.readAllStandardOutput();
                QVERIFY2(writer.state() != QProcess::NotRunning, said.constData());
                if (!inRewrite.isValid() && said.startsWith("ready\n") &&
                    said.count('.') >= kill % 3)
                    inRewrite.start();
                const QByteArray loaded = libraryRecords(load(m_path));
                QVERIFY2(loaded == bytes[0] || loaded == bytes[1], "a load saw neither library");
            }
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            const QByteArray left = readFile(m_path);
            QVERIFY2(left == bytes[0] || left == bytes[1], "a kill left neither library");
        }
        // A rewrite's file has no name until it is complete and about to take the library's; a
        // kill in the moment between the two may leave one. Named from the start, it would be
        // left by nearly every kill.
        const QStringList leftovers = entries().filter(u".Kavendo.dbf."_s);
        QVERIFY2(leftovers.size() <= 4, qPrintable(leftovers.join(u' ')));
        // What a killed writer left behind does not hinder the next rewrite.
        QVERIFY(!rewriteLibrary(m_path, load(arguments[1])));
        QCOMPARE(readFile(m_path), bytes[0]);
    }

    // What a killed save left behind is removed when the program next starts: files named as
    // the program names its unfinished ones, for its own files only, unchanged for a minute.
    void leftoversOfKilledSavesAreRemoved()
    {
        const auto leave = [this](const QString &name, int ageSeconds) {
            QFile file(m_folder->filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("half") == 4 && file.flush());
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                     QFileDevice::FileModificationTime));
        };
        leave(u".Kavendo.dbf.a1B2c3"_s, 61);
        leave(u".Kavendo.dbf.XyZ789"_s, 5); // still being written
        leave(u".notes.txt.a1B2c3"_s, 3600);
        removeLibraryLeftovers(m_folder->path());
        QCOMPARE(entries(), (QStringList{u".Kavendo.dbf.XyZ789"_s, u".notes.txt.a1B2c3"_s}));
    }

    // A rewrite waits while another copy of the program holds the lock on the library's folder,
    // which it holds from its look at the file to the rename that replaces it.
    void aRewriteWaitsForTheFolderLock()
    {
        writeFile(m_path, record("one"));
        SharedLibrary library;
        const std::vector<PoemRecord> Poems = library.load(m_path, m_codePage).Poems;
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
};

QTEST_GUILESS_MAIN(LibraryTest)
#include "tst_library.moc"
