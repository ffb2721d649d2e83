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
    void splashComesFirstAndTheLibraryIsReadAfterIt()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString library = folder.filePath(u"Kavendo.dbf"_s);
        FakeDevices devices;
        QStringList seen;

        answerNextDialog<frmSplash>([&](frmSplash *splash) {
            seen << (QFile::exists(library) ? u"splash after the library was read"_s : u"splash"_s);
            QTest::keyClick(splash->windowHandle(), Qt::Key_Space);
        });
        answerNextDialog<Form1>([&](Form1 *form) {
            seen << (QFile::exists(library) ? u"main window on the library"_s
                                            : u"main window without library"_s);
            form->close();
        });
        Main(Environment{folder.path(), devices.factory()});

        QCOMPARE(seen, QStringList({u"splash"_s, u"main window on the library"_s}));
        // Main has returned: no window of the program is left.
        const QWidgetList windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(),
                             [](QWidget *window) { return window->isVisible(); }));
    }
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
