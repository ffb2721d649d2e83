#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "GuiTest.h"
#include "Phrases.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "SystemError.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(DeviceError::Kind)

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Plays into and records from the test's sound server, whose "mic" hears what is played.
class SoundCardTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<WaveDeviceControl> m_control;

    QString tone(const QString &title, int format, int rate, double seconds)
    {
        const QString path = SoundPath(m_folder->path(), title);
        return QDir().mkpath(m_folder->filePath(u"sound"_s)) &&
                       writeTone(QFile::encodeName(path), SF_FORMAT_WAV | format, rate, {0.5},
                                 sf_count_t(seconds * rate))
                   ? path
                   : QString();
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

    // Reading aloud returns when the sound has ended. Clicks made meanwhile are thrown away, not
    // carried out afterwards (three on 下一首 must not jump three poems), except on a button
    // that is meant to work during the sound.
    void playToEnd()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(int, longestMs);
        const QString path = tone(u"静夜思"_s, format, rate, seconds);
        QVERIFY(!path.isEmpty());
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
        bool sentWhilePlaying = false;
        bool busyWhilePlaying = false;
        QTimer::singleShot(int(seconds * 500), &window, [&] {
            sentWhilePlaying = m_control->mode() == WaveDevice::Mode::Playing;
            busyWhilePlaying = QApplication::overrideCursor() &&
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
        QVERIFY(sentWhilePlaying);
        QVERIFY(busyWhilePlaying);
        QTest::qWait(50);
        QCOMPARE(clicked, QStringList{u"停止朗读 while playing"_s});
        QVERIFY(!QApplication::overrideCursor());
        QTRY_VERIFY2(ear.takePeak() > 0.12, qPrintable(QString::number(ear.takePeak())));
    }

    void partsLightAsTheyAreHeard_data()
    {
        QTest::addColumn<bool>("readAfterMe");
        // When the title, the gap after it, the first line and the rest begin to be heard, in
        // milliseconds of the played sound.
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("as recorded") << false << QList{100, 300, 500, 700};
        QTest::newRow("跟读") << true << QList{100, 1500, 1700, 3100};
    }

    // On the sound card, a part is lit while it is heard, and 跟读 pauses after each part for as
    // long as the part lasted and a second more, the part staying lit meanwhile.
    void partsLightAsTheyAreHeard()
    {
        QFETCH(bool, readAfterMe);
        QFETCH(QList<int>, starts);
        const QString path = tone(u"静夜思"_s, SF_FORMAT_PCM_16, 22050, 1.0);
        const auto found = [](const Clip &, const PoemShape &) {
            return std::optional(std::vector<Phrase>{{0, 100, 300}, {1, 500, 700}});
        };
        m_control->setDevice(std::make_unique<SoundCardDevice>(found));
        m_control->setPoemShape({3, {5, 5, 5, 5}});
        m_control->setReadAfterMe(readAfterMe);
        QList<int> lit;
        QList<qint64> late; // how long after the sound output reached the start of the part
        connect(m_control.get(), &WaveDeviceControl::partHeard, this, [&](int part) {
            lit << part;
            late << m_control->position() - starts.value(lit.size() - 1);
        });
        QVERIFY(!::playToEnd(*m_control, path));
        qInfo() << "lit" << late << "ms after the sound output reached each part";
        QCOMPARE(lit, (QList{0, -1, 1, -1}));
        // Never early, and as a rule within a tick or two; a computer busy with other work may
        // leave the window itself waiting for a tenth of a second now and then.
        std::ranges::sort(late);
        QVERIFY2(late.first() >= 0 && late[late.size() / 2] <= 30, "lit away from the sound");
    }

    void recordAndSave_data()
    {
        QTest::addColumn<QString>("path");  // under the application folder
        QTest::addColumn<int>("recordMs");  // while a tone plays; none when 0
        QTest::addColumn<int>("sizeLimit"); // for any file, in bytes; none when 0
        QTest::addColumn<DeviceError::Kind>("kind");
        QTest::addColumn<QString>("failure"); // the device's words; empty when the save works
        const auto WriteFailed = DeviceError::Kind::WriteFailed;
        QTest::newRow("saved") << u"sound/春晓.wav"_s << 1000 << 0 << WriteFailed << QString();
        QTest::newRow("nothing recorded")
            << u"sound/春晓.wav"_s << 0 << 0 << DeviceError::Kind::NotReady << u"还没有录音"_s;
        QTest::newRow("outside the sound folder")
            << u"other/春晓.wav"_s << 300 << 0 << WriteFailed << u"录音只能存在 sound 文件夹里"_s;
        QTest::newRow("sound is a file")
            << u"sound/春晓.wav"_s << 300 << 0 << WriteFailed << reasonText(ENOTDIR);
        QTest::newRow("disk refuses the bytes over an older recording")
            << u"sound/春晓.wav"_s << 300 << 2000 << WriteFailed << reasonText(EFBIG);
    }

    // Recorded with the control's own buttons from the server's "mic" while a tone plays, and
    // saved; a save that fails loses nothing.
    void recordAndSave()
    {
        QFETCH(QString, path);
        QFETCH(int, recordMs);
        QFETCH(int, sizeLimit);
        QFETCH(DeviceError::Kind, kind);
        QFETCH(QString, failure);
        path = m_folder->filePath(path);
        const QString toneFile = m_folder->filePath(u"tone.wav"_s);
        QVERIFY(writeTone(QFile::encodeName(toneFile), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100,
                          {0.5}, 44100 * recordMs / 1000 + 1));
        if (QByteArray(QTest::currentDataTag()) == "sound is a file")
            QVERIFY(QFile(m_folder->filePath(u"sound"_s)).open(QIODevice::WriteOnly));
        const QByteArray older =
            sizeLimit ? contents(tone(u"春晓"_s, SF_FORMAT_PCM_16, 8000, 0.1)) : QByteArray();
        QVERIFY(!armRecording(*m_control, path));
        if (recordMs > 0) {
            QSignalSpy done(m_control.get(), &WaveDeviceControl::Done);
            m_control->findChild<QPushButton *>(u"recordButton"_s)->click();
            QCOMPARE(m_control->mode(), WaveDevice::Mode::Recording);
            QProcess player;
            player.start(u"paplay"_s, {toneFile});
            QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 5000);
            QCOMPARE(player.exitCode(), 0);
            QTRY_COMPARE(m_control->findChild<QLabel *>(u"elapsed"_s)->text(),
                         u"0:%1"_s.arg(recordMs / 1000, 2, 10, QChar(u'0')));
            m_control->findChild<QPushButton *>(u"stopButton"_s)->click();
            QVERIFY(done.wait(1000));
            QCOMPARE(done.count(), 1);
            QCOMPARE(done[0][0].toInt(), 4);
            QVERIFY(m_control->takePeak() > 0.1);
        }

        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        rlimit limited = unlimited;
        limited.rlim_cur = sizeLimit ? rlim_t(sizeLimit) : unlimited.rlim_cur;
        setrlimit(RLIMIT_FSIZE, &limited);
        const std::optional<DeviceError> error = saveRecording(*m_control);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        // A save that fails keeps the take, for trying again.
        QCOMPARE(m_control->mode(), error ? WaveDevice::Mode::Open : WaveDevice::Mode::Closed);
        QCOMPARE(error ? error->detail : QString(), failure);
        if (error) {
            QCOMPARE(error->kind, kind);
            QCOMPARE(contents(path), older);
            QCOMPARE(QDir(m_folder->filePath(u"data/Trash/files"_s)).entryList(QDir::Files), {});
            QCOMPARE(QDir(m_folder->filePath(u"sound"_s))
                         .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                     older.isEmpty() ? QStringList() : QStringList{u"春晓.wav"_s});
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
};

QTEST_MAIN(SoundCardTest)
#include "tst_soundcard.moc"
