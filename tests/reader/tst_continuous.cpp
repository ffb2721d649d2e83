#include "Form1.h"
#include "RepeatCount.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"

#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QString NoAnswer = u"<cancel>"_s;

} // namespace

class ContinuousReadingTest final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    FakeDevices m_devices;

    // A library of the given titles, each with a recording.
    std::unique_ptr<Form1> open(const QStringList &titles)
    {
        QByteArray bytes;
        for (const QString &title : titles) {
            bytes += poem(title, {u"床前明月光"_s});
            writeRecording(m_folder->path(), title + u".wav"_s);
        }
        writeLibrary(m_folder->path(), bytes);
        auto form = std::make_unique<Form1>(Environment{m_folder->path(), m_devices.factory()});
        form->show();
        m_devices.journal.clear();
        return form;
    }

    // Clicks 连续朗读, answers the input box, and returns once the run is over.
    static void read(Form1 &form, const QString &answer)
    {
        answerNextDialog<QInputDialog>([answer](QInputDialog *box) {
            QCOMPARE(box->labelText(), u"请输入连续播放次数："_s);
            QCOMPARE(box->windowTitle(), u"Kavendo"_s);
            QCOMPARE(box->textValue(), u"1"_s);
            if (answer == NoAnswer) {
                box->reject();
            } else {
                box->setTextValue(answer);
                box->accept();
            }
        });
        QTest::mouseClick(form.findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton);
    }

    // The titles whose recordings were played, in order.
    QStringList played() const
    {
        QStringList titles;
        QString fileName;
        for (const QString &line : m_devices.journal) {
            if (line.startsWith(u"FileName="_s))
                fileName = line.section(u'/', -1).chopped(4);
            else if (line == u"Command=play"_s)
                titles << fileName;
        }
        return titles;
    }

    // Whether every device that was opened was closed again before the next one opened.
    bool everyOpenWasClosed() const
    {
        bool open = false;
        for (const QString &line : m_devices.journal) {
            if (line == u"Command=open"_s) {
                if (open)
                    return false;
                open = true;
            } else if (line == u"Command=close"_s) {
                open = false;
            }
        }
        return !open;
    }

    // The number of playback windows opened (each has a device of its own).
    qsizetype playbackWindows() const { return m_devices.made.size() - 1; }

    static QString shownCounter(Form1 &form)
    {
        return form.findChild<QLabel *>(u"Label2_1"_s)->text();
    }

    // Presses 停止朗读 in the playback window that is reading.
    static void pressStop()
    {
        QTest::mouseClick(
            QApplication::activeModalWidget()->findChild<QPushButton *>(u"Command1"_s),
            Qt::LeftButton);
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_devices = FakeDevices();
    }

    void numericValueReadsTheLeadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");

        QTest::newRow("integer") << u"2"_s << 2.0;
        QTest::newRow("decimal") << u"1.5"_s << 1.5;
        QTest::newRow("point first") << u".5"_s << 0.5;
        QTest::newRow("negative") << u"-1"_s << -1.0;
        QTest::newRow("plus sign") << u"+4"_s << 4.0;
        QTest::newRow("blanks anywhere") << u" 1 2 "_s << 12.0;
        QTest::newRow("tab and line feed") << u"\t3\n4"_s << 34.0;
        QTest::newRow("blank after sign") << u"- 3"_s << -3.0;
        QTest::newRow("exponent E") << u"1e2"_s << 100.0;
        QTest::newRow("exponent D") << u"1D2"_s << 100.0;
        QTest::newRow("negative exponent") << u"25E-1"_s << 2.5;
        QTest::newRow("exponent without digits") << u"7e"_s << 7.0;
        QTest::newRow("hexadecimal") << u"&H1F"_s << 31.0;
        QTest::newRow("hexadecimal lower case") << u"&hff"_s << 255.0;
        QTest::newRow("octal") << u"&O17"_s << 15.0;
        QTest::newRow("octal stops at 8") << u"&O78"_s << 7.0;
        QTest::newRow("ampersand alone") << u"&12"_s << 0.0;
        QTest::newRow("stops at a letter") << u"12abc"_s << 12.0;
        QTest::newRow("second point stops") << u"1.2.3"_s << 1.2;
        QTest::newRow("comma is no decimal point") << u"1,5"_s << 1.0;
        QTest::newRow("carriage return is not skipped") << u"1\r2"_s << 1.0;
        QTest::newRow("no number") << u"abc"_s << 0.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("sign alone") << u"-"_s << 0.0;
        QTest::newRow("full-width digits are no number") << u"１２"_s << 0.0;
    }

    void numericValueReadsTheLeadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(numericValue(text), value);
    }

    void repeatCountRoundsHalvesToEven_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count"); // 99999 when the text is refused

        QTest::newRow("2") << u"2"_s << 2;
        QTest::newRow("1.5") << u"1.5"_s << 2;
        QTest::newRow("2.5") << u"2.5"_s << 2;
        QTest::newRow("3.5") << u"3.5"_s << 4;
        QTest::newRow("0.5") << u"0.5"_s << 0;
        QTest::newRow("-0.5") << u"-0.5"_s << 0;
        QTest::newRow("-1") << u"-1"_s << -1;
        QTest::newRow("largest") << u"32767"_s << 32767;
        QTest::newRow("smallest") << u"-32768"_s << -32768;
        QTest::newRow("one too many") << u"32768"_s << 99999;
        QTest::newRow("exponent too large") << u"9e9"_s << 99999;
        QTest::newRow("beyond any double") << u"1e999"_s << 99999;
        QTest::newRow("rounds into range") << u"32767.4"_s << 32767;
    }

    void repeatCountRoundsHalvesToEven()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        const std::optional<qint16> result = RepeatCount(text);
        QCOMPARE(result ? int(*result) : 99999, count);
    }

    void answersThatReadNothing_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("LxLdBz");

        QTest::newRow("cancel") << NoAnswer << true;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("abc") << u"abc"_s << true;
        QTest::newRow("0.5") << u"0.5"_s << true;
        QTest::newRow("only four characters count") << u"00001"_s << true;
        QTest::newRow("-1 clears the stop flag") << u"-1"_s << false;
    }

    void answersThatReadNothing()
    {
        QFETCH(QString, answer);
        QFETCH(bool, LxLdBz);
        auto form = open({u"静夜思"_s});
        form->LxLdBz = true;

        read(*form, answer);
        QCOMPARE(playbackWindows(), 0);
        QCOMPARE(form->LxLdBz, LxLdBz);
        QCOMPARE(shownCounter(*form), u"第1首"_s);
    }

    void passesFollowTheRoundedCount_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("passes");

        QTest::newRow("2") << u"2"_s << 2;
        QTest::newRow("1.5") << u"1.5"_s << 2;
        QTest::newRow("2.5") << u"2.5"_s << 2;
    }

    void passesFollowTheRoundedCount()
    {
        QFETCH(QString, answer);
        QFETCH(int, passes);
        auto form = open({u"春晓"_s});
        read(*form, answer);
        QCOMPARE(played(), QStringList(passes, u"春晓"_s));
    }

    void eachPassReadsEveryPoemInItsOwnWindow()
    {
        auto form = open({u"静夜思"_s, u"春晓"_s});
        QStringList seen;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            seen << window->windowTitle() + u'|' +
                        window->findChild<QLabel *>(u"Label1"_s)->text() + u'|' +
                        shownCounter(*form);
        };

        read(*form, u"2"_s);
        const QString first = u"连续播放|静夜思"_s + QString(21, u' ') + u"|第1首"_s;
        const QString second = u"连续播放|春晓"_s + QString(22, u' ') + u"|第2首"_s;
        QCOMPARE(seen, QStringList({first, second, first, second}));
        QCOMPARE(played(), QStringList({u"静夜思"_s, u"春晓"_s, u"静夜思"_s, u"春晓"_s}));
        QCOMPARE(playbackWindows(), 4);
        QCOMPARE(shownCounter(*form), u"第2首"_s);
        QCOMPARE(form->LxLdBz, false);
        QVERIFY(everyOpenWasClosed());
    }

    void stopEndsTheRunAfterThePoemBeingRead_data()
    {
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<QString>("shown");

        QTest::newRow("during poem 2 of 3") << 2 << u"第2首"_s;
        QTest::newRow("during the last poem") << 3 << u"第3首"_s;
    }

    void stopEndsTheRunAfterThePoemBeingRead()
    {
        QFETCH(int, stopAt);
        QFETCH(QString, shown);
        auto form = open({u"静夜思"_s, u"春晓"_s, u"登鹳雀楼"_s});
        int plays = 0;
        m_devices.whilePlaying = [&] {
            if (++plays == stopAt)
                pressStop();
        };

        read(*form, u"1"_s);
        QCOMPARE(played().size(), stopAt);
        QCOMPARE(shownCounter(*form), shown);
        QCOMPARE(form->LxLdBz, true);
        // The window that was stopped still closed its device.
        QVERIFY(everyOpenWasClosed());
    }

    void emptyLibraryOpensNoWindow()
    {
        auto form = open({});
        read(*form, u"3"_s);
        QCOMPARE(playbackWindows(), 0);
        QCOMPARE(form->LxLdBz, false);
    }

    void closeBoxEndsOnlyThatWindow()
    {
        auto form = open({u"静夜思"_s, u"春晓"_s});
        bool closed = false;
        m_devices.whilePlaying = [&] {
            if (!closed) {
                closed = true;
                QApplication::activeModalWidget()->close();
            }
        };

        read(*form, u"1"_s);
        QCOMPARE(played(), QStringList({u"静夜思"_s, u"春晓"_s}));
        QVERIFY(everyOpenWasClosed());
        QCOMPARE(form->LxLdBz, false);
    }

    void missingRecordingIsPassedOverSilently()
    {
        auto form = open({u"静夜思"_s, u"春晓"_s});
        QVERIFY(QFile::remove(m_folder->filePath(u"sound/静夜思.wav"_s)));
        int heard = 0;
        m_devices.whilePlaying = [&] { ++heard; };
        MessageBoxCatcher noMessage;

        read(*form, u"1"_s);
        QCOMPARE(played(), QStringList({u"静夜思"_s, u"春晓"_s}));
        QCOMPARE(heard, 1);
        QVERIFY(!noMessage.seen());
        QVERIFY(everyOpenWasClosed());
    }

    void countOutsideTheRangeIsRefused()
    {
        auto form = open({u"静夜思"_s});
        form->LxLdBz = true;
        MessageBoxCatcher catcher;
        read(*form, u"9e9"_s);
        QTRY_VERIFY(catcher.seen());
        QCOMPARE(catcher.title(), u"Kavendo"_s);
        QVERIFY2(catcher.text().startsWith(u"“9e9”不是有效的连续播放次数"_s),
                 qPrintable(catcher.text()));
        QCOMPARE(playbackWindows(), 0);
        QCOMPARE(form->LxLdBz, true);
    }
};

QTEST_MAIN(ContinuousReadingTest)
#include "tst_continuous.moc"
