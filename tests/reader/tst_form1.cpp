#include "Form1.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QMediaDevices>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QByteArray JingYeSi =
    poem(u"静夜思"_s, {u"床前明月光"_s, u"疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s});
const QByteArray ChunXiao = poem(u"春晓"_s, {u"春眠不觉晓"_s, u"处处闻啼鸟"_s});
const QByteArray DengLou = poem(u"登鹳雀楼"_s, {u"白日依山尽"_s, u"黄河入海流"_s});

QByteArray littleEndian(quint32 value, int bytes)
{
    QByteArray encoded;
    for (int i = 0; i < bytes; ++i)
        encoded += char(value >> (8 * i));
    return encoded;
}

// The 44-byte header of a 16-bit PCM wave file, its fields taken as given however absurd.
QByteArray waveHeader(quint16 channels, quint32 sampleRate, quint32 dataBytes)
{
    return "RIFF" + littleEndian(36 + dataBytes, 4) + "WAVEfmt " + littleEndian(16, 4) +
           littleEndian(1, 2) + littleEndian(channels, 2) + littleEndian(sampleRate, 4) +
           littleEndian(sampleRate * channels * 2, 4) + littleEndian(channels * 2, 2) +
           littleEndian(16, 2) + "data" + littleEndian(dataBytes, 4);
}

// Frames of the fixture tone as 16-bit mono samples.
QByteArray tonePcm(int frames, int sampleRate)
{
    QByteArray pcm;
    for (int frame = 0; frame < frames; ++frame)
        pcm += littleEndian(quint16(qint16(toneSample(frame, sampleRate, 0.5) * 32767)), 2);
    return pcm;
}

// An MP3 as a player finds it: an ID3 tag naming the poem, then MPEG-1 layer III frame headers
// (128 kbit/s, 44.1 kHz, 417 bytes a frame, 1152 samples), each followed by `payload` bytes.
QByteArray mp3Bytes(int payload)
{
    const QByteArray text = QByteArray(1, '\0') + "Jing Ye Si";
    const QByteArray frame =
        "TIT2" + QByteArray(3, '\0') + char(text.size()) + QByteArray(2, '\0') + text;
    QByteArray bytes = "ID3\x03" + QByteArray(5, '\0') + char(frame.size()) + frame;
    for (int i = 0; i < 20; ++i)
        bytes += QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(payload, '\0');
    return bytes;
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

    static QPushButton *button(Form1 &form, const char *name)
    {
        return form.findChild<QPushButton *>(QLatin1String(name));
    }

    static QString text(Form1 &form, const char *label)
    {
        return form.findChild<QLabel *>(QLatin1String(label))->text();
    }

    // Enabled states of 朗读, 下一首, 上一首, 帮助, 系统维护 and 连续朗读, as 1s and 0s.
    static QString buttonStates(Form1 &form)
    {
        QString states;
        for (const char *name :
             {"Command1_0", "Command1_1", "Command1_2", "Command1_3", "Command1_4", "Command2"})
            states += button(form, name)->isEnabled() ? u'1' : u'0';
        return states;
    }

    static QStringList listItems(Form1 &form)
    {
        QStringList items;
        const QAbstractItemModel *model = form.findChild<QListView *>(u"List1"_s)->model();
        for (int row = 0; row < model->rowCount(); ++row)
            items << model->index(row, 0).data().toString();
        return items;
    }

    // A double-click as the window system delivers it: press, release, press, release.
    static void doubleClickList(Form1 &form, QPoint where)
    {
        auto *list = form.findChild<QListView *>(u"List1"_s);
        QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {},
                           list->viewport()->mapTo(&form, where));
    }

    static QPoint rowCentre(Form1 &form, int row)
    {
        auto *list = form.findChild<QListView *>(u"List1"_s);
        return list->visualRect(list->model()->index(row, 0)).center();
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_devices = FakeDevices();
    }

    void emptyLibraryShowsNothing_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("missing file") << false;
        QTest::newRow("empty file") << true;
    }

    void emptyLibraryShowsNothing()
    {
        QFETCH(bool, fileExists);
        if (fileExists)
            writeLibrary(m_folder->path(), {});
        auto form = open();

        QCOMPARE(listItems(*form), QStringList());
        QCOMPARE(text(*form, "Label1"), QString());
        QCOMPARE(text(*form, "Label2_0"), u"共0首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第0首"_s);
        QCOMPARE(buttonStates(*form), u"000111"_s);
        QVERIFY(QFile::exists(m_folder->filePath(u"Kavendo.dbf"_s)));
        QCOMPARE(form->windowTitle(), u"Kavendo"_s);
    }

    void onePoemCanBeReadButNotStepped()
    {
        writeLibrary(m_folder->path(), JingYeSi);
        auto form = open();
        QCOMPARE(text(*form, "Label2_0"), u"共1首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(buttonStates(*form), u"100111"_s);
    }

    void steppingStaysWithinTheLibrary()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();
        auto *list = form->findChild<QListView *>(u"List1"_s);
        list->setCurrentIndex(list->model()->index(1, 0));

        const QList<std::pair<const char *, QString>> steps{
            {"Command1_1", u"第2首 111111 春晓"_s},     {"Command1_1", u"第3首 101111 登鹳雀楼"_s},
            {"Command1_1", u"第3首 101111 登鹳雀楼"_s}, {"Command1_2", u"第2首 111111 春晓"_s},
            {"Command1_2", u"第1首 110111 静夜思"_s},   {"Command1_2", u"第1首 110111 静夜思"_s}};
        for (const auto &[name, expected] : steps) {
            QTest::mouseClick(button(*form, name), Qt::LeftButton);
            const QString seen = text(*form, "Label2_1") + u' ' + buttonStates(*form) + u' ' +
                                 text(*form, "Label1").section(u'\n', 0, 0);
            QCOMPARE(seen, expected);
        }
        QCOMPARE(text(*form, "Label2_0"), u"共3首"_s);
        QCOMPARE(list->selectionModel()->selectedIndexes().value(0).row(), 1);
    }

    void displayShowsFiveTrimmedLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("display");

        QTest::newRow("full poem")
            << JingYeSi << u"静夜思\n床前明月光\n疑是地上霜\n举头望明月\n低头思故乡"_s;
        QTest::newRow("spaces around title and lines")
            << record("  " + gbk(u"静夜思"_s), "  " + gbk(u"床前明月光"_s))
            << u"静夜思\n床前明月光\n\n\n"_s;
        QTest::newRow("blank title and blank line keep their places")
            << record("", gbk(u"春眠不觉晓"_s), "", gbk(u"处处闻啼鸟"_s))
            << u"\n春眠不觉晓\n\n处处闻啼鸟\n"_s;
        QTest::newRow("tabs and full-width spaces are not trimmed")
            << record("\t" + gbk(u"春晓"_s) + "\xA1\xA1") << u"\t春晓\u3000\n\n\n\n"_s;
    }

    void displayShowsFiveTrimmedLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, display);
        writeLibrary(m_folder->path(), bytes);
        auto form = open();
        QCOMPARE(text(*form, "Label1"), display);
    }

    void listShowsTitlesAsStored()
    {
        writeLibrary(m_folder->path(), record("  " + gbk(u"静夜思"_s)) + ChunXiao);
        auto form = open();
        QCOMPARE(listItems(*form),
                 QStringList({u"  静夜思"_s + QString(19, u' '), u"春晓"_s + QString(22, u' ')}));
    }

    void doubleClickShowsTheSelectedPoem()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();

        doubleClickList(*form, rowCentre(*form, 2));
        QCOMPARE(text(*form, "Label2_1"), u"第3首"_s);
        QCOMPARE(text(*form, "Label1").section(u'\n', 0, 0), u"登鹳雀楼"_s);
        QCOMPARE(buttonStates(*form), u"101111"_s);

        // With nothing selected, a double-click shows no poem at all.
        form->findChild<QListView *>(u"List1"_s)->clearSelection();
        doubleClickList(*form, QPoint(5, 250));
        QCOMPARE(text(*form, "Label2_1"), u"第0首"_s);
        QCOMPARE(text(*form, "Label1"), QString());
        QCOMPARE(buttonStates(*form), u"000111"_s);

        doubleClickList(*form, rowCentre(*form, 0));
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(buttonStates(*form), u"110111"_s);
    }

    void readAloudPlaysTheRecordingToItsEnd_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("recording");

        QTest::newRow("title as stored") << JingYeSi << u"静夜思.wav"_s;
        QTest::newRow("spaces around the title")
            << record("  " + gbk(u"春晓"_s) + "  ", gbk(u"春眠不觉晓"_s)) << u"春晓.wav"_s;
        QTest::newRow("ascii title") << record("Spring Dawn") << u"Spring Dawn.wav"_s;
    }

    void readAloudPlaysTheRecordingToItsEnd()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, recording);
        writeLibrary(m_folder->path(), bytes);
        writeRecording(m_folder->path(), recording);
        auto form = open();
        QPushButton *readAloud = button(*form, "Command1_0");
        bool enabledWhilePlaying = true;
        m_devices.last()->whilePlaying = [&] { enabledWhilePlaying = readAloud->isEnabled(); };
        m_devices.journal.clear();

        MessageBoxCatcher noMessage;
        QTest::mouseClick(readAloud, Qt::LeftButton);

        const QString path = m_folder->path() + u"/sound/"_s + recording;
        QCOMPARE(m_devices.journal,
                 QStringList({u"Notify=false"_s, u"FileName="_s + path, u"Command=open"_s,
                              u"Wait=true"_s, u"Command=play"_s, u"Command=close"_s}));
        QVERIFY(!enabledWhilePlaying);
        QVERIFY(readAloud->isEnabled());
        QTest::qWait(50);
        QVERIFY(!noMessage.seen());
    }

    void readAloudSaysWhatWentWrong_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("failingCommand");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");

        const auto missing = int(DeviceError::Kind::MissingFile);
        QTest::newRow("no recording") << JingYeSi << QString() << missing
                                      << u"没有找到《静夜思》的录音：%1/sound/静夜思.wav"_s;
        QTest::newRow("title naming a place outside the sound folder")
            << record("../" + gbk(u"春晓"_s)) << QString() << missing
            << u"没有找到《../春晓》的录音：%1/sound/../春晓.wav"_s;
        QTest::newRow("unreadable recording")
            << JingYeSi << u"open"_s << int(DeviceError::Kind::UnreadableFile)
            << u"无法播放《静夜思》的录音：%1/sound/静夜思.wav（原因）"_s;
        QTest::newRow("no sound output")
            << JingYeSi << u"play"_s << int(DeviceError::Kind::NoDevice)
            << u"没有可用的放音设备，无法朗读《静夜思》。请检查音箱或耳机（原因）"_s;
    }

    void readAloudSaysWhatWentWrong()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, failingCommand);
        QFETCH(int, kind);
        QFETCH(QString, message);
        writeLibrary(m_folder->path(), bytes);
        // Something outside the sound folder that the title would name.
        writeRecording(m_folder->path(), u"../春晓.wav"_s);
        if (!failingCommand.isEmpty()) {
            writeRecording(m_folder->path(), u"静夜思.wav"_s);
            m_devices.failures.insert(failingCommand,
                                      DeviceError{DeviceError::Kind(kind), u"原因"_s});
        }
        auto form = open();
        m_devices.journal.clear();

        MessageBoxCatcher catcher;
        QTest::mouseClick(button(*form, "Command1_0"), Qt::LeftButton);
        QTRY_VERIFY(catcher.seen());
        QCOMPARE(catcher.text(), message.arg(m_folder->path()));
        QCOMPARE(catcher.title(), u"Kavendo"_s);
        QCOMPARE(m_devices.journal.last(), u"Command=close"_s);
        QVERIFY(button(*form, "Command1_0")->isEnabled());
    }

    void hostileRecordingsNeitherCrashNorHang_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");    // not 0: a 0.5 s tone written by libsndfile instead
        QTest::addColumn<qint64>("size");   // larger than the bytes: the file grows to this size
        QTest::addColumn<QString>("said");  // in the message; none when the recording plays
        QTest::addColumn<int>("playingMs"); // how long the valid sound in it plays

        const QByteArray tone = tonePcm(11025, 22050);
        QTest::newRow("empty") << QByteArray() << 0 << 0LL << u"文件是空的"_s << 0;
        QTest::newRow("text") << u"床前明月光，疑是地上霜。"_s.toUtf8() << 0 << 0LL
                              << u"没有能播放的声音"_s << 0;
        QTest::newRow("header and nothing after it")
            << waveHeader(1, 22050, 44100) << 0 << 0LL << u"没有声音"_s << 0;
        QTest::newRow("MP3 frame headers alone")
            << mp3Bytes(0) << 0 << 0LL << u"没有能播放的声音"_s << 0;
        QTest::newRow("MP3 of silent frames") << mp3Bytes(413) << 0 << 0LL << QString() << 520;
        QTest::newRow("AIFF") << QByteArray() << int(SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 0LL
                              << QString() << 500;
        QTest::newRow("no channels")
            << waveHeader(0, 22050, 22050) + tone << 0 << 0LL << u"没有能播放的声音"_s << 0;
        QTest::newRow("sample rate 0")
            << waveHeader(1, 0, 22050) + tone << 0 << 0LL << u"没有能播放的声音"_s << 0;
        QTest::newRow("sample rate 1 Hz, six hours long")
            << waveHeader(1, 1, 22050) + tone << 0 << 0LL << u"采样率 1 Hz"_s << 0;
        QTest::newRow("sample rate no sound card has")
            << waveHeader(1, 0x7FFFFFFF, 22050) + tone << 0 << 0LL << u"采样率 2147483647 Hz"_s
            << 0;
        QTest::newRow("data size past the end of the file")
            << waveHeader(1, 22050, 441000) + tone << 0 << 0LL << QString() << 500;
        // Nearly 4 GB of silence, in a sparse file that takes no room on the disk.
        QTest::newRow("six hours of CD sound") << waveHeader(2, 44100, 0xFFFF0000) << 0
                                               << 44 + 0xFFFF0000LL << u"超过了 10 分钟"_s << 0;
    }

    // Recordings come from old computers, USB sticks and other programs: whatever lies in the
    // sound folder under a poem's name, reading it aloud on the sound card either plays what it
    // holds or says that it cannot, and the window goes on working.
    void hostileRecordingsNeitherCrashNorHang()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        QFETCH(qint64, size);
        QFETCH(QString, said);
        QFETCH(int, playingMs);
        QVERIFY2(!QMediaDevices::defaultAudioOutput().isNull(),
                 "no sound output: is the test server running?");
        writeLibrary(m_folder->path(), JingYeSi);
        const QString path = writeRecording(m_folder->path(), u"静夜思.wav"_s);
        if (format != 0) {
            QVERIFY(writeTone(QFile::encodeName(path), format, 22050, {0.5}, 11025));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(bytes), bytes.size());
            if (size > bytes.size())
                QVERIFY(file.resize(size));
        }
        auto form = std::make_unique<Form1>(Environment{m_folder->path(), makeSoundCardDevice});
        form->show();

        MessageBoxCatcher catcher;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(button(*form, "Command1_0"), Qt::LeftButton);
        const qint64 elapsed = clock.elapsed();
        if (said.isEmpty()) {
            QTest::qWait(50);
            QVERIFY2(!catcher.seen(), qPrintable(catcher.text()));
            QVERIFY2(elapsed >= playingMs - 50 && elapsed < playingMs + 3000,
                     qPrintable(QString::number(elapsed)));
        } else {
            QVERIFY(catcher.seen());
            QVERIFY2(catcher.text().startsWith(u"无法播放《静夜思》的录音："_s + path) &&
                         catcher.text().contains(said),
                     qPrintable(catcher.text()));
            QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
        }
        QVERIFY(button(*form, "Command1_0")->isEnabled());
        QCOMPARE(form->findChild<WaveDeviceControl *>(u"MMControl1"_s)->mode(),
                 WaveDevice::Mode::Closed);
    }

    void helpShowsAMessage()
    {
        auto form = open();
        MessageBoxCatcher catcher;
        QTest::mouseClick(button(*form, "Command1_3"), Qt::LeftButton);
        QTRY_VERIFY(catcher.seen());
        QCOMPARE(catcher.title(), u"Kavendo"_s);
        QVERIFY(catcher.text().contains(u"朗读"_s));
    }

    void reloadShowsPoemOneOfTheNewLibrary()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao);
        auto form = open();
        QTest::mouseClick(button(*form, "Command1_1"), Qt::LeftButton);
        QCOMPARE(text(*form, "Label2_1"), u"第2首"_s);

        writeLibrary(m_folder->path(), DengLou + ChunXiao + JingYeSi);
        form->Init_Me();
        QCOMPARE(text(*form, "Label2_0"), u"共3首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(text(*form, "Label1").section(u'\n', 0, 0), u"登鹳雀楼"_s);
        QCOMPARE(listItems(*form).size(), 3);
    }

    void maintenanceReloadsOnlyThroughItsReturnButton_data()
    {
        QTest::addColumn<bool>("throughReturn");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("records");

        QTest::newRow("返回 saves and shows poem 1") << true << u"第1首"_s << 3;
        QTest::newRow("close box neither saves nor reloads") << false << u"第2首"_s << 2;
    }

    void maintenanceReloadsOnlyThroughItsReturnButton()
    {
        QFETCH(bool, throughReturn);
        QFETCH(QString, shown);
        QFETCH(int, records);
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();
        QTest::mouseClick(button(*form, "Command1_1"), Qt::LeftButton);

        answerNextDialog<QDialog>([&](QDialog *maintenance) {
            QCOMPARE(maintenance->windowTitle(), u"Kavendo——系统维护"_s);
            // Another copy of the program changed the library meanwhile.
            writeLibrary(m_folder->path(), JingYeSi + ChunXiao);
            if (throughReturn)
                QTest::mouseClick(maintenance->findChild<QPushButton *>(u"Command4"_s),
                                  Qt::LeftButton);
            else
                maintenance->close();
        });
        QTest::mouseClick(button(*form, "Command1_4"), Qt::LeftButton);

        QCOMPARE(text(*form, "Label2_1"), shown);
        QCOMPARE(listItems(*form).size(), 3);
        QCOMPARE(QFileInfo(m_folder->filePath(u"Kavendo.dbf"_s)).size(), records * 88);
    }

    void unreadableLibraryIsNamedAndLeavesTheWindowEmpty()
    {
        QVERIFY(QDir(m_folder->path()).mkdir(u"Kavendo.dbf"_s));
        MessageBoxCatcher catcher;
        auto form = open();
        QVERIFY(catcher.seen());
        QCOMPARE(
            catcher.text(),
            u"无法打开诗词库：%1/Kavendo.dbf（这是一个文件夹，不是文件）"_s.arg(m_folder->path()));
        QCOMPARE(text(*form, "Label2_0"), u"共0首"_s);
        QCOMPARE(buttonStates(*form), u"000111"_s);
    }

    void escapeDoesNotCloseTheWindow()
    {
        auto form = open();
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
