#include "frmSplash.h"

#include "GuiTest.h"

#include <QTest>

using namespace Qt::StringLiterals;

class SplashTest final : public GuiTest
{
    Q_OBJECT

private Q_SLOTS:
    void designedLook_data()
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

    void designedLook()
    {
        frmSplash splash(m_environment.makeTimer);
        splash.show();
        verifyLook(&splash);
    }

    // The three seconds count from when it appears, not from when it is made.
    void closesThreeSecondsAfterItAppears()
    {
        frmSplash splash(m_environment.makeTimer);
        m_clock->advance(500);
        splash.show();
        m_clock->advance(2999);
        QVERIFY(splash.isVisible());
        m_clock->advance(1);
        QVERIFY(!splash.isVisible());
    }

    void onlyKeysThatTypeACharacterCloseIt_data()
    {
        QTest::addColumn<int>("key");      // with the modifiers held
        QTest::addColumn<QString>("text"); // as X11 attaches it to the key
        QTest::addColumn<bool>("closes");

        QTest::newRow("letter") << int(Qt::Key_K) << u"k"_s << true;
        QTest::newRow("digit") << int(Qt::Key_7) << u"7"_s << true;
        QTest::newRow("space") << int(Qt::Key_Space) << u" "_s << true;
        QTest::newRow("Enter, whatever its text") << int(Qt::Key_Return) << QString() << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << u"\x1b"_s << true;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << u"\b"_s << true;
        QTest::newRow("Ctrl+letter") << (Qt::CTRL | Qt::Key_K).toCombined() << u"\x0b"_s << true;
        QTest::newRow("Alt+letter") << (Qt::ALT | Qt::Key_K).toCombined() << u"k"_s << false;
        QTest::newRow("arrow") << int(Qt::Key_Left) << QString() << false;
        QTest::newRow("F1") << int(Qt::Key_F1) << QString() << false;
        QTest::newRow("Shift alone") << int(Qt::Key_Shift) << QString() << false;
    }

    // The logo has the focus; the window sees the keys all the same.
    void onlyKeysThatTypeACharacterCloseIt()
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
    void onlyAClickOnTheFrameClosesIt()
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

QTEST_MAIN(SplashTest)
#include "tst_splash.moc"
