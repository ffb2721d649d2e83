#include "CallSequences.h"
#include "FakeWaveDevice.h"
#include "ReadingPlan.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFile.h"
#include "WaveFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using Sequence = std::optional<DeviceError> (*)(WaveDeviceControl &, const QString &);
Q_DECLARE_METATYPE(Sequence)

class SoundTest final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private Q_SLOTS:
    void readingPlan_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("readAfterMe");
        // One character for every 100 ms played: the part lit ('-' none), and which 100 ms of
        // the recording is heard ('_' a pause).
        QTest::addColumn<QString>("lit");
        QTest::addColumn<QString>("heard");
        QTest::newRow("as recorded") << true << false << u"-00-1-"_s << u"012345"_s;
        QTest::newRow("read after me") << true << true << u"-00000000000000-111111111111-"_s
                                       << u"012____________34___________5"_s;
        QTest::newRow("phrases unknown") << false << true << u"------"_s << u"012345"_s;
    }

    // A recording of 600 ms, whose title is spoken from 100 to 300 ms and its first line from
    // 400 to 500 ms.
    void readingPlan()
    {
        QFETCH(bool, known);
        QFETCH(bool, readAfterMe);
        QFETCH(QString, lit);
        QFETCH(QString, heard);
        Clip recording{QByteArray(), 1000, 1};
        for (qint16 ms = 0; ms < 600; ++ms)
            recording.pcm.append(reinterpret_cast<const char *>(&ms), 2);
        const ReadingPlan plan(known ? std::vector<Phrase>{{0, 100, 300}, {1, 400, 500}}
                                     : std::vector<Phrase>{},
                               readAfterMe);
        const Clip played = plan.played(recording);
        QString litSeen;
        QString heardSeen;
        for (qint64 ms = 0; ms < played.frames(); ms += 100) {
            litSeen += QChar(plan.partAt(ms) < 0 ? u'-' : u'0' + plan.partAt(ms));
            const qint16 sample = reinterpret_cast<const qint16 *>(played.pcm.constData())[ms];
            heardSeen += QChar(ms > 0 && sample == 0 ? u'_' : u'0' + sample / 100);
        }
        QCOMPARE(litSeen, lit);
        QCOMPARE(heardSeen, heard);
    }

    void locateRecording_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("existing"); // under the application folder
        QTest::addColumn<bool>("found");
        const QByteArray gbk = "sound/\xBE\xB2\xD2\xB9\xCB\xBC"_ba; // 静夜思 in code page 936
        QTest::newRow("as named") << u"静夜思"_s << "sound/静夜思.wav"_ba << true;
        QTest::newRow("filling spaces") << u"静夜思     "_s << "sound/静夜思.wav"_ba << true;
        QTest::newRow("inner and full-width spaces stay")
            << u" 春 晓\u3000 "_s << u"sound/春 晓\u3000.wav"_s.toUtf8() << true;
        QTest::newRow(".WAV") << u"静夜思"_s << "sound/静夜思.WAV"_ba << true;
        QTest::newRow("GBK name") << u"静夜思"_s << gbk + ".wav" << true;
        QTest::newRow("GBK name, .WAV") << u"静夜思"_s << gbk + ".WAV" << true;
        QTest::newRow("other folder") << u"静夜思"_s << "静夜思.wav"_ba << false;
        QTest::newRow("slash") << u"a/b"_s << "sound/a/b.wav"_ba << false;
        QTest::newRow("backslash") << u"a\\b"_s << "sound/a\\b.wav"_ba << false;
        QTest::newRow("up a folder") << u"../Kavendo"_s << "Kavendo.wav"_ba << false;
        QTest::newRow("dot dot") << u" .. "_s << "sound/...wav"_ba << false;
    }

    void locateRecording()
    {
        QFETCH(QString, title);
        QFETCH(QByteArray, existing);
        QFETCH(bool, found);
        QTemporaryDir folder;
        // Made by its bytes: a code page 936 name has no QString form on this system.
        const QByteArray path = QFile::encodeName(folder.path()) + '/' + existing;
        QVERIFY(QDir().mkpath(QFileInfo(QFile::decodeName(path)).path()));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::close(fd) == 0);
        const QByteArray located = ::locateRecording(SoundPath(folder.path(), title));
        QCOMPARE(::unlink(path.constData()), 0); // QTemporaryDir cannot remove such a name
        QCOMPARE(located, found ? path : QByteArray());
    }

    // A sequence that fails closes the device and hands back the device's own words.
    void callSequences_data()
    {
        QTest::addColumn<Sequence>("sequence");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("log"); // what the device was sent: commands bare, TYPE waveaudio
        const Sequence play = playToEnd, window = playInPlaybackWindow, arm = armRecording;
        const Sequence save = [](WaveDeviceControl &MMControl1, const QString &path) {
            MMControl1.setFileName(path);
            MMControl1.setCommand(u"open"_s);
            return saveRecording(MMControl1);
        };
        QTest::newRow("play to end")
            << play << QString() << u"Notify=false FILE open Wait=true play close"_s;
        QTest::newRow("play to end, open fails")
            << play << u"open"_s << u"Notify=false FILE open close"_s;
        QTest::newRow("playback window")
            << window << QString() << u"TYPE FILE open Notify=false Wait=true play"_s;
        QTest::newRow("playback window, play fails")
            << window << u"play"_s << u"TYPE FILE open Notify=false Wait=true play close"_s;
        QTest::newRow("arm") << arm << QString() << u"TYPE FILE Notify=false open Notify=true"_s;
        QTest::newRow("arm, open fails")
            << arm << u"open"_s << u"TYPE FILE Notify=false open close"_s;
        QTest::newRow("save") << save << QString() << u"FILE open Wait=true save close"_s;
        QTest::newRow("save fails") << save << u"save"_s << u"FILE open Wait=true save close"_s;
    }

    void callSequences()
    {
        QFETCH(Sequence, sequence);
        QFETCH(QString, failing);
        QFETCH(QString, log);
        const QString path = SoundPath(m_folder.path(), u"静夜思"_s);
        QVERIFY(QDir().mkpath(m_folder.filePath(u"sound"_s)) && QFile(path).open(QFile::WriteOnly));
        auto owned = std::make_unique<FakeWaveDevice>();
        FakeWaveDevice *device = owned.get();
        if (!failing.isEmpty())
            device->failures.insert(failing, {DeviceError::Kind::WriteFailed, u"磁盘已满"_s});
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(std::move(owned));

        const std::optional<DeviceError> result = sequence(MMControl1, path);
        QCOMPARE(device->log.join(u' ')
                     .remove(u"Command="_s)
                     .replace(u"DeviceType=waveaudio"_s, u"TYPE"_s)
                     .replace(u"FileName="_s + path, u"FILE"_s),
                 log);
        QCOMPARE(result ? result->detail : QString(),
                 failing.isEmpty() ? QString() : u"磁盘已满"_s);
    }

    // The maintenance window's recorder shows the take while it runs: the meter in decibels
    // above -60 dBFS, the clock in minutes and seconds.
    void controlShowsTheTake()
    {
        auto owned = std::make_unique<FakeWaveDevice>();
        FakeWaveDevice *device = owned.get();
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(std::move(owned));
        const auto shown = [&] {
            return u"%1 %2"_s.arg(MMControl1.findChild<QProgressBar *>(u"levelMeter"_s)->value())
                .arg(MMControl1.findChild<QLabel *>(u"elapsed"_s)->text());
        };
        QVERIFY(!armRecording(MMControl1, SoundPath(m_folder.path(), u"春晓"_s)));
        MMControl1.findChild<QPushButton *>(u"recordButton"_s)->click();
        device->sendLevel(0.5, 65'999);
        QCOMPARE(shown(), u"54 1:05"_s);
        device->sendLevel(0.0005, 600'000);
        QCOMPARE(shown(), u"0 10:00"_s);
        QCOMPARE(MMControl1.takePeak(), 0.5); // the loudest moment tells a silent take
        MMControl1.findChild<QPushButton *>(u"stopButton"_s)->click();
        MMControl1.findChild<QPushButton *>(u"recordButton"_s)->click();
        QCOMPARE(MMControl1.takePeak(), 0.0); // a new take starts from silence
    }

    void decode_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<double>>("amplitudes");
        QTest::addColumn<double>("tolerance"); // of the waveform, relative to full scale
        const QList<double> mono{0.5};
        QTest::newRow("16-bit") << int(SF_FORMAT_PCM_16) << 22050 << mono << 0.001;
        QTest::newRow("8-bit") << int(SF_FORMAT_PCM_U8) << 11025 << mono << 0.01;
        QTest::newRow("24-bit stereo")
            << int(SF_FORMAT_PCM_24) << 48000 << QList<double>{0.5, -0.25} << 0.001;
        QTest::newRow("32-bit") << int(SF_FORMAT_PCM_32) << 44100 << mono << 0.001;
        QTest::newRow("float") << int(SF_FORMAT_FLOAT) << 8000 << mono << 0.001;
        QTest::newRow("IMA ADPCM") << int(SF_FORMAT_IMA_ADPCM) << 22050 << mono << 0.05;
        QTest::newRow("MS ADPCM stereo")
            << int(SF_FORMAT_MS_ADPCM) << 22050 << QList<double>{0.5, 0.25} << 0.05;
        QTest::newRow("GSM 6.10") << int(SF_FORMAT_GSM610) << 8000 << mono << 0.15;
        QTest::newRow("mu-law") << int(SF_FORMAT_ULAW) << 8000 << mono << 0.02;
        QTest::newRow("A-law") << int(SF_FORMAT_ALAW) << 8000 << mono << 0.02;
        // Mixed down to mono: the mean of the three.
        QTest::newRow("three channels")
            << int(SF_FORMAT_PCM_16) << 16000 << QList<double>{0.6, 0.3, 0.0} << 0.001;
    }

    void decode()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(QList<double>, amplitudes);
        QFETCH(double, tolerance);
        const QByteArray path = QFile::encodeName(m_folder.filePath(u"tone.wav"_s));
        const sf_count_t frames = 4000;
        QVERIFY(writeTone(path, SF_FORMAT_WAV | format, rate, amplitudes, frames));
        QString error;
        const std::optional<Clip> clip = readWaveFile(path, error);
        QVERIFY2(clip, qPrintable(error));
        QCOMPARE(clip->sampleRate, rate);
        // Block codecs round the length up to whole blocks.
        QVERIFY2(clip->frames() >= frames && clip->frames() < frames + 2048,
                 qPrintable(QString::number(clip->frames())));
        if (amplitudes.size() > 2)
            amplitudes = {(amplitudes[0] + amplitudes[1] + amplitudes[2]) / 3};
        const qsizetype channels = amplitudes.size();
        QCOMPARE(clip->channels, channels);
        const auto *samples = reinterpret_cast<const qint16 *>(clip->pcm.constData());
        double squares = 0;
        for (qsizetype i = 0; i < frames * channels; ++i) {
            const double expected = toneSample(i / channels, rate, amplitudes[i % channels]);
            squares += std::pow(samples[i] / 32768.0 - expected, 2);
        }
        const double off = std::sqrt(squares / double(frames * channels));
        QVERIFY2(off < tolerance, qPrintable(QString::number(off)));
    }
};

QTEST_MAIN(SoundTest)
#include "tst_sound.moc"
