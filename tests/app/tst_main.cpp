#include "Main.h"

#include "ApplicationFolder.h"
#include "Environment.h"
#include "Form1.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "frmSplash.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using LibraryFixture::readFile;
using LibraryFixture::writeFile;

class MainTest final : public GuiTest
{
    Q_OBJECT

private Q_SLOTS:
    void splashClosesBeforeTheLibraryIsTouched()
    {
        QList<bool> libraryThere; // when the splash, then the main window, is up
        const auto look = [&] { libraryThere << QFile::exists(folder() + u"/Kavendo.dbf"_s); };
        answerNextDialog<frmSplash>([&](frmSplash *) {
            look();
            m_clock->advance(3000);
        });
        answerNextDialog<Form1>([&](Form1 *form) {
            look();
            form->close();
        });
        Main(m_environment);
        QCOMPARE(libraryThere, (QList<bool>{false, true}));
    }

    // Copied by an old tool into a folder named in code page 936 bytes (古诗), the program still
    // opens its library there, and nowhere else: not at the root, not in the working folder.
    void theProgramFindsItsFolderWhateverItsName()
    {
        QTemporaryDir top;
        QTemporaryDir elsewhere;
        QVERIFY(top.isValid() && elsewhere.isValid());
        const QByteArray folder = QFile::encodeName(top.path()) + "/\xB9\xC5\xCA\xAB";
        const QByteArray program = folder + "/kavendo";
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        // QTemporaryDir cannot see a name that is no UTF-8, so the folder is emptied here.
        const auto removeFolder = qScopeGuard([&] {
            for (const QByteArray &file : {program, folder + "/Kavendo.dbf"})
                ::unlink(file.constData());
            ::rmdir(folder.constData());
        });
        QFile original(QStringLiteral(KAVENDO_PROGRAM));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();
        const int out = ::open(program.constData(), O_WRONLY | O_CREAT | O_EXCL, 0700);
        QVERIFY(out >= 0);
        QCOMPARE(::write(out, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(out);
        const bool rootHadLibrary = QFile::exists(u"/Kavendo.dbf"_s);

        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(QFile::encodeName(elsewhere.path()).constData()) == 0) {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
                ::execl(program.constData(), program.constData(), nullptr);
            }
            ::_exit(127);
        }
        QVERIFY(child > 0);
        struct stat status
        {
        };
        const QByteArray library = folder + "/Kavendo.dbf";
        QElapsedTimer waited; // the library is opened after the three seconds of the splash
        waited.start();
        while (::stat(library.constData(), &status) != 0 && waited.elapsed() < 20000)
            QTest::qWait(50);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        QCOMPARE(::stat(library.constData(), &status), 0);
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(rootHadLibrary || !QFile::exists(u"/Kavendo.dbf"_s));
    }

    void theLibraryLivesBesideTheProgramOrInTheUsersFolder_data()
    {
        QTest::addColumn<bool>("holdsLibrary");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("installed"); // share/kavendo beside the program's folder
        QTest::addColumn<bool>("beside");
        QTest::newRow("portable folder") << true << true << false << true;
        QTest::newRow("library on a read-only stick") << true << false << false << true;
        QTest::newRow("new portable folder") << false << true << false << true;
        QTest::newRow("read-only folder") << false << false << false << false;
        // Root may write /usr/bin; the library still goes to root's own folder.
        QTest::newRow("installed") << false << true << true << false;
        QTest::newRow("installed, library put beside") << true << true << true << true;
    }

    void theLibraryLivesBesideTheProgramOrInTheUsersFolder()
    {
        QFETCH(bool, holdsLibrary);
        QFETCH(bool, writable);
        QFETCH(bool, installed);
        QFETCH(bool, beside);
        QTemporaryDir top;
        const QString program = top.filePath(u"bin"_s);
        QVERIFY(QDir(top.path()).mkpath(u"bin"_s));
        QVERIFY(!installed || QDir(top.path()).mkpath(u"share/kavendo"_s));
        if (holdsLibrary)
            writeFile(program + u"/Kavendo.dbf"_s, {});
        QCOMPARE(::chmod(QFile::encodeName(top.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), writable ? 0755 : 0555), 0);
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(program), 0755); });

        // Root may write any folder, so a folder that is not writable is asked about as a user.
        const passwd *nobody = ::getpwnam("nobody");
        const bool asNobody = !writable && ::geteuid() == 0 && nobody;
        QVERIFY(!asNobody || ::seteuid(nobody->pw_uid) == 0);
        const QString folder = applicationFolder(program, u"/home/someone/.local/share"_s);
        QVERIFY(!asNobody || ::seteuid(0) == 0);
        QCOMPARE(folder, beside ? program : u"/home/someone/.local/share/kavendo"_s);
    }

    // The demo goes only into a folder without a library, and never over a parent's recording.
    void theDemoIsPutOnlyWhereNoLibraryIs_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QByteArray>("recording"); // sound/静夜思.wav
        QTest::addColumn<QByteArray>("libraryAfter");
        QTest::addColumn<QByteArray>("recordingAfter");
        QTest::addColumn<bool>("otherRecordingPut");
        QTest::newRow("first start") << QByteArray() << QByteArray() << "demo library"_ba
                                     << "demo 静夜思"_ba << true;
        QTest::newRow("own recording, no library") << QByteArray() << "own 静夜思"_ba
                                                   << "demo library"_ba
                                                   << "own 静夜思"_ba << true;
        QTest::newRow("own library") << "own library"_ba << QByteArray() << "own library"_ba
                                     << "<unreadable>"_ba << false;
        QTest::newRow("own, emptied library") << ""_ba
                                              << "own 静夜思"_ba
                                              << ""_ba
                                              << "own 静夜思"_ba << false;
    }

    void theDemoIsPutOnlyWhereNoLibraryIs()
    {
        QFETCH(QByteArray, library);
        QFETCH(QByteArray, recording);
        QTemporaryDir demo;
        QTemporaryDir folder;
        QVERIFY(QDir(demo.path()).mkpath(u"sound"_s));
        writeFile(demo.filePath(u"Kavendo.dbf"_s), "demo library");
        writeFile(demo.filePath(u"sound/静夜思.wav"_s), "demo 静夜思");
        writeFile(demo.filePath(u"sound/春晓.wav"_s), "demo 春晓");
        if (!library.isNull())
            writeFile(folder.filePath(u"Kavendo.dbf"_s), library);
        if (!recording.isNull()) {
            QVERIFY(QDir(folder.path()).mkpath(u"sound"_s));
            writeFile(folder.filePath(u"sound/静夜思.wav"_s), recording);
        }

        QCOMPARE(putDemoLibrary(demo.path(), folder.path()), std::nullopt);
        QTEST(readFile(folder.filePath(u"Kavendo.dbf"_s)), "libraryAfter");
        QTEST(readFile(folder.filePath(u"sound/静夜思.wav"_s)), "recordingAfter");
        QTEST(QFile::exists(folder.filePath(u"sound/春晓.wav"_s)), "otherRecordingPut");
    }

    void theUsersFolderIsCreatedOrTheParentIsToldWhy()
    {
        QTemporaryDir home;
        const QString folder = home.filePath(u"data/kavendo"_s);
        QCOMPARE(createUserFolder(folder), std::nullopt);
        struct stat status
        {
        };
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, S_IRWXU); // a directory for its user alone

        writeFile(home.filePath(u"file"_s), {});
        QCOMPARE(createUserFolder(home.filePath(u"file/kavendo"_s)),
                 u"无法创建存放诗词库的文件夹：%1（路径中有一项不是文件夹）"_s.arg(
                     home.filePath(u"file/kavendo"_s)));
    }
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
