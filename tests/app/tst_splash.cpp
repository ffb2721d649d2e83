#include "frmSplash.h"

#include "ApplicationImages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QMap<QRgb, int> colourCounts(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QMap<QRgb, int> counts;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            ++counts[argb.pixel(x, y)];
    return counts;
}

} // namespace

class SplashTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closesByItselfThreeSecondsAfterItAppears()
    {
        frmSplash splash;
        QTest::qWait(500); // the three seconds count from when it appears, not when it is made
        QTimer::singleShot(10000, &splash, &QDialog::reject); // fail rather than hang
        QElapsedTimer clock;
        clock.start();
        splash.exec();
        const qint64 shownFor = clock.elapsed();
        QVERIFY2(shownFor >= 2900 && shownFor <= 3600, qPrintable(QString::number(shownFor)));
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

    void onlyKeysThatTypeACharacterCloseIt()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(bool, closes);
        frmSplash splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowActive(&splash));
        // The logo takes the focus; the window sees the keys all the same.
        QCOMPARE(QApplication::focusWidget(), splash.findChild<QWidget *>(u"Picture1"_s));
        const QKeyCombination pressed = QKeyCombination::fromCombined(key);
        QTest::sendKeyEvent(QTest::Press, splash.windowHandle(), pressed.key(), text,
                            pressed.keyboardModifiers());
        QCOMPARE(splash.isVisible(), !closes);
    }

    void onlyAClickOnTheFrameClosesIt()
    {
        frmSplash splash;
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
        // Bare places: the strip left of the frame, and the frame near its right edge.
        QVERIFY(click(splash.findChild<QWidget *>(u"clientArea"_s),
                      QPoint(frame->x() / 2, frame->y() + frame->height() / 2)));
        QVERIFY(!click(frame, QPoint(frame->width() - 20, frame->height() / 2)));
    }

    void labelsShowTheirWholeText()
    {
        const frmSplash unshown; // as laid out, before the labels that size themselves do so
        frmSplash splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowActive(&splash));
        QStringList texts;
        for (const QString &name : {u"lblVersion"_s, u"lblProductName"_s, u"lblPlatform"_s})
            texts << splash.findChild<QLabel *>(name)->text();
        QCOMPARE(texts,
                 (QStringList{u"版本 1.1.0"_s, u"Kavendo"_s, u"应用于Win98/Win2000等操作系统"_s}));

        auto *frame = splash.findChild<QWidget *>(u"Frame1"_s);
        const QList<QLabel *> labels = frame->findChildren<QLabel *>();
        for (const QLabel *label : labels) {
            // The whole text fits in the label; what sticks out of the frame or lies under a
            // neighbour is cut off.
            const QSize needed = label->fontMetrics().size(0, label->text());
            const QSize room = label->contentsRect().size();
            QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height() &&
                         frame->contentsRect().contains(label->geometry()),
                     qPrintable(label->objectName()));
            for (const QLabel *neighbour : labels)
                QVERIFY2(neighbour == label || !neighbour->geometry().intersects(label->geometry()),
                         qPrintable(label->objectName() + u" under "_s + neighbour->objectName()));
            // A label that grew keeps the edge it is aligned to.
            const QRect laidOut = unshown.findChild<QLabel *>(label->objectName())->geometry();
            if (label->alignment() & Qt::AlignRight)
                QCOMPARE(label->geometry().right(), laidOut.right());
            else
                QCOMPARE(label->geometry().topLeft(), laidOut.topLeft());
        }
    }

    void picturesAreOurDrawings()
    {
        const QImage logo = splashLogo().toImage();
        QCOMPARE(logo.size(), QSize(50, 100));
        QCOMPARE(colourCounts(logo).keys(), (QList<QRgb>{qRgb(0, 128, 128), qRgb(255, 255, 255)}));
        // The icon is a red book on a transparent ground, in 16 colours, 32 and 16 pixels high.
        for (const int size : {32, 16}) {
            QVERIFY(applicationIcon().availableSizes().contains(QSize(size, size)));
            QMap<QRgb, int> counts = colourCounts(applicationIcon().pixmap(size).toImage());
            QVERIFY(counts.size() <= 16 && counts.value(0) > 0);
            counts.removeIf([](const auto &colour) { return qAlpha(colour.key()) < 255; });
            const QList<int> uses = counts.values();
            const QRgb most = counts.key(*std::max_element(uses.cbegin(), uses.cend()));
            QVERIFY2(qRed(most) >= 128 && qGreen(most) < 64 && qBlue(most) < 64,
                     qPrintable(QColor(most).name()));
        }
    }
};

QTEST_MAIN(SplashTest)
#include "tst_splash.moc"
