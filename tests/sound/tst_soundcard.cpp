#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "SystemError.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QtCore>
#include <QtMultimedia>
#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

// Breaks or mends "sink null" or "source mic" of the test's sound server, as a failing card.
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
        QTest::addColumn<QString>("reading"); // 跟读, or the sound output stalls
        // What is heard, pauses included; the recording itself lasts as long, but a second at most.
        QTest::addColumn<int>("lengthMs");
        QTest::addColumn<int>("longestMs"); // until reading aloud returns
        // When the title, the gap after it, the first line and the rest begin to be heard, in
        // milliseconds of the played sound; none when the recording's phrases are unknown.
        QTest::addColumn<QList<int>>("starts");
        // Shorter than the sound output's buffer.
        QTest::newRow("0.1 s at 11,025 Hz") << 11025 << QString() << 100 << 700 << QList<int>();
        QTest::newRow("lit as heard")
            << 22050 << QString() << 1000 << 1150 << QList{100, 300, 500, 700};
        // 跟读 pauses after each part for as long as the part lasted and a second more, the part
        // staying lit meanwhile.
        QTest::newRow("跟读") << 22050 << u"跟读"_s << 3400 << 3550 << QList{100, 1500, 1700, 3100};
        // A sound output that takes no more sound never keeps the window waiting: reading aloud
        // ends a moment after the sound should have (here 0.3 s, not 5 s), and says why.
        QTest::newRow("the output stalls") << 22050 << u"stalls"_s << 500 << 1300 << QList<int>();
    }

    // Reading aloud is heard, lights each part as it is heard, and returns when the sound has
    // ended. Clicks made meanwhile are thrown away, not carried out afterwards (three on 下一首
    // must not jump three poems), except on a button that is meant to work during the sound.
    void readAloud()
    {
        QFETCH(int, rate);
        QFETCH(QString, reading);
        QFETCH(int, lengthMs);
        QFETCH(int, longestMs);
        QFETCH(QList<int>, starts);
        const bool stalls = reading == u"stalls"_s;
        const auto phrases = starts.isEmpty()
                                 ? std::nullopt
                                 : std::optional(std::vector<Phrase>{{0, 100, 300}, {1, 500, 700}});
        m_control->setDevice(std::make_unique<SoundCardDevice>(
            [phrases](const Clip &, const PoemShape &) { return phrases; },
            SoundLimits{.playSlackMs = stalls ? 300 : 5000}));
        m_control->setPoemShape({3, {5, 5, 5, 5}});
        m_control->setReadAfterMe(reading == u"跟读"_s);
        suspend(u"sink null"_s, stalls);
        const auto resume = qScopeGuard([] { suspend(u"sink null"_s, false); });
        QList<int> lit;
        QList<qint64> late; // how long after the sound output reached the start of the part
        connect(m_control.get(), &WaveDeviceControl::partHeard, this, [&](int part) {
            lit << part;
            late << m_control->position() - starts.value(lit.size() - 1);
        });
        QWidget window;
        QPushButton next(u"下一首"_s, &window), stop(u"停止朗读"_s, &window);
        stop.move(0, 40);
        stayUsableWhilePlaying(&stop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy nextClicks(&next, &QPushButton::clicked);
        QSignalSpy stopClicks(&stop, &QPushButton::clicked);
        bool busy = false;
        QTimer::singleShot(lengthMs / 2, &window, [&] {
            const QCursor *cursor = QApplication::overrideCursor();
            busy = cursor && cursor->shape() == Qt::BusyCursor;
            for (QPushButton *button : {&next, &next, &next, &stop})
                clickAsUser(button);
        });

        QElapsedTimer clock;
        clock.start();
        const std::optional<DeviceError> failure = ::playToEnd(
            *m_control, tone(u"sound/静夜思.wav"_s, rate, std::min(lengthMs, 1000) / 1000.0));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(stopClicks.size(), 1);
        qInfo() << "played" << lengthMs << "ms in" << elapsed << "ms; lit" << late << "ms late";
        QCOMPARE(failure ? failure->detail : QString(),
                 stalls ? u"放音设备没有放完声音，可能出了故障"_s : QString());
        QVERIFY2(elapsed >= lengthMs * 9 / 10 && elapsed <= longestMs,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(busy);
        QTest::qWait(50);
        QCOMPARE(nextClicks.size(), 0);
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
        // How the take goes: ■ pressed after a second of a tone played, after ▶■ listening to
        // the older recording; the microphone unplugged or muted ("silent ■"); left running.
        QTest::addColumn<QString>("take");
        // An older recording, the disk full.
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QString>("failure"); // the device's words; empty when the save works
        const QString stop = u"■"_s, none;
        QTest::newRow("saved over an older one, which goes to the trash")
            << stop << u"older"_s << none;
        QTest::newRow("saved after listening to the older one") << u"▶■ ■"_s << u"older"_s << none;
        // What came before is kept, and a take never grows too long to be played (here a second
        // and a half, not ten minutes).
        QTest::newRow("the microphone is unplugged") << u"unplugged"_s << none << none;
        QTest::newRow("left running") << u"left running"_s << none << none;
        QTest::newRow("a silent microphone")
            << u"silent ■"_s << u"older"_s << u"录音几乎没有声音"_s;
        QTest::newRow("disk full over an older recording")
            << stop << u"older, full"_s << reasonText(EFBIG);
    }

    // Recorded from the server's "mic" while a tone plays, and saved. A take ends with ■, when the
    // sound input breaks off, or by itself when left running; a save that fails loses nothing, and
    // a silent take replaces nothing.
    void recordAndSave()
    {
        QFETCH(QString, take);
        QFETCH(QString, disk);
        QFETCH(QString, failure);
        const QString path = m_folder->filePath(u"sound/春晓.wav"_s);
        const double loudness = take.startsWith(u"silent"_s) ? 0 : 0.5;
        const bool unplugged = take == u"unplugged"_s, older = disk.startsWith(u"older"_s);
        m_control->setDevice(std::make_unique<SoundCardDevice>(
            ::findPhrases,
            SoundLimits{.inputStallMs = 300,
                        .longestTakeMs = take == u"left running"_s ? 1500 : 60'000}));
        if (older)
            tone(u"sound/春晓.wav"_s, 8000, 0.1);
        const QByteArray before = LibraryFixture::readFile(path);
        QVERIFY(!armRecording(*m_control, path));
        if (take.startsWith(u"▶■"_s)) {
            button(u"playButton"_s)->click();
            QTRY_COMPARE(m_control->mode(), WaveDevice::Mode::Playing);
            button(u"stopButton"_s)->click();
            QTRY_COMPARE(m_control->mode(), WaveDevice::Mode::Open);
        }
        QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
        button(u"recordButton"_s)->click();
        WaveDeviceControl speaker;
        speaker.setDevice(makeSoundCardDevice());
        QVERIFY(!playToEnd(speaker, tone(u"speaker/sound/aloud.wav"_s, 44100, 1.0, loudness)));
        suspend(u"source mic"_s, unplugged);
        const auto resume = qScopeGuard([] { suspend(u"source mic"_s, false); });
        if (take.endsWith(u"■"_s)) {
            QTRY_COMPARE(m_control->findChild<QLabel *>(u"elapsed"_s)->text(), u"0:01"_s);
            button(u"stopButton"_s)->click();
        }
        QVERIFY(done.wait(2500));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].value<WaveDevice::NotifyCode>(),
                 unplugged ? WaveDevice::NotifyFailure : WaveDevice::NotifyAborted);
        QCOMPARE(m_control->error().has_value(), unplugged);

        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit full{2000, limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, disk.endsWith(u"full"_s) ? &full : &limit);
        const std::optional<DeviceError> error = saveRecording(*m_control);
        setrlimit(RLIMIT_FSIZE, &limit);
        QCOMPARE(error ? error->detail : QString(), failure);
        QCOMPARE(QDir(m_folder->filePath(u"data/Trash/files"_s)).entryList(QDir::Files),
                 older && !error ? QStringList{u"春晓.wav"_s} : QStringList());
        if (error) {
            // Kept for trying again, but for a take next to silence.
            QCOMPARE(m_control->Length() > 0, loudness > 0);
            QCOMPARE(LibraryFixture::readFile(path), before);
            QCOMPARE(QDir(m_folder->filePath(u"sound"_s)).entryList(QDir::Files | QDir::Hidden),
                     older ? QStringList{u"春晓.wav"_s} : QStringList());
            return;
        }
        // A 16-bit mono file at 22,050 Hz, with the whole tone and no more than a quarter of a
        // second of air on each side.
        const QByteArray bytes = LibraryFixture::readFile(path);
        const qsizetype frames = (bytes.size() - 44) / 2;
        QCOMPARE(bytes.left(44), waveHeader(1, 22050, quint32(frames * 2)));
        QVERIFY2(frames > 22050 && frames < 22050 * 3 / 2, qPrintable(QString::number(frames)));
        const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData() + 44);
        QVERIFY(*std::max_element(samples, samples + frames) > 12000);
    }
};

QTEST_MAIN(SoundCardTest)
#include "tst_soundcard.moc"
