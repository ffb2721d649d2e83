#include "Main.h"

#include "Environment.h"
#include "FakeWaveDevice.h"
#include "Form1.h"
#include "GuiTest.h"
#include "frmSplash.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
