#include "Form1.h"
#include "Form3.h"

#include "GuiTest.h"
#include "LibraryFixture.h"
#include "PoemDisplay.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

class ContinuousReadingTest final : public GuiTest
{
    Q_OBJECT

private:
    // The main window over a library of these titles, each with a recording; the playback
    // windows' timers run in test time.
    std::unique_ptr<Form1> open(const QStringList &titles)
    {
        QByteArray bytes;
        for (const QString &title : titles) {
            bytes += poem(title, {u"床前明月光"_s});
            writeRecording(folder(), title + u".wav"_s);
        }
        writeLibrary(folder(), bytes);
        auto form = std::make_unique<Form1>(m_environment);
        form->show();
        m_devices.journal.clear();
        m_clock->running = true;
        return form;
    }

    // Clicks 连续朗读 and types answer (null: cancels); returns when the run is over.
    void read(Form1 &form, const QString &answer)
    {
        m_answers << answer;
        QTest::mouseClick(form.findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton);
        said(u"Kavendo: 请输入连续播放次数： [1]"_s);
    }

    // The recordings the playback windows were given, in order, relative to the folder.
    QStringList played() const
    {
        QStringList paths = m_devices.journal.filter(u"FileName="_s);
        return paths.replaceInStrings(u"FileName="_s + folder() + u'/', QString());
    }

    static QString counter(Form1 &form) { return form.findChild<QLabel *>(u"Label2_1"_s)->text(); }

private Q_SLOTS:
    void designedLook_data()
    {
        addLookColumns();
        addLook("Form3", u"连续播放"_s, {10080, 5595, 1350, 675}, u""_s, -1, u"on"_s);
        addLook("Command1", u"停止朗读"_s, {105, 105, 1170, 435}, u""_s, 0, u"on"_s);
        addLook("Label1", u"Label1"_s, {420, 105, 435, 435}, u""_s, -1, u"hidden"_s);
        addLook("MMControl1", u""_s, {315, 105, 420, 330}, u""_s, -1, u"hidden"_s);
    }

    void designedLook()
    {
        bool LxLdBz = false;
        Form3 playback(m_environment, LxLdBz);
        playback.show();
        verifyLook(&playback);
    }

    // Only the first four characters typed count; they are read as old BASIC reads a number.
    void typedCountSetsThePasses_data()
    {
        QTest::addColumn<int>("poems");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("passes");
        QTest::addColumn<bool>("LxLdBz"); // true before the click
        QTest::addColumn<QString>("message");

        const QString none;
        QTest::newRow("cancel") << 1 << QString() << 0 << true << none;
        QTest::newRow("abc") << 1 << u"abc"_s << 0 << true << none;
        QTest::newRow("full-width digits") << 1 << u"１２"_s << 0 << true << none;
        QTest::newRow(".5 rounds to even") << 1 << u".5"_s << 0 << true << none;
        QTest::newRow("only four characters count") << 1 << u"00001"_s << 0 << true << none;
        QTest::newRow("-1 clears the stop flag") << 1 << u"-1"_s << 0 << false << none;
        QTest::newRow("1.5") << 1 << u"1.5"_s << 2 << false << none;
        QTest::newRow("2.5") << 1 << u"2.5"_s << 2 << false << none;
        QTest::newRow("3.5") << 1 << u"3.5"_s << 4 << false << none;
        QTest::newRow("tab and line feed are passed over")
            << 1 << u"\t1\n2"_s << 12 << false << none;
        QTest::newRow("carriage return ends it") << 1 << u"1\r2"_s << 1 << false << none;
        QTest::newRow("comma is no decimal point") << 1 << u"1,5"_s << 1 << false << none;
        QTest::newRow("exponent") << 1 << u"1E1"_s << 10 << false << none;
        QTest::newRow("hexadecimal") << 1 << u"&h1F"_s << 31 << false << none;
        QTest::newRow("octal ends at 8") << 1 << u"&O78"_s << 7 << false << none;
        QTest::newRow("empty library") << 0 << u"3"_s << 0 << false << none;
        const QString range = u"”不是有效的连续播放次数，请输入 1 到 32767 之间的整数。"_s;
        QTest::newRow("too large") << 1 << u"9e9"_s << 0 << true << u"“9e9"_s + range;
        QTest::newRow("too small") << 1 << u"-9e9"_s << 0 << true << u"“-9e9"_s + range;
    }

    void typedCountSetsThePasses()
    {
        QFETCH(int, poems);
        QFETCH(QString, answer);
        QFETCH(int, passes);
        QFETCH(QString, message);
        auto form = open(QStringList(poems, u"春晓"_s));
        form->LxLdBz = true;
        read(*form, answer);
        if (!message.isEmpty())
            said(message);
        QCOMPARE(played(), QStringList(passes, u"sound/春晓.wav"_s));
        QTEST(form->LxLdBz, "LxLdBz");
        QCOMPARE(counter(*form), u"第%1首"_s.arg(poems));
    }

    // Each window reads its poem half a second after it opens, and closes half a second after
    // the recording (1.2 s here) has ended.
    void eachPassReadsEveryPoemInItsOwnWindow()
    {
        auto form = open({u"静夜思"_s, u"春晓"_s});
        QTest::mouseClick(form->findChild<QPushButton *>(u"Command3"_s), Qt::LeftButton); // 跟读
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        QStringList seen;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            m_devices.last()->hearPart(1);
            seen << u"%1|%2|%3 lit %4 at %5"_s.arg(
                window->windowTitle(), window->findChild<QLabel *>(u"Label1"_s)->text(),
                counter(*form), QString::number(display->highlightedPart()),
                QString::number(m_clock->now()));
            m_clock->advance(1200);
        };

        read(*form, u"2"_s);
        const QString first = u"连续播放|静夜思"_s + QString(21, u' ') + u"|第1首 lit 1 at "_s;
        const QString second = u"连续播放|春晓"_s + QString(22, u' ') + u"|第2首 lit 1 at "_s;
        QCOMPARE(seen, QStringList({first + u"500"_s, second + u"2700"_s, first + u"4900"_s,
                                    second + u"7100"_s}));
        QCOMPARE(m_clock->now(), 8800);
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
        const QStringList titles{u"静夜思"_s, u"春晓"_s, u"登鹳雀楼"_s};
        auto form = open(titles);
        if (event == u"missing"_s)
            QVERIFY(QFile::remove(folder() + u"/sound/"_s + titles[poem - 1] + u".wav"_s));
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

        read(*form, u"1"_s);
        QCOMPARE(played().size(), plays);
        QCOMPARE(counter(*form), u"第%1首"_s.arg(plays));
        QTEST(form->LxLdBz, "LxLdBz");
        QCOMPARE(stopShown, event == u"stop"_s ? u"即将停止, disabled"_s : QString());
        // Every playback window closed its device, however it ended.
        QVERIFY(m_devices.journal.count(u"Command=close"_s) >= plays);
        QCOMPARE(m_devices.journal.last(), u"Command=close"_s);
    }
};

QTEST_MAIN(ContinuousReadingTest)
#include "tst_continuous.moc"
