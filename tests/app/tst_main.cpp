#include "Main.h"

#include "Environment.h"
#include "FakeWaveDevice.h"
#include "Form1.h"
#include "GuiTest.h"
#include "frmSplash.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class MainTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splashClosesBeforeTheLibraryIsTouched()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        FakeDevices devices;
        QList<bool> libraryThere; // when the splash, then the main window, is up
        answerNextDialog<frmSplash>([&](frmSplash *splash) {
            libraryThere << QFile::exists(folder.filePath(u"Kavendo.dbf"_s));
            QTest::keyClick(splash->windowHandle(), Qt::Key_Space);
        });
        answerNextDialog<Form1>([&](Form1 *form) {
            libraryThere << QFile::exists(folder.filePath(u"Kavendo.dbf"_s));
            form->close();
        });
        Main(Environment{folder.path(), devices.factory()});
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
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
