#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "GuiTest.h"
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

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

} // namespace

// Plays into and records from the test's sound server, whose "mic" hears what is played.
class SoundCardTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<WaveDeviceControl> m_control;

    QString tone(const QString &title, int format, int rate, double seconds, double amplitude = 0.5)
    {
        const QString path = title.contains(u'/') ? title : SoundPath(m_folder->path(), title);
        QDir().mkpath(QFileInfo(path).path());
        return writeTone(QFile::encodeName(path), SF_FORMAT_WAV | format, rate, {amplitude},
                         sf_count_t(seconds * rate))
                   ? path
                   : QString();
    }

    // Plays a tone into the server as another program would, for the "mic" to hear.
    void playAloud(double seconds, double amplitude = 0.5)
    {
        const QString path =
            tone(m_folder->filePath(u"aloud.wav"_s), SF_FORMAT_PCM_16, 44100, seconds, amplitude);
        QVERIFY(run(u"paplay"_s, {path}));
    }

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
        m_control->setDevice(makeSoundCardDevice());
    }

    void cleanup()
    {
        m_control.reset();
        m_folder.reset();
        // The device leaves its sound streams to the event loop to delete.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void playToEnd_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("longestMs");
        QTest::newRow("1 s tone") << int(SF_FORMAT_PCM_16) << 22050 << 1.0 << 1100;
        QTest::newRow("0.1 s clip") << int(SF_FORMAT_PCM_16) << 22050 << 0.1 << 700;
        QTest::newRow("8-bit 11,025 Hz") << int(SF_FORMAT_PCM_U8) << 11025 << 0.5 << 650;
        QTest::newRow("IMA ADPCM") << int(SF_FORMAT_IMA_ADPCM) << 22050 << 0.5 << 700;
    }

    // Reading aloud is heard, and returns when the sound has ended. Clicks made meanwhile are
    // thrown away, not carried out afterwards (three on 下一首 must not jump three poems), except
    // on a button that is meant to work during the sound.
    void playToEnd()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(int, longestMs);
        const QString path = tone(u"静夜思"_s, format, rate, seconds);
        WaveDeviceControl ear;
        ear.setDevice(makeSoundCardDevice());
        QVERIFY(!armRecording(ear, SoundPath(m_folder->path(), u"ear"_s)));
        ear.findChild<QPushButton *>(u"recordButton"_s)->click();
        QWidget window;
        auto *next = new QPushButton(u"下一首"_s, &window);
        auto *stop = new QPushButton(u"停止朗读"_s, &window);
        stop->move(0, 40);
        stayUsableWhilePlaying(stop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100); // the ear hears from about 50 ms after it starts
        QStringList clicked;
        for (QPushButton *button : {next, stop}) {
            connect(button, &QPushButton::clicked, this, [&, button] {
                const bool playing = m_control->mode() == WaveDevice::Mode::Playing;
                clicked << button->text() + (playing ? u" while playing"_s : u" afterwards"_s);
            });
        }
        bool busyWhilePlaying = false;
        QTimer::singleShot(int(seconds * 500), &window, [&] {
            busyWhilePlaying = m_control->mode() == WaveDevice::Mode::Playing &&
                               QApplication::overrideCursor() &&
                               QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            for (QPushButton *button : {next, next, next, stop})
                clickAsUser(button);
        });

        QElapsedTimer clock;
        clock.start();
        const std::optional<DeviceError> failure = ::playToEnd(*m_control, path);
        const qint64 elapsed = clock.elapsed();
        qInfo("played %.3f s in %lld ms", seconds, elapsed);
        QVERIFY2(!failure, qPrintable(failure ? failure->detail : QString()));
        QVERIFY2(double(elapsed) >= seconds * 900 && elapsed <= longestMs,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(busyWhilePlaying);
        QTest::qWait(50);
        QCOMPARE(clicked, QStringList{u"停止朗读 while playing"_s});
        QVERIFY(!QApplication::overrideCursor());
        ear.stop();
        QVERIFY(!saveRecording(ear)); // as it would be, were the take silent
    }

    void partsLightAsTheyAreHeard_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("readAfterMe");
        // When the title, the gap after it, the first line and the rest begin to be heard, in
        // milliseconds of the played sound, and how long it all takes.
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<int>("lengthMs");
        QTest::newRow("as recorded") << true << false << QList{100, 300, 500, 700} << 1000;
        QTest::newRow("跟读") << true << true << QList{100, 1500, 1700, 3100} << 3400;
        QTest::newRow("phrases unknown") << false << true << QList<int>{} << 1000;
    }

    // On the sound card, a part is lit while it is heard, and 跟读 pauses after each part for as
    // long as the part lasted and a second more, the part staying lit meanwhile. Where the parts
    // are unknown, the recording plays as it is and nothing is lit.
    void partsLightAsTheyAreHeard()
    {
        QFETCH(bool, known);
        QFETCH(bool, readAfterMe);
        QFETCH(QList<int>, starts);
        QFETCH(int, lengthMs);
        const QString path = tone(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 1.0);
        m_control->setDevice(std::make_unique<SoundCardDevice>([known](const Clip &, auto &) {
            return known ? std::optional(std::vector<Phrase>{{0, 100, 300}, {1, 500, 700}})
                         : std::nullopt;
        }));
        m_control->setPoemShape({3, {5, 5, 5, 5}});
        m_control->setReadAfterMe(readAfterMe);
        QList<int> lit;
        QList<qint64> late; // how long after the sound output reached the start of the part
        connect(m_control.get(), &WaveDeviceControl::partHeard, this, [&](int part) {
            lit << part;
            late << m_control->position() - starts.value(lit.size() - 1);
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!::playToEnd(*m_control, path));
        const qint64 elapsed = clock.elapsed();
        qInfo() << "lit" << late << "ms after the sound output reached each part";
        QCOMPARE(lit, known ? (QList{0, -1, 1, -1}) : QList<int>());
        QVERIFY2(elapsed >= lengthMs - 50 && elapsed <= lengthMs + 150,
                 qPrintable(QString::number(elapsed)));
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
        QTest::addColumn<bool>("older");      // a recording is there already
        QTest::addColumn<int>("sizeLimit");   // for any file, in bytes; none when 0
        QTest::addColumn<QString>("failure"); // the device's words; empty when the save works
        const QString path = u"sound/春晓.wav"_s;
        QTest::newRow("saved") << path << 0.5 << false << 0 << QString();
        QTest::newRow("saved over an older one, which goes to the trash")
            << path << 0.5 << true << 0 << QString();
        QTest::newRow("nothing recorded") << path << -1.0 << false << 0 << u"还没有录音"_s;
        QTest::newRow("a silent microphone") << path << 0.0 << true << 0 << u"录音几乎没有声音"_s;
        QTest::newRow("outside the sound folder")
            << u"other/春晓.wav"_s << 0.5 << false << 0 << u"录音只能存在 sound 文件夹里"_s;
        QTest::newRow("sound is a file") << path << 0.5 << false << 0 << reasonText(ENOTDIR);
        QTest::newRow("disk refuses the bytes over an older recording")
            << path << 0.5 << true << 2000 << reasonText(EFBIG);
    }

    // Recorded with the control's own buttons from the server's "mic" while a tone plays, and
    // saved; a save that fails loses nothing, and a silent take replaces nothing.
    void recordAndSave()
    {
        QFETCH(QString, path);
        QFETCH(double, loudness);
        QFETCH(bool, older);
        QFETCH(int, sizeLimit);
        QFETCH(QString, failure);
        path = m_folder->filePath(path);
        if (QByteArray(QTest::currentDataTag()) == "sound is a file")
            QVERIFY(QFile(m_folder->filePath(u"sound"_s)).open(QIODevice::WriteOnly));
        const QByteArray before =
            older ? contents(tone(u"春晓"_s, SF_FORMAT_PCM_16, 8000, 0.1)) : QByteArray();
        QVERIFY(!armRecording(*m_control, path));
        if (loudness >= 0) {
            QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
            m_control->findChild<QPushButton *>(u"recordButton"_s)->click();
            playAloud(1.0, loudness);
            QTRY_COMPARE(m_control->findChild<QLabel *>(u"elapsed"_s)->text(), u"0:01"_s);
            m_control->findChild<QPushButton *>(u"stopButton"_s)->click();
            QVERIFY(done.wait(1000));
            QCOMPARE(done.size(), 1);
            QCOMPARE(done[0][0].value<WaveDevice::NotifyCode>(), WaveDevice::NotifyAborted);
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
            QCOMPARE(contents(path), before);
            QCOMPARE(QDir(m_folder->filePath(u"sound"_s))
                         .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                     older ? QStringList{u"春晓.wav"_s} : QStringList());
            return;
        }
        const QByteArray bytes = contents(path);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
        const WaveContents saved = readWave(QFile::encodeName(path));
        QCOMPARE(saved.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        QCOMPARE(saved.info.samplerate, 22050);
        QCOMPARE(saved.info.channels, 1);
        QVERIFY2(saved.info.frames > 22050, qPrintable(QString::number(saved.info.frames)));
        QVERIFY2(rms(saved.samples) > 2000, qPrintable(QString::number(rms(saved.samples))));
    }

    // A sound output that stops taking sound never keeps the window waiting: reading aloud ends
    // a moment after the sound should have, and says why.
    void playbackOnAStalledOutput()
    {
        const QString path = tone(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 0.5);
        m_control->setDevice(
            std::make_unique<SoundCardDevice>(::findPhrases, SoundLimits{.playSlackMs = 300}));
        QVERIFY(run(u"pactl"_s, {u"suspend-sink"_s, u"null"_s, u"1"_s}));
        const auto resume = qScopeGuard([] {
            run(u"pactl"_s, {u"suspend-sink"_s, u"null"_s, u"0"_s});
        });
        // Should it wait for ever after all, the test ends it.
        QTimer::singleShot(5000, m_control.get(), [this] { m_control->stop(); });
        QElapsedTimer clock;
        clock.start();
        const std::optional<DeviceError> failure = ::playToEnd(*m_control, path);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failure ? failure->detail : QString(), u"放音设备没有放完声音，可能出了故障"_s);
    }

    void takeEndsByItself_data()
    {
        QTest::addColumn<bool>("inputStalls"); // after the tone, else it is left running
        QTest::addColumn<WaveDevice::NotifyCode>("code");
        QTest::addColumn<QString>("said");
        QTest::newRow("the microphone is unplugged")
            << true << WaveDevice::NotifyFailure << u"录音设备不再送来声音，可能已被拔出"_s;
        QTest::newRow("left running") << false << WaveDevice::NotifyAborted << QString();
    }

    // A take ends by itself when the sound input breaks off, and when it is left running until
    // it is almost too long to be played (here in a second and a half, not ten minutes); what
    // was taken in is kept, to be saved.
    void takeEndsByItself()
    {
        QFETCH(bool, inputStalls);
        QFETCH(WaveDevice::NotifyCode, code);
        QFETCH(QString, said);
        const SoundLimits limits{.inputStallMs = 300, .longestTakeMs = inputStalls ? 60'000 : 1500};
        QElapsedTimer sinceRecord;
        sinceRecord.start();
        m_control->setDevice(std::make_unique<SoundCardDevice>(::findPhrases, limits));
        QVERIFY(!armRecording(*m_control, SoundPath(m_folder->path(), u"春晓"_s)));
        m_control->findChild<QPushButton *>(u"recordButton"_s)->click();
        QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
        playAloud(0.5);
        const auto resume = qScopeGuard([] {
            run(u"pactl"_s, {u"suspend-source"_s, u"mic"_s, u"0"_s});
        });
        QElapsedTimer sinceStall;
        sinceStall.start();
        if (inputStalls)
            QVERIFY(run(u"pactl"_s, {u"suspend-source"_s, u"mic"_s, u"1"_s}));
        QVERIFY(done.wait(2500));
        const qint64 late = inputStalls ? sinceStall.elapsed() - limits.inputStallMs
                                        : sinceRecord.elapsed() - limits.longestTakeMs;
        qInfo("ended %lld ms after it was due", late);
        QVERIFY2(late >= -100 && late <= 500, qPrintable(QString::number(late)));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].value<WaveDevice::NotifyCode>(), code);
        QCOMPARE(m_control->error() ? m_control->error()->detail : QString(), said);
        QCOMPARE(m_control->mode(), WaveDevice::Mode::Open);
        QVERIFY(!saveRecording(*m_control));
        const WaveContents saved =
            readWave(QFile::encodeName(SoundPath(m_folder->path(), u"春晓"_s)));
        QVERIFY2(rms(saved.samples) > 2000, qPrintable(QString::number(rms(saved.samples))));
    }
};

QTEST_MAIN(SoundCardTest)
#include "tst_soundcard.moc"
