#include "Form1.h"

#include "Form2.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "PoemDisplay.h"
#include "SoundCardDevice.h"
#include "WaveDeviceControl.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QMediaDevices>
#include <QPushButton>
#include <QTest>
#include <QtEndian>

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

// The 44-byte header of a 16-bit PCM wave file, its fields taken as given however absurd.
QByteArray waveHeader(quint16 channels, quint32 sampleRate, quint32 dataBytes)
{
    const auto le = [](quint32 value, int bytes) {
        value = qToLittleEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&value), bytes);
    };
    return "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) +
           le(sampleRate, 4) + le(sampleRate * channels * 2, 4) + le(channels * 2, 2) + le(16, 2) +
           "data" + le(dataBytes, 4);
}

QPushButton *button(Form1 &form, const QString &name)
{
    return form.findChild<QPushButton *>(name);
}

QString label(Form1 &form, const QString &name)
{
    return form.findChild<QLabel *>(name)->text();
}

// What the window shows: the counters, which of 朗读, 下一首, 上一首, 帮助, 系统维护 and 连续朗读
// are enabled, and the poem's five lines joined by '|'.
QString shown(Form1 &form)
{
    QString buttons;
    for (const char *name :
         {"Command1_0", "Command1_1", "Command1_2", "Command1_3", "Command1_4", "Command2"})
        buttons += button(form, QLatin1String(name))->isEnabled() ? u'1' : u'0';
    return label(form, u"Label2_0"_s) + u' ' + label(form, u"Label2_1"_s) + u' ' + buttons + u' ' +
           label(form, u"Label1"_s).replace(u'\n', u'|');
}

QStringList listItems(Form1 &form)
{
    QStringList items;
    const QAbstractItemModel *model = form.findChild<QListView *>(u"List1"_s)->model();
    for (int row = 0; row < model->rowCount(); ++row)
        items << model->index(row, 0).data().toString();
    return items;
}

} // namespace

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

    // Carries out an action of the user's on the window, or calls Init_Me after another copy of
    // the program has changed the library.
    void act(Form1 &form, const QString &action)
    {
        if (action.startsWith(u"double-click"_s)) {
            auto *list = form.findChild<QListView *>(u"List1"_s);
            const QModelIndex row = list->model()->index(action.back().digitValue(), 0);
            const QPoint where = row.isValid() ? list->visualRect(row).center() : QPoint(5, 250);
            QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {},
                               list->viewport()->mapTo(&form, where));
        } else if (action == u"Init_Me"_s) {
            writeLibrary(folder(), DengLou + ChunXiao);
            form.Init_Me();
        } else if (action == u"系统维护, 返回"_s) {
            answerNextDialog<Form2>([](Form2 *maintenance) {
                maintenance->findChild<QPushButton *>(u"Command4"_s)->click();
            });
            QTest::mouseClick(button(form, u"Command1_4"_s), Qt::LeftButton);
        } else {
            QTest::mouseClick(button(form, action), Qt::LeftButton);
        }
    }

private Q_SLOTS:
    void designedLook_data()
    {
        addLookColumns();
        const QString song = u"SimSun %1"_s;
        addLook("Form1", u"Kavendo"_s, {270, 1425, 11640, 5430}, u""_s, -1, u"on"_s);
        addLook("Label1", u"静夜思\n床前明月光\n疑是地上霜\n举头望明月\n低头思故乡"_s,
                {2730, 105, 6630, 5160}, song.arg(39.75), -1, u"on"_s);
        addLook("Command1_0", u"朗读"_s, {9555, 105, 2010, 435}, u""_s, 0, u"on"_s);
        addLook("Command1_1", u"下一首"_s, {9555, 525, 2010, 435}, u""_s, 1, u"on"_s);
        addLook("Command1_2", u"上一首"_s, {9555, 945, 2010, 435}, u""_s, 2, u"off"_s);
        addLook("Command1_3", u"帮助"_s, {9555, 1365, 2010, 435}, u""_s, 3, u"on"_s);
        addLook("Command1_4", u"系统维护"_s, {9555, 1785, 2010, 435}, u""_s, 4, u"on"_s);
        // 跟读 is ours: the next place in the column of buttons.
        addLook("Command3", u"跟读"_s, {9555, 2205, 2010, 435}, u""_s, 5, u"on"_s);
        // The counters are wider than designed (1170), so that 共32767首 fits.
        addLook("Label2_0", u"共3首"_s, {9660, 2940, 1350, 330}, song.arg(14.25), -1, u"on"_s);
        addLook("Label2_1", u"第1首"_s, {9660, 3360, 1350, 330}, song.arg(14.25), -1, u"on"_s);
        addLook("Label5", u"版本：1.1.0"_s, {9870, 3990, 1170, 225}, u""_s, -1, u"on"_s);
        addLook("Label4", u"古诗跟我读"_s, {9870, 4515, 1485, 330}, song.arg(12), -1, u"on"_s);
        addLook("Label3", u"双击目录可切换诗词"_s, {9450, 4935, 2010, 330}, u""_s, -1, u"on"_s);
        addLook("MMControl1", u""_s, {11025, 2940, 420, 645}, u""_s, -1, u"hidden"_s);
        addLook("Frame1", u"诗词目录"_s, {105, 105, 2535, 5160}, u""_s, -1, u"on"_s);
        addLook("List1", u"鼠标双击切换"_s, {105, 315, 2325, 4140}, song.arg(12), 6, u"on"_s);
        addLook("Command2", u"连续朗读"_s, {105, 4620, 2325, 435}, u""_s, 7, u"on"_s);
        addLook("Text1", u"Text1"_s, {1785, 0, 435, 270}, u""_s, -1, u"hidden"_s);
    }

    // White characters on a teal panel; the list shows the titles as stored.
    void designedLook()
    {
        auto form = open(record("  " + gbk(u"静夜思"_s), gbk(u"床前明月光"_s), gbk(u"疑是地上霜"_s),
                                gbk(u"举头望明月"_s), gbk(u"低头思故乡"_s)) +
                         ChunXiao + DengLou);
        verifyLook(form.get());
        QCOMPARE(listItems(*form).first(), u"  静夜思"_s + QString(19, u' '));
        const QPalette display = form->findChild<QLabel *>(u"Label1"_s)->palette();
        QCOMPARE(display.color(QPalette::Window), QColor(0, 128, 128));
        QCOMPARE(display.color(QPalette::WindowText), QColor(Qt::white));
    }

    void windowShowsThePoem_data()
    {
        QTest::addColumn<QByteArray>("library"); // null: no file
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("shown");

        const QByteArray three = JingYeSi + ChunXiao + DengLou;
        const QString next = u"Command1_1"_s;
        const QString previous = u"Command1_2"_s;
        QTest::newRow("no library yet")
            << QByteArray() << QStringList() << u"共0首 第0首 000111 "_s;
        QTest::newRow("one poem, spaces trimmed, blank lines kept")
            << record("  " + gbk(u"静夜思"_s), "  " + gbk(u"床前明月光"_s), "",
                      gbk(u"处处闻啼鸟"_s))
            << QStringList() << u"共1首 第1首 100111 静夜思|床前明月光||处处闻啼鸟|"_s;
        QTest::newRow("下一首") << three << QStringList{next} << Second;
        QTest::newRow("下一首 stops at the last")
            << three << QStringList{next, next, next} << Third;
        QTest::newRow("上一首 stops at the first")
            << three << QStringList{next, previous, previous} << First;
        QTest::newRow("double-click a title") << three << QStringList{u"double-click 2"_s} << Third;
        QTest::newRow("double-click with nothing selected")
            << three << QStringList{u"double-click below"_s} << u"共3首 第0首 000111 "_s;
        QTest::newRow("Init_Me after the file changed")
            << three << QStringList{next, u"Init_Me"_s}
            << u"共2首 第1首 110111 登鹳雀楼|白日依山尽|黄河入海流||"_s;
        QTest::newRow("系统维护, 返回") << three << QStringList{next, u"系统维护, 返回"_s} << First;
    }

    void windowShowsThePoem()
    {
        QFETCH(QByteArray, library);
        QFETCH(QStringList, actions);
        auto form = open(library);
        for (const QString &action : actions)
            act(*form, action);
        QTEST(::shown(*form), "shown");
        QCOMPARE(u"共%1首"_s.arg(listItems(*form).size()), label(*form, u"Label2_0"_s));
        QVERIFY(QFileInfo(folder() + u"/Kavendo.dbf"_s).isFile());
    }

    void wholeTextsShow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("poems");
        QTest::addColumn<bool>("designedSize");
        // The most poems the program ever wrote.
        QTest::newRow("32,767 poems") << u"静夜思"_s << 32767 << true;
        QTest::newRow("100,000 poems") << u"静夜思"_s << 100000 << false;
        // As many as the library's field holds.
        QTest::newRow("title of 12 characters") << u"黄河入海流欲穷千里目更上"_s << 1 << false;
    }

    // A count or a title too wide for its place is drawn just small enough to be seen whole, the
    // title on one line clear of the panel's edges.
    void wholeTextsShow()
    {
        QFETCH(QString, title);
        QFETCH(int, poems);
        auto form = open(poem(title).repeated(poems));
        auto *total = form->findChild<QLabel *>(u"Label2_0"_s);
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        QCOMPARE(total->text(), u"共%1首"_s.arg(poems));
        QVERIFY(QFontMetricsF(total->font(), total).horizontalAdvance(total->text()) <=
                total->contentsRect().width());
        const QFont titleFont = display->titleFont();
        QVERIFY(QFontMetricsF(titleFont, display).horizontalAdvance(title) <=
                display->contentsRect().width() - 16);
        QTEST(total->font().pointSizeF() == 14.25 && titleFont == display->font(), "designedSize");
    }

    // With 跟读 pressed, 朗读 tells the device the poem's shape and to pause after each phrase,
    // and the display lights what the device hears; when reading ends nothing is lit.
    void readingLightsThePartHeard()
    {
        writeRecording(folder(), u"静夜思.wav"_s);
        auto form = open(JingYeSi);
        QTest::mouseClick(button(*form, u"Command3"_s), Qt::LeftButton);
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        int lit = PoemDisplay::NoPart;
        m_devices.last()->whilePlaying = [&] {
            m_devices.last()->hearPart(3);
            lit = display->highlightedPart();
        };
        m_devices.journal.clear();
        QTest::mouseClick(button(*form, u"Command1_0"_s), Qt::LeftButton);
        QCOMPARE(m_devices.journal.mid(0, 2).join(u'|'), u"PoemShape=3,5,5,5,5|ReadAfterMe=true"_s);
        QCOMPARE(lit, 3);
        QCOMPARE(display->highlightedPart(), PoemDisplay::NoPart);
    }

    void messagesSayWhatWentWrong_data()
    {
        QTest::addColumn<QByteArray>("library"); // "/": a folder in the file's place
        QTest::addColumn<QString>("failing");    // open: unreadable file; play: no sound output
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("message");

        QTest::newRow("library is a folder")
            << QByteArray("/") << QString() << QString()
            << u"Kavendo: 无法打开诗词库：<app>/Kavendo.dbf（这是一个文件夹，不是文件）"_s;
        QTest::newRow("帮助") << QByteArray() << QString() << u"Command1_3"_s
                              << u"Kavendo: 1. 双击左边“诗词目录”中的诗名，就能看到这首诗。"_s;
        QTest::newRow("朗读 plays, spaces around the title removed")
            << record("  " + gbk(u"春晓"_s) + "  ") << QString() << u"Command1_0"_s << QString();
        QTest::newRow("no recording") << JingYeSi << QString() << u"Command1_0"_s
                                      << u"没有找到《静夜思》的录音：<app>/sound/静夜思.wav"_s;
        QTest::newRow("title naming a place outside the sound folder")
            << record("../" + gbk(u"春晓"_s)) << QString() << u"Command1_0"_s
            << u"《../春晓》没有录音：这个诗名不能用作录音文件的名字"_s;
        QTest::newRow("unreadable recording")
            << JingYeSi << u"open"_s << u"Command1_0"_s
            << u"无法播放《静夜思》的录音：<app>/sound/静夜思.wav（原因）"_s;
        QTest::newRow("no sound output")
            << JingYeSi << u"play"_s << u"Command1_0"_s
            << u"没有可用的放音设备，无法朗读《静夜思》。请检查音箱或耳机（原因）"_s;
    }

    void messagesSayWhatWentWrong()
    {
        QFETCH(QByteArray, library);
        QFETCH(QString, failing);
        QFETCH(QString, click);
        QFETCH(QString, message);
        if (library == "/")
            QVERIFY(QDir(folder()).mkdir(u"Kavendo.dbf"_s));
        writeRecording(folder(), u"春晓.wav"_s);
        writeRecording(folder(), u"../春晓.wav"_s);
        m_devices.failures.insert(failing, {failing == u"open"_s ? DeviceError::Kind::UnreadableFile
                                                                 : DeviceError::Kind::NoDevice,
                                            u"原因"_s});
        auto form = open(library == "/" ? QByteArray() : library);
        QPushButton *readAloud = button(*form, u"Command1_0"_s);
        bool enabledWhilePlaying = false;
        m_devices.last()->whilePlaying = [&] { enabledWhilePlaying |= readAloud->isEnabled(); };
        m_devices.journal.clear();

        if (!click.isEmpty())
            QTest::mouseClick(button(*form, click), Qt::LeftButton);
        QTest::qWait(50);
        if (!message.isEmpty())
            said(message);
        // After reading 朗读 is enabled again, whatever happened; with no poem it stays off.
        QCOMPARE(readAloud->isEnabled(), click == u"Command1_0"_s);
        QVERIFY(!enabledWhilePlaying);
        if (click == u"Command1_0"_s && message.isEmpty())
            QCOMPARE(m_devices.journal.filter(u"FileName"_s),
                     QStringList(u"FileName=%1/sound/春晓.wav"_s.arg(folder())));
    }

    void hostileRecordingsNeitherCrashNorHang_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("size");  // when larger than the bytes, the file grows to it
        QTest::addColumn<QString>("said"); // in the message; none when the recording plays

        const QByteArray halfSecond(22050, '\0');
        QTest::newRow("empty") << QByteArray() << 0LL << u"文件是空的"_s;
        QTest::newRow("text") << QByteArray("Jing Ye Si\n") << 0LL << u"没有能播放的声音"_s;
        QTest::newRow("header alone") << waveHeader(1, 22050, 44100) << 0LL << u"没有声音"_s;
        QTest::newRow("no channels")
            << waveHeader(0, 22050, 22050) + halfSecond << 0LL << u"没有能播放的声音"_s;
        QTest::newRow("sample rate 0")
            << waveHeader(1, 0, 22050) + halfSecond << 0LL << u"没有能播放的声音"_s;
        QTest::newRow("sample rate 1 Hz, six hours long")
            << waveHeader(1, 1, 22050) + halfSecond << 0LL << u"采样率 1 Hz"_s;
        QTest::newRow("data size past the end of the file")
            << waveHeader(1, 22050, 441000) + halfSecond << 0LL << QString();
        // Nearly 4 GB of silence, in a sparse file that takes no room on the disk.
        QTest::newRow("six hours of CD sound")
            << waveHeader(2, 44100, 0xFFFF0000) << 44 + 0xFFFF0000LL << u"超过了 10 分钟"_s;
    }

    // Whatever lies in the sound folder under a poem's name, reading it aloud on the sound card
    // either plays what it holds (half a second of it) or says that it cannot, and the window
    // goes on working.
    void hostileRecordingsNeitherCrashNorHang()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, size);
        QFETCH(QString, said);
        QVERIFY2(!QMediaDevices::defaultAudioOutput().isNull(),
                 "no sound output: is the test server running?");
        QFile file(writeRecording(folder(), u"静夜思.wav"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        QVERIFY(file.resize(qMax(size, qint64(bytes.size()))));
        file.close();
        m_environment.makeWaveDevice = makeSoundCardDevice;
        auto form = open(JingYeSi);

        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(button(*form, u"Command1_0"_s), Qt::LeftButton);
        const qint64 elapsed = clock.elapsed();
        QTest::qWait(50);
        if (!said.isEmpty())
            GuiTest::said(u"无法播放《静夜思》的录音：<app>/sound/静夜思.wav…"_s + said);
        QVERIFY2(elapsed >= (said.isEmpty() ? 450 : 0) && elapsed < 3500,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(button(*form, u"Command1_0"_s)->isEnabled());
        QCOMPARE(form->findChild<WaveDeviceControl *>(u"MMControl1"_s)->mode(),
                 WaveDevice::Mode::Closed);
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
