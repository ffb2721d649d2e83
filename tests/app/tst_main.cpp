#include "ApplicationFolder.h"

#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "frmSplash.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>

#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

QRect pixels(QRect twips)
{
    const auto px = [](int value) { return qRound(value / 15.0); };
    return {px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())};
}

QString captionOf(const QWidget *control)
{
    const QVariant text = control->property("text"), title = control->property("title");
    const QString name = control->accessibleName(); // what a screen reader says for it
    return (text.isValid()    ? text.toString()
            : title.isValid() ? title.toString()
                              : control->toolTip()) +
           (name.isEmpty() ? u""_s : u'@' + name);
}

QString fontOf(const QWidget *control)
{
    const QFont font = control->font();
    if (font == control->window()->font())
        return {};
    return u"%1 %2%3"_s.arg(font.family())
        .arg(font.pointSizeF())
        .arg(font.bold() ? u" bold"_s : u""_s);
}

// The controls that Tab visits, in order; a control may take the focus in a part of it.
int tabPosition(QWidget *window, const QWidget *control)
{
    const auto holdsControls = [window](const QWidget *widget) {
        const QMetaObject *type = widget->metaObject();
        return widget == window || type == &QWidget::staticMetaObject ||
               type == &QFrame::staticMetaObject || type == &QGroupBox::staticMetaObject;
    };
    QList<const QWidget *> order;
    for (QWidget *part = window->nextInFocusChain(); part != window;
         part = part->nextInFocusChain()) {
        if (!(part->focusPolicy() & Qt::TabFocus) || !part->isVisibleTo(window))
            continue;
        const QWidget *visited = part;
        while (!holdsControls(visited->parentWidget()))
            visited = visited->parentWidget();
        if (order.isEmpty() || order.last() != visited)
            order << visited;
    }
    return int(order.indexOf(control));
}

void verifyWindow(QWidget *window, const QString &title, QRect designed, bool centred)
{
    QCOMPARE(window->size(), designed.size());
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    if (centred) {
        const QPoint offCentre =
            window->frameGeometry().center() - window->screen()->geometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 1, "not centred on the screen");
        QVERIFY(flags.testFlags(Qt::FramelessWindowHint | Qt::Tool));
    } else {
        QCOMPARE(window->pos(), designed.topLeft());
        const Qt::WindowFlags titleBar = Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        QCOMPARE(flags & (Qt::CustomizeWindowHint | titleBar | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowContextHelpButtonHint),
                 Qt::CustomizeWindowHint | titleBar);
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY2(window->isVisible(), "closed by Escape");
    }
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(tabPosition(window, window->focusWidget()), 0);
    for (const QPushButton *button : window->findChildren<QPushButton *>())
        QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
}

// Checks the current row of designedLook against window, shown. A window's row also checks
// that only its close box is in its title bar, that its size is fixed, that Escape does not
// close it, that the first control Tab visits has the focus, and that Enter presses no button
// behind the user's back.
void verifyLook(QWidget *window)
{
    QFETCH(QString, look);
    const QStringList part = look.split(u'|');
    const QStringList twips = part[1].split(u' ');
    const QRect designed =
        pixels({twips[0].toInt(), twips[1].toInt(), twips[2].toInt(), twips[3].toInt()});
    const QString name = QString::fromLatin1(QTest::currentDataTag()).section(u' ', -1);
    if (name == window->objectName())
        return verifyWindow(window, part[0], designed, twips[0].toInt() < 0);

    auto *control = window->findChild<QWidget *>(name);
    QVERIFY2(control, "no such control");
    QCOMPARE(captionOf(control), part[0]);
    const QString state = part.value(4, u"on"_s);
    if (state == u"sized"_s) {
        QCOMPARE(control->size(), control->sizeHint());
        const bool right = qobject_cast<QLabel *>(control)->alignment() & Qt::AlignRight;
        QCOMPARE(right ? control->geometry().topRight() : control->pos(),
                 right ? designed.topRight() : designed.topLeft());
    } else {
        QCOMPARE(control->geometry(), designed);
    }
    QCOMPARE(fontOf(control), part.value(2));
    QCOMPARE(tabPosition(window, control), part.value(3, u"-1"_s).toInt());
    const QString shown = !control->isVisibleTo(window) ? u"hidden"_s
                          : control->isEnabled()        ? u"on"_s
                                                        : u"off"_s;
    QCOMPARE(shown, state == u"sized"_s ? u"on"_s : state);
}

} // namespace

class MainTest final : public GuiTest
{
    Q_OBJECT

private Q_SLOTS:
    // Copied by an old tool into a folder named in code page 936 bytes (古诗), the program still
    // opens its library there, and not in the working folder.
    void theProgramFindsItsFolderWhateverItsName()
    {
        // Beside the program, so that it can be linked there under another name.
        QTemporaryDir top(QFileInfo(QStringLiteral(KAVENDO_PROGRAM)).path() + u"/XXXXXX"_s);
        const QByteArray gbkFolder = QFile::encodeName(top.path()) + "/\xB9\xC5\xCA\xAB";
        const QByteArray program = gbkFolder + "/kavendo", library = gbkFolder + "/Kavendo.dbf";
        QCOMPARE(::mkdir(gbkFolder.constData(), 0700), 0);
        // QTemporaryDir cannot see a name that is no UTF-8, so the folder is removed here.
        const auto removeFolder =
            qScopeGuard([&] { std::filesystem::remove_all(gbkFolder.toStdString()); });
        QCOMPARE(::link(KAVENDO_PROGRAM, program.constData()), 0);
        // Started through a link of another name, it still sees where it is.
        const QString start = top.filePath(u"start"_s);
        QCOMPARE(::symlink(program.constData(), QFile::encodeName(start).constData()), 0);
        QProcess child;
        child.setWorkingDirectory(folder());
        child.start(start);
        // The library is opened once the splash has been up for three seconds.
        QTRY_VERIFY_WITH_TIMEOUT(::access(library.constData(), F_OK) == 0, 20000);
        child.kill();
        child.waitForFinished();
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    }

    void theLibraryLivesBesideTheProgramOrInTheUsersFolder_data()
    {
        // What the program's folder holds and allows ("installed": share/kavendo beside it); where
        // the library is then, and what it and the recordings of 静夜思 and 春晓 hold. The demo
        // goes only into a folder without a library, and never over a parent's recording.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("after");
        const QByteArray demo = "demo|demo 静夜思|1", own = "own|<unreadable>|0";
        QTest::newRow("first start") << u"writable"_s << "beside: " + demo;
        QTest::newRow("own recording") << u"writable, recording"_s << "beside: demo|own|1"_ba;
        QTest::newRow("own library") << u"writable, library"_s << "beside: " + own;
        QTest::newRow("own, emptied library")
            << u"writable, emptied library, recording"_s << "beside: |own|0"_ba;
        QTest::newRow("library on a read-only stick") << u"library"_s << "beside: " + own;
        QTest::newRow("read-only folder") << u""_s << "user's: " + demo;
        // Root may write /usr/bin; the library still goes to root's own folder.
        QTest::newRow("installed") << u"writable, installed"_s << "user's: " + demo;
        QTest::newRow("installed, library put beside")
            << u"writable, installed, library"_s << "beside: " + own;
    }

    void theLibraryLivesBesideTheProgramOrInTheUsersFolder()
    {
        QFETCH(QString, setup);
        const QString program = folder(), demo = temporaryPath(u"demo"_s);
        const bool writable = setup.contains(u"writable"_s);
        QVERIFY(!setup.contains(u"installed"_s) ||
                QDir().mkpath(temporaryPath(u"share/kavendo"_s)));
        QVERIFY(QDir().mkpath(demo + u"/sound"_s));
        writeFile(demo + u"/Kavendo.dbf"_s, "demo");
        writeFile(demo + u"/sound/静夜思.wav"_s, "demo 静夜思");
        writeFile(demo + u"/sound/春晓.wav"_s, "demo 春晓");
        if (setup.contains(u"library"_s))
            writeFile(program + u"/Kavendo.dbf"_s, setup.contains(u"emptied"_s) ? "" : "own");
        if (setup.contains(u"recording"_s))
            writeFile(program + u"/sound/静夜思.wav"_s, "own");
        QCOMPARE(::chmod(QFile::encodeName(temporaryPath(u"."_s)).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), writable ? 0755 : 0555), 0);
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(program), 0755); });
        // Root may write any folder, so a folder that is not writable is asked about as a user.
        const passwd *nobody = ::getpwnam("nobody");
        const bool asNobody = !writable && ::geteuid() == 0 && nobody;
        QVERIFY(!asNobody || ::seteuid(nobody->pw_uid) == 0);
        const QString found = applicationFolder(program, temporaryPath(u"home"_s));
        QVERIFY(!asNobody || ::seteuid(0) == 0);
        QVERIFY(found == program || found == temporaryPath(u"home/kavendo"_s));
        QVERIFY(found == program || !createUserFolder(found));
        // The parent's poems are theirs alone.
        QVERIFY(found == program ||
                !QFileInfo(found).permissions().testAnyFlags(QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(putDemoLibrary(demo, found), std::nullopt);
        QTEST(QByteArray(found == program ? "beside: " : "user's: ") +
                  readFile(found + u"/Kavendo.dbf"_s) + '|' +
                  readFile(found + u"/sound/静夜思.wav"_s) + '|' +
                  QByteArray::number(QFile::exists(found + u"/sound/春晓.wav"_s)),
              "after");
    }

    void designedLook_data()
    {
        // A window's title and place (in twips; -1 -1: centred), then per control: its caption
        // (else tool tip; @ a screen reader's name), place, font if not the window's, Tab position
        // (none: -1), state at start: "on" (if missing), "off", "hidden", "sized" to its text.
        QTest::addColumn<QString>("look");
        // No title bar: the window draws its own dialog edge, three pixels around the client
        // area of 6345 × 3735.
        QTest::newRow("frmSplash") << u"|-1 -1 6435 3825"_s;
        QTest::newRow("frmSplash Frame1") << u"|105 0 6135 3630"_s;
        QTest::newRow("frmSplash Picture1") << u"|420 420 810 1575||0"_s;
        QTest::newRow("frmSplash lblCopyright") << u"版权所有 © 2026|3255 2415 2415 255"_s;
        QTest::newRow("frmSplash lblCompany") << u"Kavendo工作室|3255 2730 2415 255"_s;
        QTest::newRow("frmSplash lblWarning")
            << u"本程序帮助儿童看诗、听诗，学习古诗。|105 3240 4350 195"_s;
        QTest::newRow("frmSplash lblVersion")
            << u"版本 1.1.0|5040 1980 510 240|SimSun 12 bold|-1|sized"_s;
        QTest::newRow("frmSplash lblPlatform")
            << u"应用于Win98/Win2000等操作系统|5040 1680 510 240|SimSun 12 bold|-1|sized"_s;
        QTest::newRow("frmSplash lblProductName")
            << u"Kavendo|1470 780 2430 765|SimSun 32.25 bold|-1|sized"_s;
        QTest::newRow("frmSplash lblCompanyProduct")
            << u"Kavendo工作室|1575 285 3000 435|SimSun 18 bold|-1|sized"_s;
        QTest::newRow("Form1") << u"Kavendo|270 1425 11640 5430"_s;
        QTest::newRow("Form1 Label1")
            << u"静夜思\n床前明月光\n\n\n|2730 105 6630 5160|SimSun 39.75"_s;
        QTest::newRow("Form1 Command1_0") << u"朗读|9555 105 2010 435||0"_s;
        QTest::newRow("Form1 Command1_1") << u"下一首|9555 525 2010 435||1"_s;
        QTest::newRow("Form1 Command1_2") << u"上一首|9555 945 2010 435||2|off"_s;
        QTest::newRow("Form1 Command1_3") << u"帮助|9555 1365 2010 435||3"_s;
        QTest::newRow("Form1 Command1_4") << u"系统维护|9555 1785 2010 435||4"_s;
        // 跟读 is ours: the next place in the column of buttons.
        QTest::newRow("Form1 Command3") << u"跟读|9555 2205 2010 435||5"_s;
        // The counters are wider than designed (1170), so that 共32767首 fits.
        QTest::newRow("Form1 Label2_0") << u"共3首|9660 2940 1350 330|SimSun 14.25"_s;
        QTest::newRow("Form1 Label2_1") << u"第1首|9660 3360 1350 330|SimSun 14.25"_s;
        QTest::newRow("Form1 Label5") << u"版本：1.1.0|9870 3990 1170 225"_s;
        QTest::newRow("Form1 Label4") << u"古诗跟我读|9870 4515 1485 330|SimSun 12"_s;
        QTest::newRow("Form1 Label3") << u"双击目录可切换诗词|9450 4935 2010 330"_s;
        QTest::newRow("Form1 MMControl1") << u"|11025 2940 420 645||-1|hidden"_s;
        QTest::newRow("Form1 Frame1") << u"诗词目录|105 105 2535 5160"_s;
        QTest::newRow("Form1 List1") << u"鼠标双击切换|105 315 2325 4140|SimSun 12|6"_s;
        QTest::newRow("Form1 Command2") << u"连续朗读|105 4620 2325 435||7"_s;
        QTest::newRow("Form1 Text1") << u"Text1|1785 0 435 270||-1|hidden"_s;
        QTest::newRow("Form3") << u"连续播放|10080 5595 1350 675"_s;
        QTest::newRow("Form3 Command1") << u"停止朗读|105 105 1170 435||0"_s;
        QTest::newRow("Form3 Label1") << u"Label1|420 105 435 435||-1|hidden"_s;
        QTest::newRow("Form3 MMControl1") << u"|315 105 420 330||-1|hidden"_s;
        QTest::newRow("Form2") << u"Kavendo——系统维护|3315 2310 5985 4320"_s;
        QTest::newRow("Form2 Frame1") << u"诗词目录|105 105 2220 4110"_s;
        QTest::newRow("Form2 List1") << u"|105 315 2010 3660|SimSun 12|0"_s;
        QTest::newRow("Form2 Frame2") << u"维护操作|2415 105 3480 4110"_s;
        QTest::newRow("Form2 Frame3") << u"新诗词录入|105 315 3270 2850"_s;
        QTest::newRow("Form2 Label1") << u"诗名：|105 315 645 225"_s;
        QTest::newRow("Form2 Label2") << u"第一句：|105 630 855 330"_s;
        QTest::newRow("Form2 Label3") << u"第二句：|105 945 750 330"_s;
        QTest::newRow("Form2 Label4") << u"第三句：|105 1260 750 435"_s;
        QTest::newRow("Form2 Label5") << u"第四句：|105 1575 750 330"_s;
        QTest::newRow("Form2 Command1") << u"录入确认|105 1890 3060 435||1|off"_s;
        // Besides Stop and Record the recorder has ▶, and shows the poem or the take's level.
        QTest::newRow("Form2 MMControl1") << u"左边停止录音，右边开始录音|105 2310 3060 435||2"_s;
        QTest::newRow("Form2 Command2") << u"删除已存诗词|105 3360 1380 540||3|off"_s;
        QTest::newRow("Form2 Command3") << u"帮助|1470 3360 960 540||4"_s;
        QTest::newRow("Form2 Command4") << u"返回|2415 3360 960 540||5"_s;
        QTest::newRow("Form2 Text1") << u"@诗名|840 210 2325 270||6"_s;
        QTest::newRow("Form2 Text2_0") << u"@第一句|840 525 2325 270||7"_s;
        QTest::newRow("Form2 Text2_1") << u"@第二句|840 840 2325 270||8"_s;
        QTest::newRow("Form2 Text2_2") << u"@第三句|840 1155 2325 270||9"_s;
        QTest::newRow("Form2 Text2_3") << u"@第四句|840 1470 2325 270||10"_s;
        QTest::newRow("Form2 Text3") << u"Text3|3675 0 330 270||-1|hidden"_s;
    }

    // The main window shows poem 1 of three in white characters on a teal panel.
    void designedLook()
    {
        const QString window = QString::fromLatin1(QTest::currentDataTag()).section(u' ', 0, 0);
        writeLibrary(folder(),
                     poem(u"静夜思"_s, {u"床前明月光"_s}) + poem(u"春晓"_s) + poem(u"登鹳雀楼"_s));
        bool LxLdBz = false;
        std::unique_ptr<QWidget> shown;
        if (window == u"frmSplash"_s)
            shown = std::make_unique<frmSplash>(m_environment.makeTimer);
        else if (window == u"Form1"_s)
            shown = std::make_unique<Form1>(m_environment);
        else if (window == u"Form2"_s)
            shown = std::make_unique<Form2>(m_environment, [] {});
        else
            shown = std::make_unique<Form3>(m_environment, LxLdBz);
        shown->show();
        QVERIFY(QTest::qWaitForWindowActive(shown.get()));
        verifyLook(shown.get());
        if (window == u"Form1"_s) {
            const QPalette display = shown->findChild<QLabel *>(u"Label1"_s)->palette();
            QCOMPARE(display.color(QPalette::Window), QColor(0, 128, 128));
            QCOMPARE(display.color(QPalette::WindowText), QColor(Qt::white));
        }
    }

    void theSplashClosesAfterThreeSecondsOrWhenTheUserWants_data()
    {
        // "key" with its text (and "alt" held), or "click" on a part.
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("closes");
        QTest::newRow("three seconds after it appears") << u""_s << true;
        QTest::newRow("letter") << u"key k"_s << true;
        QTest::newRow("Alt+letter") << u"key k alt"_s << false;
        QTest::newRow("click on the frame") << u"click Frame1"_s << true;
        QTest::newRow("click on a label") << u"click lblVersion"_s << false;
    }

    // Only a key that types a character, or a click on the frame. The three seconds count from
    // when it appears, not from when it is made.
    void theSplashClosesAfterThreeSecondsOrWhenTheUserWants()
    {
        QFETCH(QString, input);
        const QStringList part = input.split(u' ');
        frmSplash splash(m_environment.makeTimer);
        m_clock->advance(500);
        splash.show();
        QVERIFY(QTest::qWaitForWindowActive(&splash));
        if (input.isEmpty()) {
            m_clock->advance(2999);
            QVERIFY(splash.isVisible());
            m_clock->advance(1);
        } else if (part[0] == u"click"_s) {
            QTest::mouseClick(splash.findChild<QWidget *>(part[1]), Qt::LeftButton, {}, {2, 2});
        } else {
            QTest::sendKeyEvent(QTest::Press, splash.windowHandle(), Qt::Key_K, part[1],
                                part.size() > 2 ? Qt::AltModifier : Qt::NoModifier);
        }
        QTEST(!splash.isVisible(), "closes");
    }
};

QTEST_MAIN(MainTest)
#include "tst_main.moc"
