#include "CallSequences.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "SystemError.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMediaDevices>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(DeviceError::Kind)

namespace {

// Listens on the default input (the test server's "mic", which hears what is played) and
// keeps the loudest sample, to tell a sound that was played from silence.
class Listener final
{
public:
    Listener()
    {
        QAudioFormat format;
        format.setSampleRate(22050);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        m_source = std::make_unique<QAudioSource>(QMediaDevices::defaultAudioInput(), format);
        m_io = m_source->start();
        if (m_io) {
            QObject::connect(m_io, &QIODevice::readyRead, m_io, [this] {
                const QByteArray chunk = m_io->readAll();
                const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
                for (qsizetype i = 0; i < chunk.size() / 2; ++i)
                    m_peak = std::max(m_peak, std::abs(int(samples[i])));
            });
        }
    }
    bool isListening() const { return m_io != nullptr; }
    int peak() const { return m_peak; }

private:
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    int m_peak = 0;
};

struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    rlimit m_old{};
};

} // namespace

class SoundCardTest final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_application;
    std::unique_ptr<WaveDeviceControl> m_control;

    QString recording(const QString &title, int format, int rate, double seconds)
    {
        const QString path = SoundPath(m_application->path(), title);
        QDir().mkpath(m_application->path() + u"/sound"_s);
        if (!writeTone(QFile::encodeName(path), SF_FORMAT_WAV | format, rate, {0.5},
                       sf_count_t(seconds * rate)))
            return {};
        return path;
    }

    QPushButton *button(const char *name)
    {
        return m_control->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    // Records for about ms milliseconds through the control's own buttons and waits for Done(4).
    bool recordFor(int ms)
    {
        QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
        if (!button("recordButton")->isEnabled())
            return false;
        QTest::mouseClick(button("recordButton"), Qt::LeftButton);
        QTest::qWait(ms);
        QTest::mouseClick(button("stopButton"), Qt::LeftButton);
        return done.wait(1000) && done.count() == 1 && done[0][0].toInt() == 4;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!QMediaDevices::defaultAudioOutput().isNull(),
                 "no sound output: is the test server running?");
        QVERIFY(!QMediaDevices::defaultAudioInput().isNull());
    }

    void init()
    {
        m_application = std::make_unique<QTemporaryDir>();
        QVERIFY(m_application->isValid());
        m_control = std::make_unique<WaveDeviceControl>();
        m_control->setDevice(makeSoundCardDevice());
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
    }

    void cleanup()
    {
        m_control.reset();
        m_application.reset();
        // The device leaves its sound streams to the event loop to delete.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void playToEnd_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("shortestMs");
        QTest::addColumn<int>("longestMs");
        QTest::newRow("1 s tone") << int(SF_FORMAT_PCM_16) << 22050 << 1.0 << 950 << 1100;
        QTest::newRow("0.1 s clip") << int(SF_FORMAT_PCM_16) << 22050 << 0.1 << 90 << 700;
        QTest::newRow("8-bit 11,025 Hz") << int(SF_FORMAT_PCM_U8) << 11025 << 0.5 << 450 << 650;
        QTest::newRow("IMA ADPCM") << int(SF_FORMAT_IMA_ADPCM) << 22050 << 0.5 << 450 << 700;
    }

    void playToEnd()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(int, shortestMs);
        QFETCH(int, longestMs);
        const QString path = recording(u"静夜思"_s, format, rate, seconds);
        QVERIFY(!path.isEmpty());
        Listener listener;
        QVERIFY(listener.isListening());
        QTest::qWait(100); // the input delivers its first sound after about 50 ms

        QElapsedTimer clock;
        clock.start();
        const std::optional<DeviceError> failure = ::playToEnd(*m_control, path);
        const qint64 elapsed = clock.elapsed();
        qInfo("played %.3f s in %lld ms", seconds, elapsed);
        QVERIFY2(!failure, qPrintable(failure ? failure->detail : QString()));
        QVERIFY2(elapsed >= shortestMs && elapsed <= longestMs,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Closed);
        QTRY_VERIFY2(listener.peak() > 4000, qPrintable(QString::number(listener.peak())));
    }

    void inputWaitsWhilePlaying()
    {
        const QString path = recording(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 1.0);
        QWidget window;
        auto *target = new QPushButton(u"下一首"_s, &window);
        target->resize(120, 40);
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        bool playing = false;
        bool deliveredWhilePlaying = false;
        int clicks = 0;
        int clicksWhilePlaying = 0;
        connect(target, &QPushButton::clicked, target, [&] {
            ++clicks;
            clicksWhilePlaying += playing ? 1 : 0;
        });
        QTimer::singleShot(300, target, [&] {
            deliveredWhilePlaying = playing;
            QWindow *handle = window.windowHandle();
            const QPointF local = target->geometry().center();
            const QPointF global = handle->mapToGlobal(local.toPoint());
            using Interface = QWindowSystemInterface;
            Interface::handleMouseEvent<Interface::AsynchronousDelivery>(
                handle, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
            Interface::handleMouseEvent<Interface::AsynchronousDelivery>(
                handle, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
        });
        playing = true;
        QVERIFY(!::playToEnd(*m_control, path));
        playing = false;
        QVERIFY(deliveredWhilePlaying);
        QTRY_COMPARE(clicks, 1);
        QCOMPARE(clicksWhilePlaying, 0);
    }

    // The playback window's second timer may close the device while the first one's play waits.
    void closingEndsAWaitingPlay()
    {
        const QString path = recording(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 2.0);
        QTimer::singleShot(300, m_control.get(), [this] { m_control->setCommand(u"close"_s); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!playInPlaybackWindow(*m_control, path));
        QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Closed);
    }

    void playWithoutWaiting_data()
    {
        QTest::addColumn<bool>("stopEarly");
        QTest::addColumn<int>("NotifyCode");
        QTest::newRow("to the end") << false << 1;
        QTest::newRow("stopped") << true << 4;
    }

    void playWithoutWaiting()
    {
        QFETCH(bool, stopEarly);
        QFETCH(int, NotifyCode);
        const QString path = recording(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 0.5);
        QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
        m_control->setFileName(path);
        m_control->setCommand(u"open"_s);
        m_control->setNotify(true);
        QElapsedTimer clock;
        clock.start();
        m_control->setCommand(u"play"_s);
        QVERIFY(clock.elapsed() < 200);
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Playing);
        if (stopEarly)
            QTest::mouseClick(button("stopButton"), Qt::LeftButton);
        QVERIFY(done.wait(3000));
        QCOMPARE(done[0][0].toInt(), NotifyCode);
        QVERIFY(stopEarly ? clock.elapsed() < 300 : clock.elapsed() >= 450);
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Open);
        QVERIFY(!m_control->error());
    }

    void recordAndSave()
    {
        const QString path = SoundPath(m_application->path(), u" 春晓 "_s);
        const QString tone = m_application->filePath(u"tone.wav"_s);
        QVERIFY(writeTone(QFile::encodeName(tone), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, {0.5},
                          44100));
        QVERIFY(!armRecording(*m_control, path));

        QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
        QTest::mouseClick(button("recordButton"), Qt::LeftButton);
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Recording);
        QVERIFY(button("stopButton")->isEnabled());
        QProcess player;
        player.start(u"paplay"_s, {tone});
        QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 5000);
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(m_control->findChild<QProgressBar *>(u"levelMeter"_s)->value() > 0);
        QTRY_COMPARE(m_control->findChild<QLabel *>(u"elapsed"_s)->text(), u"0:01"_s);
        QTest::mouseClick(button("stopButton"), Qt::LeftButton);
        QVERIFY(done.wait(1000));
        QCOMPARE(done.count(), 1);
        QCOMPARE(done[0][0].toInt(), 4);
        QVERIFY(m_control->takePeak() > 0.1);

        const std::optional<DeviceError> failure = saveRecording(*m_control);
        QVERIFY2(!failure, qPrintable(failure ? failure->detail : QString()));
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Closed);
        const WaveContents saved =
            readWave(QFile::encodeName(SoundPath(m_application->path(), u"春晓"_s)));
        QCOMPARE(saved.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        QCOMPARE(saved.info.samplerate, 22050);
        QCOMPARE(saved.info.channels, 1);
        QVERIFY2(saved.info.frames > 22050, qPrintable(QString::number(saved.info.frames)));
        const double loudness = rms(saved.samples);
        QVERIFY2(loudness > 2000, qPrintable(QString::number(loudness)));
    }

    void saveFailures_data()
    {
        QTest::addColumn<QString>("path"); // under the application folder
        QTest::addColumn<bool>("records");
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<DeviceError::Kind>("kind");
        QTest::addColumn<QString>("detail");
        QTest::newRow("nothing recorded")
            << u"sound/春晓.wav"_s << false << 0 << DeviceError::Kind::NotReady << u"还没有录音"_s;
        QTest::newRow("outside the sound folder")
            << u"other/春晓.wav"_s << true << 0 << DeviceError::Kind::WriteFailed
            << u"录音只能存在 sound 文件夹里"_s;
        QTest::newRow("sound is a file") << u"sound/春晓.wav"_s << true << 0
                                         << DeviceError::Kind::WriteFailed << reasonText(ENOTDIR);
        QTest::newRow("disk refuses the bytes")
            << u"sound/春晓.wav"_s << true << 2000 << DeviceError::Kind::WriteFailed
            << reasonText(EFBIG);
    }

    void saveFailures()
    {
        QFETCH(QString, path);
        QFETCH(bool, records);
        QFETCH(int, fileSizeLimit);
        QFETCH(DeviceError::Kind, kind);
        QFETCH(QString, detail);
        const QString fullPath = m_application->filePath(path);
        QByteArray older;
        if (QByteArray(QTest::currentDataTag()) == "sound is a file") {
            QFile blocker(m_application->filePath(u"sound"_s));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (fileSizeLimit > 0) {
            QVERIFY(!recording(u"春晓"_s, SF_FORMAT_PCM_16, 8000, 0.1).isEmpty());
            QFile file(fullPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            older = file.readAll();
        }
        QVERIFY(!armRecording(*m_control, fullPath));
        if (records)
            QVERIFY(recordFor(300));

        std::optional<DeviceError> failure;
        {
            std::optional<FileSizeLimit> limit;
            if (fileSizeLimit > 0)
                limit.emplace(fileSizeLimit);
            failure = saveRecording(*m_control);
        }
        QVERIFY(failure);
        QCOMPARE(failure->kind, kind);
        QCOMPARE(failure->detail, detail);
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Closed);
        QFile file(fullPath);
        if (older.isEmpty()) {
            QVERIFY(!file.exists());
        } else {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), older);
            QCOMPARE(QDir(m_application->filePath(u"sound"_s))
                         .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{u"春晓.wav"_s});
        }
    }
};

QTEST_MAIN(SoundCardTest)
#include "tst_soundcard.moc"
