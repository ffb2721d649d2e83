#include "Main.h"

#include "ApplicationFolder.h"
#include "Form1.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "frmSplash.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
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
        // Beside the program, so that it can be linked there under another name.
        QTemporaryDir top(QFileInfo(QStringLiteral(KAVENDO_PROGRAM)).path() + u"/XXXXXX"_s);
        const QByteArray gbkFolder = QFile::encodeName(top.path()) + "/\xB9\xC5\xCA\xAB";
        const QByteArray program = gbkFolder + "/kavendo", library = gbkFolder + "/Kavendo.dbf";
        QCOMPARE(::mkdir(gbkFolder.constData(), 0700), 0);
        // QTemporaryDir cannot see a name that is no UTF-8, so the folder is emptied here.
        const auto removeFolder = qScopeGuard([&] {
            ::unlink(program.constData());
            ::unlink(library.constData());
            ::rmdir(gbkFolder.constData());
        });
        QCOMPARE(::link(KAVENDO_PROGRAM, program.constData()), 0);
        const bool rootHadLibrary = QFile::exists(u"/Kavendo.dbf"_s);

        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(QFile::encodeName(folder()).constData()) == 0) {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
                ::execl(program.constData(), program.constData(), nullptr);
            }
            ::_exit(127);
        }
        QElapsedTimer waited; // the library is opened after the three seconds of the splash
        waited.start();
        while (::access(library.constData(), F_OK) != 0 && waited.elapsed() < 20000)
            QTest::qWait(50);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        QCOMPARE(::access(library.constData(), F_OK), 0);
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
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
        const QString program = folder();
        QVERIFY(!installed || QDir().mkpath(temporaryPath(u"share/kavendo"_s)));
        if (holdsLibrary)
            writeFile(program + u"/Kavendo.dbf"_s, {});
        QCOMPARE(::chmod(QFile::encodeName(temporaryPath(u"."_s)).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), writable ? 0755 : 0555), 0);
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(program), 0755); });
        // Root may write any folder, so a folder that is not writable is asked about as a user.
        const passwd *nobody = ::getpwnam("nobody");
        const bool asNobody = !writable && ::geteuid() == 0 && nobody;
        QVERIFY(!asNobody || ::seteuid(nobody->pw_uid) == 0);
        const QString found = applicationFolder(program, u"/home/someone/.local/share"_s);
        QVERIFY(!asNobody || ::seteuid(0) == 0);
        QTEST(found == program, "beside");
        QVERIFY(found == program || found == u"/home/someone/.local/share/kavendo"_s);
    }

    // The demo goes only into a folder without a library, and never over a parent's recording.
    void theDemoIsPutOnlyWhereNoLibraryIs_data()
    {
        QTest::addColumn<QByteArray>("library");   // null: none
        QTest::addColumn<QByteArray>("recording"); // sound/静夜思.wav
        QTest::addColumn<QByteArray>("after");     // the library, 静夜思 and 春晓 after
        QTest::newRow("first start") << QByteArray() << QByteArray() << "demo|demo 静夜思|1"_ba;
        QTest::newRow("own recording, no library") << QByteArray() << "own"_ba
                                                   << "demo|own|1"_ba;
        QTest::newRow("own library") << "own"_ba << QByteArray() << "own|<unreadable>|0"_ba;
        QTest::newRow("own, emptied library") << ""_ba
                                              << "own"_ba
                                              << "|own|0"_ba;
    }

    void theDemoIsPutOnlyWhereNoLibraryIs()
    {
        QFETCH(QByteArray, library);
        QFETCH(QByteArray, recording);
        const QString demo = temporaryPath(u"demo"_s);
        QVERIFY(QDir().mkpath(demo + u"/sound"_s));
        writeFile(demo + u"/Kavendo.dbf"_s, "demo");
        writeFile(demo + u"/sound/静夜思.wav"_s, "demo 静夜思");
        writeFile(demo + u"/sound/春晓.wav"_s, "demo 春晓");
        if (!library.isNull())
            writeFile(folder() + u"/Kavendo.dbf"_s, library);
        if (!recording.isNull())
            writeFile(folder() + u"/sound/静夜思.wav"_s, recording);

        QCOMPARE(putDemoLibrary(demo, folder()), std::nullopt);
        QTEST(readFile(folder() + u"/Kavendo.dbf"_s) + '|' +
                  readFile(folder() + u"/sound/静夜思.wav"_s) + '|' +
                  QByteArray::number(QFile::exists(folder() + u"/sound/春晓.wav"_s)),
              "after");
    }

    void theUsersFolderIsCreatedOrTheParentIsToldWhy()
    {
        const QString created = temporaryPath(u"home/kavendo"_s);
        QCOMPARE(createUserFolder(created), std::nullopt);
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(created).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, S_IRWXU); // a folder for its user alone
        const QString blocked = folder() + u"/Kavendo.dbf/kavendo"_s;
        writeFile(folder() + u"/Kavendo.dbf"_s, {});
        QCOMPARE(createUserFolder(blocked),
                 u"无法创建存放诗词库的文件夹：%1（路径中有一项不是文件夹）"_s.arg(blocked));
    }
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
