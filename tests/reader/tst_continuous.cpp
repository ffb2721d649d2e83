#include "Form1.h"
#include "RepeatCount.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "PoemDisplay.h"

#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

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

    // Clicks 连续朗读 and answers the input box (a null answer cancels it); returns when the run
    // is over.
    static void read(Form1 &form, const QString &answer)
    {
        QString asked;
        const QPointer<QTimer> poll = answerNextDialog<QInputDialog>([&](QInputDialog *box) {
            asked = box->windowTitle() + u'|' + box->labelText() + u'|' + box->textValue();
            box->setTextValue(answer);
            answer.isNull() ? box->reject() : box->accept();
        });
        QTest::mouseClick(form.findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton);
        delete poll.data();
        QCOMPARE(asked, u"Kavendo|请输入连续播放次数：|1"_s);
    }

    // The recordings the playback windows were given, in order, relative to the folder.
    QStringList played() const
    {
        QStringList paths = m_devices.journal.filter(u"FileName="_s);
        return paths.replaceInStrings(u"FileName="_s + m_folder->path() + u'/', QString());
    }

    static QString counter(Form1 &form) { return form.findChild<QLabel *>(u"Label2_1"_s)->text(); }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_devices = FakeDevices();
    }

    void countIsReadFromTheTypedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("count"); // 99999: refused

        QTest::newRow("blanks anywhere") << u" - 1 2 "_s << -12.0 << -12;
        QTest::newRow("tab and line feed") << u"\t3\n4"_s << 34.0 << 34;
        QTest::newRow("carriage return ends it") << u"1\r2"_s << 1.0 << 1;
        QTest::newRow("plus sign") << u"+4"_s << 4.0 << 4;
        QTest::newRow("point first") << u".5"_s << 0.5 << 0;
        QTest::newRow("halves round to even") << u"2.5"_s << 2.5 << 2;
        QTest::newRow("and up to even") << u"3.5"_s << 3.5 << 4;
        QTest::newRow("second point ends it") << u"1.2.3"_s << 1.2 << 1;
        QTest::newRow("comma is no decimal point") << u"1,5"_s << 1.0 << 1;
        QTest::newRow("exponent E") << u"1E2"_s << 100.0 << 100;
        QTest::newRow("exponent d, negative") << u"25d-1"_s << 2.5 << 2;
        QTest::newRow("hexadecimal") << u"&h1F"_s << 31.0 << 31;
        QTest::newRow("octal ends at 8") << u"&O78"_s << 7.0 << 7;
        QTest::newRow("ampersand alone") << u"&12"_s << 0.0 << 0;
        QTest::newRow("sign alone") << u"-"_s << 0.0 << 0;
        QTest::newRow("full-width digits") << u"１２"_s << 0.0 << 0;
        QTest::newRow("largest") << u"32767.4"_s << 32767.4 << 32767;
        QTest::newRow("smallest") << u"-32768"_s << -32768.0 << -32768;
        QTest::newRow("one too many") << u"32768"_s << 32768.0 << 99999;
        QTest::newRow("beyond any double") << u"1e999"_s << qInf() << 99999;
    }

    void countIsReadFromTheTypedText()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(int, count);
        QCOMPARE(numericValue(text), value);
        const std::optional<qint16> result = RepeatCount(text);
        QCOMPARE(result ? int(*result) : 99999, count);
    }

    void inputBoxAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("passes");
        QTest::addColumn<bool>("LxLdBz"); // true before the click
        QTest::addColumn<QString>("message");

        QTest::newRow("cancel") << QString() << 0 << true << QString();
        QTest::newRow("empty") << u""_s << 0 << true << QString();
        QTest::newRow("abc") << u"abc"_s << 0 << true << QString();
        QTest::newRow("0.5") << u"0.5"_s << 0 << true << QString();
        QTest::newRow("only four characters count") << u"00001"_s << 0 << true << QString();
        QTest::newRow("-1 clears the stop flag") << u"-1"_s << 0 << false << QString();
        QTest::newRow("1.5") << u"1.5"_s << 2 << false << QString();
        QTest::newRow("2.5") << u"2.5"_s << 2 << false << QString();
        const QString range = u"”不是有效的连续播放次数，请输入 1 到 32767 之间的整数。"_s;
        QTest::newRow("too large") << u"9e9"_s << 0 << true << u"“9e9"_s + range;
        QTest::newRow("too small") << u"-9e9"_s << 0 << true << u"“-9e9"_s + range;
    }

    void inputBoxAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(int, passes);
        QFETCH(bool, LxLdBz);
        QFETCH(QString, message);
        auto form = open({u"春晓"_s});
        form->LxLdBz = true;

        MessageBoxCatcher catcher;
        read(*form, answer);
        QCOMPARE(catcher.seen() ? catcher.text() : QString(), message);
        QCOMPARE(played(), QStringList(passes, u"sound/春晓.wav"_s));
        QCOMPARE(form->LxLdBz, LxLdBz);
        QCOMPARE(counter(*form), u"第1首"_s);
    }

    void eachPassReadsEveryPoemInItsOwnWindow()
    {
        auto form = open({u"静夜思"_s, u"春晓"_s});
        QTest::mouseClick(form->findChild<QPushButton *>(u"Command3"_s), Qt::LeftButton); // 跟读
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        QStringList seen;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            m_devices.last()->hearPart(1);
            seen << window->windowTitle() + u'|' +
                        window->findChild<QLabel *>(u"Label1"_s)->text() + u'|' + counter(*form) +
                        u" lit "_s + QString::number(display->highlightedPart());
        };

        read(*form, u"2"_s);
        const QString first = u"连续播放|静夜思"_s + QString(21, u' ') + u"|第1首 lit 1"_s;
        const QString second = u"连续播放|春晓"_s + QString(22, u' ') + u"|第2首 lit 1"_s;
        QCOMPARE(seen, QStringList({first, second, first, second}));
        QCOMPARE(played(), QStringList({u"sound/静夜思.wav"_s, u"sound/春晓.wav"_s,
                                        u"sound/静夜思.wav"_s, u"sound/春晓.wav"_s}));
        QCOMPARE(m_devices.made.size(), 1 + 4);
        const QStringList told{u"PoemShape=3,5,0,0,0"_s, u"ReadAfterMe=true"_s,
                               u"PoemShape=2,5,0,0,0"_s, u"ReadAfterMe=true"_s};
        QCOMPARE(m_devices.journal.filter(QRegularExpression(u"Shape|After"_s)), told + told);
        QCOMPARE(display->highlightedPart(), PoemDisplay::NoPart);
        QCOMPARE(counter(*form), u"第2首"_s);
        QCOMPARE(form->LxLdBz, false);
    }

    void runEndsOnlyWhenStopped_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("poem");
        QTest::addColumn<int>("plays");
        QTest::addColumn<bool>("LxLdBz");

        QTest::newRow("停止朗读 during poem 2 of 3") << u"stop"_s << 2 << 2 << true;
        QTest::newRow("停止朗读 during the last poem") << u"stop"_s << 3 << 3 << true;
        QTest::newRow("close box during poem 1") << u"close"_s << 1 << 3 << false;
        QTest::newRow("no recording for poem 1") << u"missing"_s << 1 << 3 << false;
    }

    void runEndsOnlyWhenStopped()
    {
        QFETCH(QString, event);
        QFETCH(int, poem);
        QFETCH(int, plays);
        QFETCH(bool, LxLdBz);
        const QStringList titles{u"静夜思"_s, u"春晓"_s, u"登鹳雀楼"_s};
        auto form = open(titles);
        if (event == u"missing"_s)
            QVERIFY(QFile::remove(m_folder->filePath(u"sound/"_s + titles[poem - 1] + u".wav"_s)));
        int heard = 0;
        QString stopShown;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            if (++heard != poem)
                return;
            if (event == u"stop"_s) {
                auto *stop = window->findChild<QPushButton *>(u"Command1"_s);
                QTest::mouseClick(stop, Qt::LeftButton);
                stopShown = stop->text() + (stop->isEnabled() ? u""_s : u", disabled"_s);
                QTest::mouseClick(stop, Qt::LeftButton);
            } else if (event == u"close"_s) {
                window->close();
            }
        };

        MessageBoxCatcher noMessage;
        read(*form, u"1"_s);
        QCOMPARE(played().size(), plays);
        QCOMPARE(counter(*form), u"第%1首"_s.arg(plays));
        QCOMPARE(form->LxLdBz, LxLdBz);
        QCOMPARE(stopShown, event == u"stop"_s ? u"即将停止, disabled"_s : QString());
        QVERIFY2(!noMessage.seen(), qPrintable(noMessage.text()));
        // Every playback window closed its device, however it ended.
        QVERIFY(m_devices.journal.count(u"Command=close"_s) >= plays);
        QCOMPARE(m_devices.journal.last(), u"Command=close"_s);
    }

    void emptyLibraryOpensNoWindow()
    {
        auto form = open({});
        read(*form, u"3"_s);
        QCOMPARE(m_devices.made.size(), 1);
        QCOMPARE(form->LxLdBz, false);
    }
};

QTEST_MAIN(ContinuousReadingTest)
#include "tst_continuous.moc"
