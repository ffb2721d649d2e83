#include "Form1.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "PoemDisplay.h"
#include "SoundCardDevice.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QMediaDevices>
#include <QPushButton>
#include <QTemporaryDir>
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

// The display as the user sees it.
const QRgb Teal = qRgb(0, 128, 128);

QImage picture(QWidget *display)
{
    return display->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The runs [first, last] of rows, or of columns, of a picture of the display that hold text: a
// run of rows is a line of text.
QList<QPair<int, int>> textRuns(QImage image, Qt::Orientation along)
{
    if (along == Qt::Vertical)
        image = image.transformed(QTransform().rotate(90));
    QList<QPair<int, int>> runs;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (std::all_of(row, row + image.width(), [](QRgb pixel) { return pixel == Teal; }))
            continue;
        if (!runs.isEmpty() && runs.last().second == y - 1)
            runs.last().second = y;
        else
            runs.append({y, y});
    }
    return runs;
}

} // namespace

class Form1Test final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    FakeDevices m_devices;

    std::unique_ptr<Form1> open()
    {
        auto form = std::make_unique<Form1>(Environment{m_folder->path(), m_devices.factory()});
        form->show();
        return form;
    }

    // Carries out an action of the user's on the window, or calls Init_Me after another copy of
    // the program has changed the library.
    void act(Form1 &form, const QString &action)
    {
        if (action == u"Esc"_s) {
            QTest::keyClick(&form, Qt::Key_Escape);
        } else if (action.startsWith(u"double-click"_s)) {
            auto *list = form.findChild<QListView *>(u"List1"_s);
            const QModelIndex row = list->model()->index(action.back().digitValue(), 0);
            const QPoint where = row.isValid() ? list->visualRect(row).center() : QPoint(5, 250);
            QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {},
                               list->viewport()->mapTo(&form, where));
        } else if (action == u"Init_Me"_s) {
            writeLibrary(m_folder->path(), DengLou + ChunXiao);
            form.Init_Me();
        } else if (action == u"系统维护, 返回"_s) {
            answerNextDialog<QDialog>([](QDialog *maintenance) {
                maintenance->findChild<QPushButton *>(u"Command4"_s)->click();
            });
            QTest::mouseClick(button(form, u"Command1_4"_s), Qt::LeftButton);
        } else {
            QTest::mouseClick(button(form, action), Qt::LeftButton);
        }
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_devices = FakeDevices();
    }

    void windowShowsThePoem_data()
    {
        QTest::addColumn<QByteArray>("library"); // empty: no file
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("shown");

        const QByteArray three = JingYeSi + ChunXiao + DengLou;
        const QString next = u"Command1_1"_s;
        const QString previous = u"Command1_2"_s;
        QTest::newRow("no library yet")
            << QByteArray() << QStringList() << u"共0首 第0首 000111 "_s;
        QTest::newRow("three poems, Esc changes nothing")
            << three << QStringList{u"Esc"_s} << First;
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
        QFETCH(QString, shown);
        if (!library.isEmpty())
            writeLibrary(m_folder->path(), library);
        auto form = open();
        for (const QString &action : actions)
            act(*form, action);

        QCOMPARE(::shown(*form), shown);
        QCOMPARE(u"共%1首"_s.arg(listItems(*form).size()), label(*form, u"Label2_0"_s));
        QVERIFY(form->isVisible());
        QCOMPARE(form->windowTitle(), u"Kavendo"_s);
        QVERIFY(QFileInfo(m_folder->filePath(u"Kavendo.dbf"_s)).isFile());
    }

    void displayShowsTheLineBeingRead_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<int>("lines"); // of text on the display
        QTest::addColumn<bool>("designedSize");

        QTest::newRow("ordinary poem") << JingYeSi << 5 << true;
        QTest::newRow("blank title and lines") << record("", "", gbk(u"疑是地上霜"_s)) << 1 << true;
        QTest::newRow("title of 12 characters")
            << poem(u"黄河入海流欲穷千里目更上"_s,
                    {u"床前明月光"_s, u"疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s})
            << 5 << false;
        QTest::newRow("title of 24 letters")
            << record("abcdefghijklmnopqrstuvwx", gbk(u"床前明月光"_s)) << 2 << false;
    }

    // An ordinary poem looks just as a plain label draws it; a title that fills the library's
    // field still fits one line, in smaller characters, clear of the panel's edges. Whichever
    // part is lit, only its colour changes: nothing moves.
    void displayShowsTheLineBeingRead()
    {
        QFETCH(QByteArray, library);
        QFETCH(int, lines);
        QFETCH(bool, designedSize);
        writeLibrary(m_folder->path(), library);
        auto form = open();
        auto *display = form->findChild<PoemDisplay *>(u"Label1"_s);
        const QImage unlit = picture(display);
        const QList<QPair<int, int>> rows = textRuns(unlit, Qt::Horizontal);
        const QList<QPair<int, int>> columns = textRuns(unlit, Qt::Vertical);
        QCOMPARE(rows.size(), lines);
        QVERIFY(rows.first().first > 0 && rows.last().second < unlit.height() - 1);
        QVERIFY(columns.first().first >= 8 && columns.last().second < unlit.width() - 8);
        QCOMPARE(display->titleFont() == display->font(), designedSize);
        if (designedSize) {
            QLabel plain(display->text());
            plain.setFont(display->font());
            plain.setPalette(display->palette());
            plain.setAutoFillBackground(true);
            plain.setAlignment(display->alignment());
            plain.setWordWrap(display->wordWrap());
            plain.resize(display->size());
            QCOMPARE(picture(&plain), unlit);
        }

        const QStringList parts = display->text().split(u'\n');
        for (int part = 0; part < 5; ++part) {
            display->setHighlightedPart(part);
            const QImage lit = picture(display);
            // The part's own run of rows when it holds text; none when it is blank.
            const int run = int(std::count_if(parts.cbegin(), parts.cbegin() + part,
                                              [](const QString &text) { return !text.isEmpty(); }));
            // Only the rows of the part's own text change colour, to the warm one; no text moves.
            for (int y = 0; y < lit.height(); ++y) {
                const bool inPart =
                    !parts[part].isEmpty() && y >= rows[run].first && y <= rows[run].second;
                QVERIFY(inPart || std::memcmp(lit.constScanLine(y), unlit.constScanLine(y),
                                              size_t(lit.bytesPerLine())) == 0);
            }
            const auto *pixels = reinterpret_cast<const QRgb *>(lit.constBits());
            const qsizetype count = lit.width() * lit.height();
            QVERIFY(std::equal(pixels, pixels + count,
                               reinterpret_cast<const QRgb *>(unlit.constBits()),
                               [](QRgb a, QRgb b) { return (a == Teal) == (b == Teal); }));
            QCOMPARE(std::any_of(pixels, pixels + count,
                                 [](QRgb pixel) { return qRed(pixel) - qBlue(pixel) > 150; }),
                     !parts[part].isEmpty());
        }
        display->setHighlightedPart(PoemDisplay::NoPart);
        QCOMPARE(picture(display), unlit);
    }

    // With 跟读 pressed, 朗读 tells the device the poem's shape and to pause after each phrase,
    // and the display lights what the device hears; when reading ends nothing is lit.
    void readingLightsThePartHeard()
    {
        writeLibrary(m_folder->path(), JingYeSi);
        writeRecording(m_folder->path(), u"静夜思.wav"_s);
        auto form = open();
        QPushButton *readAfterMe = button(*form, u"Command3"_s);
        QVERIFY(readAfterMe->text() == u"跟读"_s && !readAfterMe->isChecked());
        QTest::mouseClick(readAfterMe, Qt::LeftButton);

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

    // 共32767首, the largest library the program writes, keeps the designed size; a larger
    // library made elsewhere still shows its whole count.
    void countersShowWholeCounts()
    {
        for (const int poems : {32767, 100000}) {
            writeLibrary(m_folder->path(), JingYeSi.repeated(poems));
            auto form = open();
            auto *total = form->findChild<QLabel *>(u"Label2_0"_s);
            QCOMPARE(total->text(), u"共%1首"_s.arg(poems));
            QVERIFY(QFontMetricsF(total->font(), total).horizontalAdvance(total->text()) <=
                    total->contentsRect().width());
            QCOMPARE(total->font().pointSizeF() == 14.25, poems == 32767);
        }
    }

    void listShowsTitlesAsStored()
    {
        writeLibrary(m_folder->path(), record("  " + gbk(u"静夜思"_s)) + ChunXiao);
        auto form = open();
        QCOMPARE(listItems(*form),
                 QStringList({u"  静夜思"_s + QString(19, u' '), u"春晓"_s + QString(22, u' ')}));
    }

    void messagesSayWhatWentWrong_data()
    {
        QTest::addColumn<QByteArray>("library"); // "/": a folder in the file's place
        QTest::addColumn<QString>("failing");    // open: unreadable file; play: no sound output
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("message"); // its first line, %1 the folder

        QTest::newRow("library is a folder")
            << QByteArray("/") << QString() << QString()
            << u"无法打开诗词库：%1/Kavendo.dbf（这是一个文件夹，不是文件）"_s;
        QTest::newRow("帮助") << QByteArray() << QString() << u"Command1_3"_s
                              << u"1. 双击左边“诗词目录”中的诗名，就能看到这首诗。"_s;
        QTest::newRow("朗读 plays, spaces around the title removed")
            << record("  " + gbk(u"春晓"_s) + "  ") << QString() << u"Command1_0"_s << QString();
        QTest::newRow("no recording") << JingYeSi << QString() << u"Command1_0"_s
                                      << u"没有找到《静夜思》的录音：%1/sound/静夜思.wav"_s;
        QTest::newRow("title naming a place outside the sound folder")
            << record("../" + gbk(u"春晓"_s)) << QString() << u"Command1_0"_s
            << u"《../春晓》没有录音：这个诗名不能用作录音文件的名字"_s;
        QTest::newRow("unreadable recording")
            << JingYeSi << u"open"_s << u"Command1_0"_s
            << u"无法播放《静夜思》的录音：%1/sound/静夜思.wav（原因）"_s;
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
            QVERIFY(QDir(m_folder->path()).mkdir(u"Kavendo.dbf"_s));
        else if (!library.isEmpty())
            writeLibrary(m_folder->path(), library);
        writeRecording(m_folder->path(), u"春晓.wav"_s);
        writeRecording(m_folder->path(), u"../春晓.wav"_s);
        m_devices.failures.insert(failing, {failing == u"open"_s ? DeviceError::Kind::UnreadableFile
                                                                 : DeviceError::Kind::NoDevice,
                                            u"原因"_s});
        MessageBoxCatcher catcher;
        auto form = open();
        QPushButton *readAloud = button(*form, u"Command1_0"_s);
        bool enabledWhilePlaying = false;
        m_devices.last()->whilePlaying = [&] { enabledWhilePlaying |= readAloud->isEnabled(); };
        m_devices.journal.clear();

        if (!click.isEmpty())
            QTest::mouseClick(button(*form, click), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(catcher.seen() ? catcher.text().section(u'\n', 0, 0) : QString(),
                 message.isEmpty() ? message : message.arg(m_folder->path()));
        QCOMPARE(catcher.seen() ? catcher.title() : u"Kavendo"_s, u"Kavendo"_s);
        // After reading 朗读 is enabled again, whatever happened; with no poem it stays off.
        QCOMPARE(readAloud->isEnabled(), click == u"Command1_0"_s);
        QVERIFY(!enabledWhilePlaying);
        if (click == u"Command1_0"_s && message.isEmpty())
            QCOMPARE(
                m_devices.journal.join(u'|'),
                u"PoemShape=2,0,0,0,0|ReadAfterMe=false|Notify=false|FileName=%1/sound/春晓.wav|"
                u"Command=open|Wait=true|Command=play|Command=close"_s.arg(m_folder->path()));
    }

    void hostileRecordingsNeitherCrashNorHang_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("size");  // when larger than the bytes, the file grows to it
        QTest::addColumn<QString>("said"); // in the message; none when the recording plays

        const QByteArray halfSecond(22050, '\0');
        QTemporaryDir folder;
        const QString aiff = folder.filePath(u"tone.aiff"_s);
        QVERIFY(writeTone(QFile::encodeName(aiff), SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, {0.5},
                          11025));
        QFile aiffFile(aiff);
        QVERIFY(aiffFile.open(QIODevice::ReadOnly));
        // An MP3 as a player finds it: an ID3 tag naming the poem, then twenty silent MPEG-1
        // layer III frames (128 kbit/s, 44.1 kHz, 1152 samples each).
        const QByteArray mp3 =
            "ID3\x03" + QByteArray(5, '\0') + "\x15TIT2" + QByteArray(3, '\0') + "\x0B" +
            QByteArray(3, '\0') + "Jing Ye Si" +
            (QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, '\0')).repeated(20);

        QTest::newRow("empty") << QByteArray() << 0LL << u"文件是空的"_s;
        QTest::newRow("text") << QByteArray("Jing Ye Si\n") << 0LL << u"没有能播放的声音"_s;
        QTest::newRow("header alone") << waveHeader(1, 22050, 44100) << 0LL << u"没有声音"_s;
        QTest::newRow("MP3") << mp3 << 0LL << QString();
        QTest::newRow("AIFF") << aiffFile.readAll() << 0LL << QString();
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
        writeLibrary(m_folder->path(), JingYeSi);
        QFile file(writeRecording(m_folder->path(), u"静夜思.wav"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        QVERIFY(file.resize(qMax(size, qint64(bytes.size()))));
        file.close();
        Form1 form(Environment{m_folder->path(), makeSoundCardDevice});
        form.show();

        MessageBoxCatcher catcher;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(button(form, u"Command1_0"_s), Qt::LeftButton);
        const qint64 elapsed = clock.elapsed();
        QTest::qWait(50);
        QVERIFY2(said.isEmpty() ? !catcher.seen()
                                : catcher.text().startsWith(u"无法播放《静夜思》的录音："_s +
                                                            file.fileName()) &&
                                      catcher.text().contains(said),
                 qPrintable(catcher.text()));
        QVERIFY2(elapsed >= (said.isEmpty() ? 450 : 0) && elapsed < 3500,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(button(form, u"Command1_0"_s)->isEnabled());
        QCOMPARE(form.findChild<WaveDeviceControl *>(u"MMControl1"_s)->mode(),
                 WaveDevice::Mode::Closed);
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
