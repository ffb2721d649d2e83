#include "Main.h"

#include "ApplicationFolder.h"
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
        m_onWindow = [&](QWidget *window) {
            libraryThere << QFile::exists(folder() + u"/Kavendo.dbf"_s);
            qobject_cast<frmSplash *>(window) ? m_clock->advance(3000) : (void)window->close();
        };
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

    void splashLook_data()
    {
        addLookColumns();
        // No title bar: the window draws its own dialog edge, three pixels around the client
        // area of 6345 × 3735.
        addLook("frmSplash", u""_s, {-1, -1, 6435, 3825}, u""_s, -1, u"on"_s);
        addLook("Frame1", u""_s, {105, 0, 6135, 3630}, u""_s, -1, u"on"_s);
        addLook("Picture1", u""_s, {420, 420, 810, 1575}, u""_s, 0, u"on"_s);
        addLook("lblCopyright", u"版权所有 © 2026"_s, {3255, 2415, 2415, 255}, u""_s, -1, u"on"_s);
        addLook("lblCompany", u"Kavendo工作室"_s, {3255, 2730, 2415, 255}, u""_s, -1, u"on"_s);
        addLook("lblWarning", u"本程序帮助儿童看诗、听诗，学习古诗。"_s, {105, 3240, 4350, 195},
                u""_s, -1, u"on"_s);
        addLook("lblVersion", u"版本 1.1.0"_s, {5040, 1980, 510, 240}, u"SimSun 12 bold"_s, -1,
                u"sized"_s);
        addLook("lblPlatform", u"应用于Win98/Win2000等操作系统"_s, {5040, 1680, 510, 240},
                u"SimSun 12 bold"_s, -1, u"sized"_s);
        addLook("lblProductName", u"Kavendo"_s, {1470, 780, 2430, 765}, u"SimSun 32.25 bold"_s, -1,
                u"sized"_s);
        addLook("lblCompanyProduct", u"Kavendo工作室"_s, {1575, 285, 3000, 435},
                u"SimSun 18 bold"_s, -1, u"sized"_s);
    }

    void splashLook()
    {
        frmSplash splash(m_environment.makeTimer);
        splash.show();
        verifyLook(&splash);
    }

    // The splash's three seconds count from when it appears, not from when it is made.
    void splashClosesThreeSecondsAfterItAppears()
    {
        frmSplash splash(m_environment.makeTimer);
        m_clock->advance(500);
        splash.show();
        m_clock->advance(2999);
        QVERIFY(splash.isVisible());
        m_clock->advance(1);
        QVERIFY(!splash.isVisible());
    }

    void onlyKeysThatTypeACharacterCloseTheSplash_data()
    {
        QTest::addColumn<int>("key");      // with the modifiers held
        QTest::addColumn<QString>("text"); // as X11 attaches it to the key
        QTest::addColumn<bool>("closes");

        QTest::newRow("letter") << int(Qt::Key_K) << u"k"_s << true;
        QTest::newRow("Enter, whatever its text") << int(Qt::Key_Return) << QString() << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << u"\x1b"_s << true;
        QTest::newRow("Ctrl+letter") << (Qt::CTRL | Qt::Key_K).toCombined() << u"\x0b"_s << true;
        QTest::newRow("Alt+letter") << (Qt::ALT | Qt::Key_K).toCombined() << u"k"_s << false;
        QTest::newRow("arrow") << int(Qt::Key_Left) << QString() << false;
        QTest::newRow("Shift alone") << int(Qt::Key_Shift) << QString() << false;
    }

    // The logo has the focus; the window sees the keys all the same.
    void onlyKeysThatTypeACharacterCloseTheSplash()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        frmSplash splash(m_environment.makeTimer);
        splash.show();
        QVERIFY(QTest::qWaitForWindowActive(&splash));
        const QKeyCombination pressed = QKeyCombination::fromCombined(key);
        QTest::sendKeyEvent(QTest::Press, splash.windowHandle(), pressed.key(), text,
                            pressed.keyboardModifiers());
        QTEST(!splash.isVisible(), "closes");
    }

    // Not a click on a label, on the logo, or on the strip outside the frame.
    void onlyAClickOnTheFrameClosesTheSplash()
    {
        frmSplash splash(m_environment.makeTimer);
        splash.show();
        QVERIFY(QTest::qWaitForWindowActive(&splash));
        auto *frame = splash.findChild<QWidget *>(u"Frame1"_s);
        const auto click = [&](QWidget *widget, QPoint where) {
            QTest::mouseClick(splash.windowHandle(), Qt::LeftButton, {},
                              widget->mapTo(&splash, where));
            return splash.isVisible();
        };
        for (QWidget *control : frame->findChildren<QWidget *>())
            QVERIFY2(click(control, control->rect().center()), qPrintable(control->objectName()));
        QVERIFY(click(frame->parentWidget(), QPoint(frame->x() / 2, frame->height() / 2)));
        QVERIFY(!click(frame, QPoint(frame->width() - 20, frame->height() / 2)));
    }
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
