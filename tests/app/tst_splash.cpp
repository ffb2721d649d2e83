#include "frmSplash.h"

#include "ApplicationImages.h"
#include "ApplicationInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QMap>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QRgb Teal = qRgb(0, 128, 128);
const QRgb White = qRgb(255, 255, 255);

QMap<QRgb, int> colourCounts(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QMap<QRgb, int> counts;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            ++counts[argb.pixel(x, y)];
    return counts;
}

// Shows the splash as Main would see it come up, with its load done and the keyboard focus
// where the window puts it.
bool showAndWait(frmSplash &splash)
{
    splash.show();
    return QTest::qWaitForWindowActive(&splash);
}

} // namespace

class SplashTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closesByItselfThreeSecondsAfterItAppears_data()
    {
        QTest::addColumn<int>("delayBeforeShowing");

        QTest::newRow("shown as soon as it is made") << 0;
        QTest::newRow("shown a second after it was made") << 1000;
    }

    void closesByItselfThreeSecondsAfterItAppears()
    {
        QFETCH(int, delayBeforeShowing);

        frmSplash splash;
        QTest::qWait(delayBeforeShowing);
        // Should the splash never close, the test ends it and fails instead of hanging.
        QTimer::singleShot(10000, &splash, &QDialog::reject);
        QElapsedTimer clock;
        clock.start();
        splash.exec();
        const qint64 shownFor = clock.elapsed();
        QVERIFY2(shownFor >= 2900 && shownFor <= 3600,
                 qPrintable(u"closed after %1 ms"_s.arg(shownFor)));
    }

    void keysThatTypeACharacterCloseIt_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("closes");

        // Each key comes with the text that X11 attaches to it.
        QTest::newRow("letter") << int(Qt::Key_K) << int(Qt::NoModifier) << u"k"_s << true;
        QTest::newRow("capital letter")
            << int(Qt::Key_K) << int(Qt::ShiftModifier) << u"K"_s << true;
        QTest::newRow("digit") << int(Qt::Key_7) << int(Qt::NoModifier) << u"7"_s << true;
        QTest::newRow("space") << int(Qt::Key_Space) << int(Qt::NoModifier) << u" "_s << true;
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << u"\r"_s << true;
        QTest::newRow("Enter on the keypad")
            << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << u"\r"_s << true;
        QTest::newRow("Enter without text")
            << int(Qt::Key_Return) << int(Qt::NoModifier) << QString() << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier) << u"\x1b"_s << true;
        QTest::newRow("Backspace")
            << int(Qt::Key_Backspace) << int(Qt::NoModifier) << u"\b"_s << true;
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << u"\t"_s << true;
        QTest::newRow("character that has no key of its own")
            << int(Qt::Key_unknown) << int(Qt::NoModifier) << u"诗"_s << true;
        QTest::newRow("arrow left")
            << int(Qt::Key_Left) << int(Qt::NoModifier) << QString() << false;
        QTest::newRow("arrow down")
            << int(Qt::Key_Down) << int(Qt::NoModifier) << QString() << false;
        QTest::newRow("F1") << int(Qt::Key_F1) << int(Qt::NoModifier) << QString() << false;
        QTest::newRow("Shift alone")
            << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << QString() << false;
        QTest::newRow("Ctrl alone")
            << int(Qt::Key_Control) << int(Qt::ControlModifier) << QString() << false;
        QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << u"\x7f"_s << false;
    }

    void keysThatTypeACharacterCloseIt()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(bool, closes);

        frmSplash splash;
        QVERIFY(showAndWait(splash));
        // The logo is the one control that takes the focus; keys must be seen by the window
        // all the same.
        QCOMPARE(QApplication::focusWidget(), splash.findChild<QWidget *>(u"Picture1"_s));

        const auto mods = Qt::KeyboardModifiers(modifiers);
        QTest::sendKeyEvent(QTest::Press, splash.windowHandle(), Qt::Key(key), text, mods);
        QTest::sendKeyEvent(QTest::Release, splash.windowHandle(), Qt::Key(key), text, mods);
        QCoreApplication::processEvents();
        QCOMPARE(splash.isVisible(), !closes);
    }

    void onlyAClickOnTheFrameClosesIt_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("closes");

        QTest::newRow("frame surface") << u"Frame1"_s << true;
        QTest::newRow("logo") << u"Picture1"_s << false;
        for (const char *label : {"lblCopyright", "lblCompany", "lblWarning", "lblVersion",
                                  "lblPlatform", "lblProductName", "lblCompanyProduct"})
            QTest::newRow(label) << QString::fromLatin1(label) << false;
        QTest::newRow("strip outside the frame") << u"clientArea"_s << false;
    }

    void onlyAClickOnTheFrameClosesIt()
    {
        QFETCH(QString, target);
        QFETCH(bool, closes);

        frmSplash splash;
        QVERIFY(showAndWait(splash));
        auto *frame = splash.findChild<QFrame *>(u"Frame1"_s);
        auto *widget = splash.findChild<QWidget *>(target);
        QVERIFY(frame && widget);

        QPoint where = widget->rect().center();
        if (widget == frame) {
            where = QPoint(frame->width() - 20, frame->height() / 2);
            QVERIFY2(!frame->childAt(where), "the point chosen on the frame is covered");
        } else if (widget->objectName() == u"clientArea"_s) {
            where = QPoint(frame->x() / 2, frame->y() + frame->height() / 2);
            QVERIFY2(splash.childAt(widget->mapTo(&splash, where)) == widget,
                     "the point chosen on the strip is covered");
        }
        QTest::mouseClick(splash.windowHandle(), Qt::LeftButton, {}, widget->mapTo(&splash, where));
        QCoreApplication::processEvents();
        QCOMPARE(splash.isVisible(), !closes);
    }

    void labelsShowTheirWholeText_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text"); // empty: the label's own fixed text
        QTest::addColumn<qreal>("pointSize");
        QTest::addColumn<bool>("bold");

        const QString company = QString::fromUtf8(ApplicationInfo::CompanyName);
        QTest::newRow("version") << u"lblVersion"_s << u"版本 1.1.0"_s << 12.0 << true;
        QTest::newRow("platform") << u"lblPlatform"_s << u"应用于Win98/Win2000等操作系统"_s << 12.0
                                  << true;
        QTest::newRow("product") << u"lblProductName"_s << u"Kavendo"_s << 32.25 << true;
        QTest::newRow("company above the product")
            << u"lblCompanyProduct"_s << company << 18.0 << true;
        QTest::newRow("copyright") << u"lblCopyright"_s << QString() << 9.0 << false;
        QTest::newRow("maker") << u"lblCompany"_s << company << 9.0 << false;
        QTest::newRow("what the program is for") << u"lblWarning"_s << QString() << 9.0 << false;
    }

    void labelsShowTheirWholeText()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        QFETCH(qreal, pointSize);
        QFETCH(bool, bold);

        frmSplash splash;
        auto *shown = splash.findChild<QLabel *>(label);
        QVERIFY(shown);
        const QRect laidOut = shown->geometry();
        QVERIFY(showAndWait(splash));

        if (!text.isEmpty())
            QCOMPARE(shown->text(), text);
        QVERIFY(!shown->text().isEmpty());
        QCOMPARE(shown->font().pointSizeF(), pointSize);
        QCOMPARE(shown->font().bold(), bold);
        const QFontMetrics metrics = shown->fontMetrics();
        QVERIFY2(
            metrics.horizontalAdvance(shown->text()) <= shown->contentsRect().width(),
            qPrintable(u"%1 px of text in %2 px"_s.arg(metrics.horizontalAdvance(shown->text()))
                           .arg(shown->contentsRect().width())));
        QVERIFY2(metrics.height() <= shown->contentsRect().height(),
                 qPrintable(u"%1 px high text in %2 px"_s.arg(metrics.height())
                                .arg(shown->contentsRect().height())));

        // Whatever sticks out of the frame or lies under a neighbour is cut off.
        auto *frame = splash.findChild<QFrame *>(u"Frame1"_s);
        QVERIFY(frame->contentsRect().contains(shown->geometry()));
        for (QWidget *neighbour : frame->findChildren<QWidget *>()) {
            if (neighbour != shown)
                QVERIFY2(!neighbour->geometry().intersects(shown->geometry()),
                         qPrintable(neighbour->objectName()));
        }
        if (shown->alignment() & Qt::AlignRight)
            QCOMPARE(shown->geometry().right(), laidOut.right());
        else
            QCOMPARE(shown->geometry().topLeft(), laidOut.topLeft());
    }

    void appearsCentredOnTheScreen()
    {
        frmSplash splash;
        QVERIFY(showAndWait(splash));
        const QPoint offCentre =
            splash.frameGeometry().center() - splash.screen()->geometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 1,
                 qPrintable(u"%1, %2 px off centre"_s.arg(offCentre.x()).arg(offCentre.y())));
    }

    void logoIsTwoWhiteCharactersOnTeal()
    {
        const QImage logo = splashLogo().toImage();
        QCOMPARE(logo.size(), QSize(50, 100));

        const QMap<QRgb, int> counts = colourCounts(logo);
        QCOMPARE(counts.keys(), (QList<QRgb>{Teal, White}));
        const double whiteShare = double(counts[White]) / (50 * 100);
        QVERIFY2(whiteShare > 0.1 && whiteShare < 0.5, qPrintable(QString::number(whiteShare)));

        // One character in each half, with a teal row between them.
        const auto whiteIn = [&logo](int top, int bottom) {
            return colourCounts(logo.copy(0, top, 50, bottom - top)).value(White);
        };
        QVERIFY(whiteIn(0, 45) > 300);
        QVERIFY(whiteIn(55, 100) > 300);
        bool gap = false;
        for (int y = 40; y < 60; ++y)
            gap = gap || whiteIn(y, y + 1) == 0;
        QVERIFY(gap);
    }

    void logoIsDrawnUnscaledAtTheTopLeftOfItsBox()
    {
        frmSplash splash;
        QVERIFY(showAndWait(splash));
        auto *picture = splash.findChild<QLabel *>(u"Picture1"_s);
        QVERIFY(picture);

        const QImage logo = splashLogo().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect inner = picture->contentsRect();
        QVERIFY(inner.width() >= logo.width() && inner.height() >= logo.height());
        QVERIFY2(inner.width() - logo.width() <= 4 && inner.height() - logo.height() <= 4,
                 "the logo should almost fill the box");
        const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.copy(QRect(inner.topLeft(), logo.size())), logo);
    }

    void iconIsARedBookInTwoSizes_data()
    {
        QTest::addColumn<int>("size");

        QTest::newRow("32 pixels") << 32;
        QTest::newRow("16 pixels") << 16;
    }

    void iconIsARedBookInTwoSizes()
    {
        QFETCH(int, size);

        const QIcon icon = applicationIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(size).toImage();
        QCOMPARE(image.size(), QSize(size, size));

        const QMap<QRgb, int> counts = colourCounts(image);
        QVERIFY2(counts.size() <= 16, qPrintable(QString::number(counts.size())));
        QVERIFY2(counts.value(0) > 0, "the book should stand on a transparent ground");
        // The book is red: red covers more of it than any other colour.
        QRgb mostUsed = 0;
        int mostUses = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (qAlpha(it.key()) == 255 && it.value() > mostUses) {
                mostUsed = it.key();
                mostUses = it.value();
            }
        }
        QVERIFY2(qRed(mostUsed) >= 128 && qGreen(mostUsed) < 64 && qBlue(mostUsed) < 64,
                 qPrintable(QColor(mostUsed).name()));
    }
};

QTEST_MAIN(SplashTest)
#include "tst_splash.moc"
