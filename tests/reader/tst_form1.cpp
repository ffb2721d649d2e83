#include "Form1.h"

#include "GuiTest.h"
#include "LibraryFixture.h"
#include "PoemDisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QByteArray JingYeSi =
    poem(u"静夜思"_s, {u"床前明月光"_s, u"疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s});
const QByteArray ChunXiao = poem(u"春晓"_s, {u"春眠不觉晓"_s, u"处处闻啼鸟"_s});
const QByteArray DengLou = poem(u"登鹳雀楼"_s, {u"白日依山尽"_s, u"黄河入海流"_s});
const QString First = u"共3首 第1首 110111 静夜思|床前明月光|疑是地上霜|举头望明月|低头思故乡"_s;
const QString Second = u"共3首 第2首 111111 春晓|春眠不觉晓|处处闻啼鸟||"_s;
const QString Third = u"共3首 第3首 101111 登鹳雀楼|白日依山尽|黄河入海流||"_s;

QPushButton *button(const QWidget &window, const QString &name)
{
    return window.findChild<QPushButton *>(name);
}

QString label(const QWidget &window, const QString &name)
{
    return window.findChild<QLabel *>(name)->text();
}

// What the window shows: the counters, which of 朗读, 下一首, 上一首, 帮助, 系统维护 and 连续朗读
// are enabled, and the poem's five lines joined by '|'; '*' follows a count or a title drawn
// smaller than designed.
QString shown(Form1 &form)
{
    const auto *total = form.findChild<QLabel *>(u"Label2_0"_s);
    const auto *display = form.findChild<PoemDisplay *>(u"Label1"_s);
    QString buttons;
    for (const char *name :
         {"Command1_0", "Command1_1", "Command1_2", "Command1_3", "Command1_4", "Command2"})
        buttons += button(form, QLatin1String(name))->isEnabled() ? u'1' : u'0';
    QStringList lines = display->text().split(u'\n');
    if (display->titleFont() != display->font())
        lines[0] += u'*';
    return total->text() + (total->font().pointSizeF() == 14.25 ? u" "_s : u"* "_s) +
           label(form, u"Label2_1"_s) + u' ' + buttons + u' ' + lines.join(u'|');
}

} // namespace

// The main window, and continuous reading in its playback windows.
class Form1Test final : public GuiTest
{
    Q_OBJECT

private:
    std::unique_ptr<Form1> open(const QByteArray &library)
    {
        if (!library.isNull())
            writeLibrary(folder(), library);
        auto form = std::make_unique<Form1>(m_environment);
        form->show();
        return form;
    }

    // A library of these titles, each with a recording.
    QByteArray recorded(const QStringList &titles)
    {
        QByteArray bytes;
        for (const QString &title : titles) {
            bytes += poem(title, {u"床前明月光"_s});
            writeRecording(folder(), title + u".wav"_s);
        }
        return bytes;
    }

    // Clicks 连续朗读 and types answer (null: cancels); returns when the run is over, the
    // playback windows' timers having run in test time.
    void readContinuously(Form1 &form, const QString &answer)
    {
        m_devices.journal.clear();
        m_clock->running = true;
        m_answers << answer;
        QTest::mouseClick(button(form, u"Command2"_s), Qt::LeftButton);
        said(u"Kavendo: 请输入连续播放次数： [1]"_s);
    }

private Q_SLOTS:
    void session_data()
    {
        QTest::addColumn<QByteArray>("library"); // null: no file
        QTest::addColumn<QString>("actions");    // see session()
        QTest::addColumn<QString>("shown"); // see shown(); then what the device was told to play

        const QByteArray three = JingYeSi + ChunXiao + DengLou;
        const QString none, empty = u"共0首 第0首 000111 "_s;
        const QString jingYeSi =
            u"共1首 第1首 100111 静夜思|床前明月光|疑是地上霜|举头望明月|低头思故乡"_s;
        QTest::newRow("no library yet") << QByteArray() << none << empty;
        QTest::newRow("one poem, spaces trimmed, blank lines kept")
            << record("  " + gbk(u"静夜思"_s), "  " + gbk(u"床前明月光"_s), "",
                      gbk(u"处处闻啼鸟"_s))
            << none << u"共1首 第1首 100111 静夜思|床前明月光||处处闻啼鸟|"_s;
        QTest::newRow("下一首") << three << u"下一首"_s << Second;
        QTest::newRow("下一首 stops at the last") << three << u"下一首; 下一首; 下一首"_s << Third;
        QTest::newRow("上一首 stops at the first") << three << u"下一首; 上一首; 上一首"_s << First;
        QTest::newRow("double-click a title") << three << u"double 2"_s << Third;
        QTest::newRow("double-click below the titles")
            << three << u"double below"_s << u"共3首 第0首 000111 "_s;
        QTest::newRow("系统维护, 返回") << three << u"下一首; 系统维护"_s << First;
        QTest::newRow("帮助") << three << u"帮助; says 1. 双击左边“诗词目录”中的诗名"_s << First;
        // The most poems the program ever wrote; more, and a title as long as the field holds,
        // are drawn smaller.
        QTest::newRow("32,767 poems")
            << poem(u"静夜思"_s).repeated(32767) << none << u"共32767首 第1首 110111 静夜思||||"_s;
        QTest::newRow("100,000 poems") << poem(u"静夜思"_s).repeated(100000) << none
                                       << u"共100000首* 第1首 110111 静夜思||||"_s;
        QTest::newRow("title of 12 characters")
            << poem(u"黄河入海流欲穷千里目更上"_s) << none
            << u"共1首 第1首 100111 黄河入海流欲穷千里目更上*||||"_s;
        QTest::newRow("跟读, 朗读 without the spaces around the title")
            << record("  " + gbk(u"春晓"_s) + "  ", gbk(u"春眠不觉晓"_s)) << u"跟读; 朗读"_s
            << u"共1首 第1首 100111 春晓|春眠不觉晓||| PoemShape=2,5,0,0,0|ReadAfterMe=true|"
               u"FileName=<app>/sound/春晓.wav, lit 1"_s;
        QTest::newRow("no recording")
            << JingYeSi << u"朗读; says 没有找到《静夜思》的录音：<app>/sound/静夜思.wav"_s
            << jingYeSi;
        QTest::newRow("unreadable recording")
            << JingYeSi
            << u"fail open; 朗读; says 无法播放《静夜思》的录音：<app>/sound/静夜思.wav（原因）"_s
            << jingYeSi;
    }

    // The parent or the child uses the window: a button by its caption ("系统维护" also
    // returns from the maintenance window), "double ROW" on the list, or "below" its titles;
    // "fail COMMAND": the device fails it; "says A…B": the window's next message holds A and B.
    // Texts are shown whole, 朗读 is off while the poem is heard and nothing is lit afterwards.
    void session()
    {
        QFETCH(QByteArray, library);
        QFETCH(QString, actions);
        writeRecording(folder(), u"春晓.wav"_s);
        auto form = open(library);
        auto *list = form->findChild<QListView *>(u"List1"_s);
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        QString heard;
        m_devices.last()->whilePlaying = [&] {
            m_devices.last()->hearPart(1);
            heard = u' ' +
                    m_devices.journal.filter(QRegularExpression(u"^(PoemShape|Read|FileName)"_s))
                        .join(u'|')
                        .replace(folder(), u"<app>"_s) +
                    u", lit %1"_s.arg(display->highlightedPart()) +
                    (button(*form, u"Command1_0"_s)->isEnabled() ? u", 朗读 on"_s : u""_s);
        };
        m_devices.journal.clear();
        for (const QString &action : actions.split(u"; "_s, Qt::SkipEmptyParts)) {
            const QString arg = action.section(u' ', 1);
            if (action.startsWith(u"double"_s)) {
                const QModelIndex row = list->model()->index(arg.toInt(), 0);
                const QPoint at =
                    arg == u"below"_s ? QPoint(5, 250) : list->visualRect(row).center();
                QTest::mouseDClick(form->windowHandle(), Qt::LeftButton, {},
                                   list->viewport()->mapTo(form.get(), at));
            } else if (action.startsWith(u"says"_s)) {
                said(arg);
            } else if (action.startsWith(u"fail"_s)) {
                m_devices.last()->failures.insert(arg,
                                                  {DeviceError::Kind::UnreadableFile, u"原因"_s});
            } else {
                m_onWindow = [](QWidget *maintenance) {
                    button(*maintenance, u"Command4"_s)->click();
                };
                for (QPushButton *caption : form->findChildren<QPushButton *>())
                    if (caption->text() == action)
                        QTest::mouseClick(caption, Qt::LeftButton);
            }
        }
        QTEST(::shown(*form) + heard, "shown");
        QCOMPARE(display->highlightedPart(), PoemDisplay::NoPart);
        QVERIFY(QFileInfo::exists(folder() + u"/Kavendo.dbf"_s)); // made when there was none
        const auto *total = form->findChild<QLabel *>(u"Label2_0"_s);
        QVERIFY(QFontMetricsF(total->font(), total).horizontalAdvance(total->text()) <=
                total->contentsRect().width());
        const QString title = display->text().section(u'\n', 0, 0);
        QVERIFY(QFontMetricsF(display->titleFont(), display).horizontalAdvance(title) <=
                display->contentsRect().width() - 16);
    }

    // Each window reads its poem half a second after it opens, and closes half a second after
    // the recording (1.2 s here) has ended.
    void eachPassReadsEveryPoemInItsOwnWindow()
    {
        auto form = open(recorded({u"静夜思"_s, u"春晓"_s}));
        QTest::mouseClick(button(*form, u"Command3"_s), Qt::LeftButton); // 跟读
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        QStringList seen;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            m_devices.last()->hearPart(1);
            seen << u"%1|%2|%3 lit %4 at %5"_s.arg(
                window->windowTitle(), label(*window, u"Label1"_s), label(*form, u"Label2_1"_s),
                QString::number(display->highlightedPart()), QString::number(m_clock->now()));
            m_clock->advance(1200);
        };

        readContinuously(*form, u"2"_s);
        const QString first = u"连续播放|静夜思"_s + QString(21, u' ') + u"|第1首 lit 1 at "_s;
        const QString second = u"连续播放|春晓"_s + QString(22, u' ') + u"|第2首 lit 1 at "_s;
        QCOMPARE(seen, QStringList({first + u"500"_s, second + u"2700"_s, first + u"4900"_s,
                                    second + u"7100"_s}));
        QCOMPARE(m_clock->now(), 8800);
        QCOMPARE(m_devices.journal.count(u"ReadAfterMe=true"_s), 4);
        QCOMPARE(display->highlightedPart(), PoemDisplay::NoPart);
        QCOMPARE(label(*form, u"Label2_1"_s), u"第2首"_s);
    }

    void runEndsOnlyWhenDoneOrStopped_data()
    {
        QTest::addColumn<int>("poems");
        QTest::addColumn<QString>("answer"); // null: cancelled
        QTest::addColumn<QString>("event"); // and the poem during which it happens, or what is said
        QTest::addColumn<int>("plays");

        // Only the first four characters typed count; they are read as old BASIC reads a number.
        const QString none;
        QTest::newRow("cancel") << 1 << QString() << none << 0;
        QTest::newRow(".5 rounds to even") << 1 << u".5"_s << none << 0;
        QTest::newRow("only four characters count") << 1 << u"00001"_s << none << 0;
        QTest::newRow("hexadecimal") << 1 << u"&h1F"_s << none << 31;
        QTest::newRow("empty library") << 0 << u"3"_s << none << 0;
        QTest::newRow("too large") << 1 << u"9e9"_s << u"says “9e9”不是有效的…1 到 32767"_s << 0;
        QTest::newRow("停止朗读 during poem 2 of 3") << 3 << u"2"_s << u"stop 2"_s << 2;
        QTest::newRow("停止朗读 during the last poem") << 3 << u"1"_s << u"stop 3"_s << 3;
        QTest::newRow("close box during poem 1") << 3 << u"1"_s << u"close 1"_s << 3;
        QTest::newRow("no recording for poem 1") << 3 << u"1"_s << u"missing 1"_s << 3;
    }

    void runEndsOnlyWhenDoneOrStopped()
    {
        QFETCH(int, poems);
        QFETCH(QString, answer);
        QFETCH(QString, event);
        QFETCH(int, plays);
        const QStringList titles = QStringList{u"静夜思"_s, u"春晓"_s, u"登鹳雀楼"_s}.mid(0, poems);
        const int during = event.section(u' ', 1).toInt();
        auto form = open(recorded(titles));
        form->LxLdBz = true; // a stop left over from an earlier run
        if (event.startsWith(u"missing"_s))
            QVERIFY(QFile::remove(folder() + u"/sound/"_s + titles[during - 1] + u".wav"_s));
        int heard = 0;
        QString stopShown;
        m_devices.whilePlaying = [&] {
            QWidget *window = QApplication::activeModalWidget();
            if (++heard != during)
                return;
            if (event.startsWith(u"stop"_s)) {
                QPushButton *stop = button(*window, u"Command1"_s);
                QTest::mouseClick(stop, Qt::LeftButton);
                stopShown = stop->text() + (stop->isEnabled() ? u""_s : u", disabled"_s);
                QTest::mouseClick(stop, Qt::LeftButton);
            } else if (event.startsWith(u"close"_s)) {
                window->close();
            }
        };

        readContinuously(*form, answer);
        if (event.startsWith(u"says"_s))
            said(event.section(u' ', 1));
        QCOMPARE(m_devices.journal.filter(u"FileName="_s).size(), plays);
        QCOMPARE(stopShown, event.startsWith(u"stop"_s) ? u"即将停止, disabled"_s : QString());
        // Every playback window closed its device, however it ended.
        QCOMPARE(m_devices.journal.count(u"Command=close"_s), plays);
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
