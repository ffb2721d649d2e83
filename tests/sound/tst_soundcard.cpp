#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "SystemError.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMediaDevices>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

// Breaks a sink or a source of the test's sound server ("sink null", "source mic"), as a sound
// card that fails does, or mends it.
void suspend(const QString &what, bool suspended)
{
    QProcess::execute(u"pactl"_s, {u"suspend-"_s + what.section(u' ', 0, 0), what.section(u' ', 1),
                                   suspended ? u"1"_s : u"0"_s});
}

} // namespace

// Plays into and records from the test's sound server, whose "mic" hears what is played.
class SoundCardTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<WaveDeviceControl> m_control;

    // A 16-bit tone in a file under the application folder.
    QString tone(const QString &file, int rate, double seconds, double amplitude = 0.5)
    {
        const QString path = m_folder->filePath(file);
        QDir().mkpath(QFileInfo(path).path());
        writeTone(QFile::encodeName(path), SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, {amplitude},
                  sf_count_t(seconds * rate));
        return path;
    }

    QPushButton *button(const QString &name) { return m_control->findChild<QPushButton *>(name); }

private Q_SLOTS:
    void initTestCase()
    {
        if (QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("needs the test sound server, and there is no sound output");
        std::signal(SIGXFSZ, SIG_IGN); // past the file size limit, a write fails instead
    }

    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_folder->filePath(u"data"_s)));
        m_control = std::make_unique<WaveDeviceControl>();
    }

    void cleanup()
    {
        m_control.reset();
        m_folder.reset();
        // The device leaves its sound streams to the event loop to delete.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void readAloud_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("reading"); // with the title and the first line found, or not
        QTest::addColumn<int>("lengthMs");    // what is heard, pauses included
        QTest::addColumn<int>("longestMs");   // until reading aloud returns
        // When the title, the gap after it, the first line and the rest begin to be heard, in
        // milliseconds of the played sound.
        QTest::addColumn<QList<int>>("starts");
        const QList<int> none;
        QTest::newRow("1 s") << 22050 << 1.0 << QString() << 1000 << 1100 << none;
        // Shorter than the sound output's buffer.
        QTest::newRow("0.1 s") << 22050 << 0.1 << QString() << 100 << 700 << none;
        QTest::newRow("11,025 Hz") << 11025 << 0.5 << QString() << 500 << 650 << none;
        QTest::newRow("lit as heard")
            << 22050 << 1.0 << u"found"_s << 1000 << 1150 << QList{100, 300, 500, 700};
        // 跟读 pauses after each part for as long as the part lasted and a second more, the part
        // staying lit meanwhile.
        QTest::newRow("跟读") << 22050 << 1.0 << u"found, read after me"_s << 3400 << 3550
                              << QList{100, 1500, 1700, 3100};
        QTest::newRow("跟读, phrases unknown")
            << 22050 << 1.0 << u"read after me"_s << 1000 << 1150 << none;
        // A sound output that takes no more sound never keeps the window waiting: reading aloud
        // ends a moment after the sound should have (here 0.3 s, not 5 s), and says why.
        QTest::newRow("the output stalls") << 22050 << 0.5 << u"stalled"_s << 800 << 1300 << none;
    }

    // Reading aloud is heard, lights each part as it is heard, and returns when the sound has
    // ended. Clicks made meanwhile are thrown away, not carried out afterwards (three on 下一首
    // must not jump three poems), except on a button that is meant to work during the sound.
    void readAloud()
    {
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(QString, reading);
        QFETCH(int, lengthMs);
        QFETCH(int, longestMs);
        QFETCH(QList<int>, starts);
        const QString path = tone(u"sound/静夜思.wav"_s, rate, seconds);
        const bool stalled = reading == u"stalled"_s;
        const auto phrases = reading.startsWith(u"found"_s)
                                 ? std::optional(std::vector<Phrase>{{0, 100, 300}, {1, 500, 700}})
                                 : std::nullopt;
        m_control->setDevice(std::make_unique<SoundCardDevice>(
            [phrases](const Clip &, const PoemShape &) { return phrases; },
            SoundLimits{.playSlackMs = stalled ? 300 : 5000}));
        m_control->setPoemShape({3, {5, 5, 5, 5}});
        m_control->setReadAfterMe(reading.endsWith(u"read after me"_s));
        suspend(u"sink null"_s, stalled);
        const auto resume = qScopeGuard([] { suspend(u"sink null"_s, false); });
        // Should it wait for ever after all, the test ends it.
        QTimer::singleShot(5000, m_control.get(), [this] { m_control->stop(); });
        QList<int> lit;
        QList<qint64> late; // how long after the sound output reached the start of the part
        connect(m_control.get(), &WaveDeviceControl::partHeard, this, [&](int part) {
            lit << part;
            late << m_control->position() - starts.value(lit.size() - 1);
        });
        QWidget window;
        auto *next = new QPushButton(u"下一首"_s, &window);
        auto *stop = new QPushButton(u"停止朗读"_s, &window);
        stop->move(0, 40);
        stayUsableWhilePlaying(stop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList clicked;
        for (QPushButton *button : {next, stop}) {
            connect(button, &QPushButton::clicked, this, [&, button] {
                const bool playing = m_control->mode() == WaveDevice::Mode::Playing;
                clicked << button->text() + (playing ? u" while playing"_s : u" afterwards"_s);
            });
        }
        bool busyWhilePlaying = false;
        QTimer::singleShot(lengthMs / 2, &window, [&] {
            const QCursor *cursor = QApplication::overrideCursor();
            busyWhilePlaying = m_control->mode() == WaveDevice::Mode::Playing && cursor &&
                               cursor->shape() == Qt::BusyCursor;
            for (QPushButton *button : {next, next, next, stop})
                clickAsUser(button);
        });

        QElapsedTimer clock;
        clock.start();
        const std::optional<DeviceError> failure = ::playToEnd(*m_control, path);
        const qint64 elapsed = clock.elapsed();
        qInfo() << "played" << lengthMs << "ms in" << elapsed << "ms; lit" << late
                << "ms after the sound output reached each part";
        QCOMPARE(failure ? failure->detail : QString(),
                 stalled ? u"放音设备没有放完声音，可能出了故障"_s : QString());
        QVERIFY2(elapsed >= lengthMs * 9 / 10 && elapsed <= longestMs,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(busyWhilePlaying);
        QTest::qWait(50);
        QCOMPARE(clicked, QStringList{u"停止朗读 while playing"_s});
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(lit, starts.isEmpty() ? QList<int>() : (QList{0, -1, 1, -1}));
        // Never early, and as a rule within a tick or two; a computer busy with other work may
        // leave the window itself waiting for a tenth of a second now and then.
        std::ranges::sort(late);
        QVERIFY2(late.isEmpty() || (late.first() >= 0 && late[late.size() / 2] <= 30),
                 "lit away from the sound");
    }

    void recordAndSave_data()
    {
        QTest::addColumn<QString>("path");    // under the application folder
        QTest::addColumn<double>("loudness"); // of the tone played while recording; none if < 0
        QTest::addColumn<QString>("ending");  // of the take: ■, unplugged, or left running
        QTest::addColumn<bool>("older");      // a recording is there already
        QTest::addColumn<int>("sizeLimit");   // for any file, in bytes; none when 0
        QTest::addColumn<QString>("failure"); // the device's words; empty when the save works
        const QString path = u"sound/春晓.wav"_s, stop = u"■"_s;
        QTest::newRow("saved") << path << 0.5 << stop << false << 0 << QString();
        QTest::newRow("saved over an older one, which goes to the trash")
            << path << 0.5 << stop << true << 0 << QString();
        QTest::newRow("saved after listening to the older one, stopped by ■")
            << path << 0.5 << u"▶■ ■"_s << true << 0 << QString();
        // What came before is kept, and a take never grows too long to be played (here a second
        // and a half, not ten minutes).
        QTest::newRow("the microphone is unplugged")
            << path << 0.5 << u"unplugged"_s << false << 0 << QString();
        QTest::newRow("left running")
            << path << 0.5 << u"left running"_s << false << 0 << QString();
        QTest::newRow("nothing recorded") << path << -1.0 << stop << false << 0 << u"还没有录音"_s;
        QTest::newRow("a silent microphone")
            << path << 0.0 << stop << true << 0 << u"录音几乎没有声音"_s;
        QTest::newRow("outside the sound folder")
            << u"other/春晓.wav"_s << 0.5 << stop << false << 0 << u"录音只能存在 sound 文件夹里"_s;
        QTest::newRow("sound is a file")
            << path << 0.5 << stop << false << 0 << reasonText(ENOTDIR);
        QTest::newRow("disk refuses the bytes over an older recording")
            << path << 0.5 << stop << true << 2000 << reasonText(EFBIG);
    }

    // Recorded from the server's "mic" while a tone plays, the meter showing its loudness, and
    // saved. A take ends with ■, when the sound input breaks off, or by itself when left
    // running; a save that fails loses nothing, and a silent take replaces nothing.
    void recordAndSave()
    {
        QFETCH(QString, path);
        QFETCH(double, loudness);
        QFETCH(QString, ending);
        QFETCH(bool, older);
        QFETCH(int, sizeLimit);
        QFETCH(QString, failure);
        path = m_folder->filePath(path);
        const bool unplugged = ending == u"unplugged"_s;
        m_control->setDevice(std::make_unique<SoundCardDevice>(
            ::findPhrases,
            SoundLimits{.inputStallMs = 300,
                        .longestTakeMs = ending == u"left running"_s ? 1500 : 60'000}));
        if (QByteArray(QTest::currentDataTag()) == "sound is a file")
            QVERIFY(QFile(m_folder->filePath(u"sound"_s)).open(QIODevice::WriteOnly));
        if (older)
            tone(u"sound/春晓.wav"_s, 8000, 0.1);
        const QByteArray before = LibraryFixture::readFile(path);
        QVERIFY(!armRecording(*m_control, path));
        if (ending.startsWith(u"▶■"_s)) {
            button(u"playButton"_s)->click();
            QTRY_COMPARE(m_control->mode(), WaveDevice::Mode::Playing);
            button(u"stopButton"_s)->click();
            QTRY_COMPARE(m_control->mode(), WaveDevice::Mode::Open);
        }
        if (loudness >= 0) {
            QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
            int loudest = 0;
            connect(m_control->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this,
                    [&](int value) { loudest = std::max(loudest, value); });
            button(u"recordButton"_s)->click();
            WaveDeviceControl speaker;
            speaker.setDevice(makeSoundCardDevice());
            QVERIFY(!playToEnd(speaker, tone(u"speaker/sound/aloud.wav"_s, 44100, 1.0, loudness)));
            suspend(u"source mic"_s, unplugged);
            const auto resume = qScopeGuard([] { suspend(u"source mic"_s, false); });
            if (ending.endsWith(u"■"_s)) {
                QTRY_COMPARE(m_control->findChild<QLabel *>(u"elapsed"_s)->text(), u"0:01"_s);
                button(u"stopButton"_s)->click();
            }
            QVERIFY(done.wait(2500));
            QCOMPARE(done.size(), 1);
            QCOMPARE(done[0][0].value<WaveDevice::NotifyCode>(),
                     unplugged ? WaveDevice::NotifyFailure : WaveDevice::NotifyAborted);
            QCOMPARE(m_control->error().has_value(), unplugged);
            // In decibels above -60 dBFS: a tone at half of full scale is at -6 dBFS.
            QVERIFY2(std::abs(loudest - (loudness > 0 ? 54 : 0)) <= 1,
                     qPrintable(QString::number(loudest)));
        }

        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        rlimit limited = unlimited;
        limited.rlim_cur = sizeLimit ? rlim_t(sizeLimit) : unlimited.rlim_cur;
        setrlimit(RLIMIT_FSIZE, &limited);
        const std::optional<DeviceError> error = saveRecording(*m_control);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QCOMPARE(error ? error->detail : QString(), failure);
        QCOMPARE(QDir(m_folder->filePath(u"data/Trash/files"_s)).entryList(QDir::Files),
                 older && !error ? QStringList{u"春晓.wav"_s} : QStringList());
        if (error) {
            // Kept for trying again, but for a take next to silence.
            QCOMPARE(m_control->Length() > 0, loudness > 0);
            QCOMPARE(LibraryFixture::readFile(path), before);
            QCOMPARE(QDir(m_folder->filePath(u"sound"_s))
                         .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                     older ? QStringList{u"春晓.wav"_s} : QStringList());
            return;
        }
        const QByteArray bytes = LibraryFixture::readFile(path);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
        const WaveContents saved = readWave(QFile::encodeName(path));
        QCOMPARE((QList{saved.info.format, saved.info.samplerate, saved.info.channels}),
                 (QList{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1}));
        // The whole tone, and no more than a quarter of a second of air on each side.
        QVERIFY2(saved.info.frames > 22050 && saved.info.frames < 22050 * 3 / 2,
                 qPrintable(QString::number(saved.info.frames)));
        QVERIFY(std::ranges::max(saved.samples) > 12000);
    }
};

QTEST_MAIN(SoundCardTest)
#include "tst_soundcard.moc"
