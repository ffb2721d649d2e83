#include "CallSequences.h"
#include "FakeWaveDevice.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFile.h"
#include "WaveFixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <numeric>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

enum class Sequence { PlayToEnd, PlaybackWindow, Arm, Save };
Q_DECLARE_METATYPE(Sequence)
Q_DECLARE_METATYPE(WaveDevice::Mode)

namespace {

const QByteArray JingYeSiGbk("\xBE\xB2\xD2\xB9\xCB\xBC"); // 静夜思 in code page 936

// Creates a file under folder by its raw name bytes, as a copying tool would leave it.
bool touch(const QString &folder, const QByteArray &relativeName)
{
    const QByteArray path = QFile::encodeName(folder) + '/' + relativeName;
    const int slash = path.lastIndexOf('/');
    QDir().mkpath(QFile::decodeName(path.left(slash)));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd >= 0 && ::write(fd, "RIFF", 4) == 4 && ::close(fd) == 0;
}

} // namespace

class SoundTest final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_folder.isValid());
        QDir(m_folder.path() + u"/sound"_s).removeRecursively();
    }

    void soundPath_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("bare") << u"静夜思"_s << u"静夜思.wav"_s;
        QTest::newRow("filling spaces") << u"静夜思                  "_s << u"静夜思.wav"_s;
        QTest::newRow("typed spaces") << u"  静夜思 "_s << u"静夜思.wav"_s;
        QTest::newRow("inner space stays") << u" 春 晓 "_s << u"春 晓.wav"_s;
        QTest::newRow("tab and full-width space stay")
            << u"\t春晓\u3000"_s << u"\t春晓\u3000.wav"_s;
    }

    void soundPath()
    {
        QFETCH(QString, title);
        QFETCH(QString, fileName);
        QCOMPARE(SoundPath(u"/app"_s, title), u"/app/sound/"_s + fileName);
    }

    void locateRecording_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("existing"); // relative to the application folder
        QTest::addColumn<bool>("found");
        QTest::newRow("as named") << u"静夜思"_s << "sound/静夜思.wav"_ba << true;
        QTest::newRow(".WAV") << u"静夜思"_s << "sound/静夜思.WAV"_ba << true;
        QTest::newRow("GBK name") << u"静夜思"_s << "sound/" + JingYeSiGbk + ".wav" << true;
        QTest::newRow("GBK name, .WAV") << u"静夜思"_s << "sound/" + JingYeSiGbk + ".WAV" << true;
        QTest::newRow("missing") << u"静夜思"_s << "sound/春晓.wav"_ba << false;
        QTest::newRow("other folder") << u"静夜思"_s << "静夜思.wav"_ba << false;
        QTest::newRow("slash") << u"a/b"_s << "sound/a/b.wav"_ba << false;
        QTest::newRow("backslash") << u"a\\b"_s << "sound/a\\b.wav"_ba << false;
        QTest::newRow("up a folder") << u"../Kavendo"_s << "Kavendo.wav"_ba << false;
        QTest::newRow("dot dot") << u".."_s << "sound/...wav"_ba << false;
        QTest::newRow("dot") << u"."_s << "sound/..wav"_ba << false;
    }

    void locateRecording()
    {
        QFETCH(QString, title);
        QFETCH(QByteArray, existing);
        QFETCH(bool, found);
        QVERIFY(touch(m_folder.path(), existing));
        const QString path = SoundPath(m_folder.path(), title);
        QCOMPARE(isRecordingPath(path), found || title == u"静夜思"_s);
        const QByteArray expected =
            found ? QFile::encodeName(m_folder.path()) + '/' + existing : QByteArray();
        QCOMPARE(::locateRecording(path), expected);
        // By its bytes: a code page 936 name has no QString form on this system.
        QCOMPARE(::unlink((QFile::encodeName(m_folder.path()) + '/' + existing).constData()), 0);
    }

    void callSequences_data()
    {
        QTest::addColumn<Sequence>("sequence");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("log"); // the lines the device wrote down, joined by "|"
        QTest::addColumn<WaveDevice::Mode>("mode");
        const auto Closed = WaveDevice::Mode::Closed;
        const auto Open = WaveDevice::Mode::Open;
        QTest::newRow("play to end")
            << Sequence::PlayToEnd << QString()
            << u"Notify=false|FILE|Command=open|Wait=true|Command=play|Command=close"_s << Closed;
        QTest::newRow("play to end, open fails")
            << Sequence::PlayToEnd << u"open"_s << u"Notify=false|FILE|Command=open|Command=close"_s
            << Closed;
        QTest::newRow("playback window")
            << Sequence::PlaybackWindow << QString()
            << u"DeviceType=waveaudio|FILE|Command=open|Notify=false|Wait=true|Command=play"_s
            << Open;
        QTest::newRow("playback window, play fails")
            << Sequence::PlaybackWindow << u"play"_s
            << u"DeviceType=waveaudio|FILE|Command=open|Notify=false|Wait=true|Command=play|"
               "Command=close"_s
            << Closed;
        QTest::newRow("arm") << Sequence::Arm << QString()
                             << u"DeviceType=waveaudio|FILE|Notify=false|Command=open|Notify=true"_s
                             << Open;
        QTest::newRow("arm, open fails")
            << Sequence::Arm << u"open"_s
            << u"DeviceType=waveaudio|FILE|Notify=false|Command=open|Command=close"_s << Closed;
        QTest::newRow("save") << Sequence::Save << QString()
                              << u"Wait=true|Command=save|Command=close"_s << Closed;
        QTest::newRow("save fails")
            << Sequence::Save << u"save"_s << u"Wait=true|Command=save|Command=close"_s << Closed;
    }

    void callSequences()
    {
        QFETCH(Sequence, sequence);
        QFETCH(QString, failing);
        QFETCH(QString, log);
        QFETCH(WaveDevice::Mode, mode);
        const QString path = SoundPath(m_folder.path(), u"静夜思"_s);
        QVERIFY(touch(m_folder.path(), "sound/静夜思.wav"));
        auto owned = std::make_unique<FakeWaveDevice>();
        FakeWaveDevice *device = owned.get();
        const DeviceError failure{DeviceError::Kind::WriteFailed, u"磁盘已满"_s};
        if (!failing.isEmpty())
            device->failures.insert(failing, failure);
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(std::move(owned));
        if (sequence == Sequence::Save) {
            MMControl1.setCommand(u"open"_s);
            device->log.clear();
        }

        std::optional<DeviceError> result;
        switch (sequence) {
        case Sequence::PlayToEnd:
            result = playToEnd(MMControl1, path);
            break;
        case Sequence::PlaybackWindow:
            result = playInPlaybackWindow(MMControl1, path);
            break;
        case Sequence::Arm:
            result = armRecording(MMControl1, path);
            break;
        case Sequence::Save:
            result = saveRecording(MMControl1);
            break;
        }
        const QString file = u"FileName="_s + path;
        QCOMPARE(device->log, log.replace(u"FILE"_s, file).split(u'|'));
        QCOMPARE(MMControl1.mode(), mode);
        QCOMPARE(result.has_value(), !failing.isEmpty());
        if (result)
            QCOMPARE(result->detail, failure.detail);
    }

    void controlButtons()
    {
        auto owned = std::make_unique<FakeWaveDevice>();
        FakeWaveDevice *device = owned.get();
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(std::move(owned));
        MMControl1.show();
        QVERIFY(QTest::qWaitForWindowExposed(&MMControl1));
        QSignalSpy done(&MMControl1, &WaveDeviceControl::Done);
        auto *record = MMControl1.findChild<QPushButton *>(u"recordButton"_s);
        auto *stop = MMControl1.findChild<QPushButton *>(u"stopButton"_s);
        auto *meter = MMControl1.findChild<QProgressBar *>(u"levelMeter"_s);
        auto *elapsed = MMControl1.findChild<QLabel *>(u"elapsed"_s);
        QVERIFY(record && stop && meter && elapsed);
        QVERIFY(!record->isEnabled() && !stop->isEnabled());

        QVERIFY(!armRecording(MMControl1, SoundPath(m_folder.path(), u"春晓"_s)));
        QVERIFY(record->isEnabled() && !stop->isEnabled());
        QTest::mouseClick(record, Qt::LeftButton);
        QVERIFY(!record->isEnabled() && stop->isEnabled());
        device->sendLevel(0.5, 65'000);
        QCOMPARE(meter->value(), 54);
        QCOMPARE(elapsed->text(), u"1:05"_s);
        device->sendLevel(0.01, 66'400);
        QCOMPARE(meter->value(), 20);
        QCOMPARE(elapsed->text(), u"1:06"_s);
        device->sendLevel(0.0005, 67'000);
        QCOMPARE(meter->value(), 0);
        QCOMPARE(MMControl1.takePeak(), 0.5);

        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(done.count(), 1);
        QCOMPARE(done[0][0].toInt(), 4);
        QVERIFY(record->isEnabled() && !stop->isEnabled());
        QCOMPARE(elapsed->text(), u"0:00"_s);
        device->raiseDone(8);
        QCOMPARE(done.count(), 2);
        QCOMPARE(done[1][0].toInt(), 8);

        // A new take starts from silence.
        QTest::mouseClick(record, Qt::LeftButton);
        QCOMPARE(MMControl1.takePeak(), 0.0);
        MMControl1.setCommand(u"close"_s);
        QVERIFY(!record->isEnabled() && !stop->isEnabled());
        QCOMPARE(device->log.filter(u"record"_s).size(), 2);
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
        QTest::newRow("float") << int(SF_FORMAT_FLOAT) << 44100 << mono << 0.001;
        QTest::newRow("double") << int(SF_FORMAT_DOUBLE) << 8000 << mono << 0.001;
        QTest::newRow("IMA ADPCM") << int(SF_FORMAT_IMA_ADPCM) << 22050 << mono << 0.05;
        QTest::newRow("MS ADPCM stereo")
            << int(SF_FORMAT_MS_ADPCM) << 22050 << QList<double>{0.5, 0.25} << 0.05;
        QTest::newRow("GSM 6.10") << int(SF_FORMAT_GSM610) << 8000 << mono << 0.15;
        QTest::newRow("mu-law") << int(SF_FORMAT_ULAW) << 8000 << mono << 0.02;
        QTest::newRow("A-law") << int(SF_FORMAT_ALAW) << 8000 << mono << 0.02;
        QTest::newRow("three channels to mono")
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
        QList<double> expected = amplitudes;
        if (amplitudes.size() > 2)
            expected = {std::accumulate(amplitudes.begin(), amplitudes.end(), 0.0) / 3};
        QCOMPARE(clip->channels, expected.size());

        const auto *samples = reinterpret_cast<const qint16 *>(clip->pcm.constData());
        for (int channel = 0; channel < expected.size(); ++channel) {
            double squares = 0;
            for (sf_count_t frame = 0; frame < frames; ++frame) {
                const double heard = samples[frame * expected.size() + channel] / 32768.0;
                const double difference = heard - toneSample(frame, rate, expected[channel]);
                squares += difference * difference;
            }
            const double error = std::sqrt(squares / double(frames));
            QVERIFY2(error < tolerance,
                     qPrintable(u"channel %1 off by %2"_s.arg(channel).arg(error)));
        }
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << "静夜思，床前明月光。"_ba;
        QTest::newRow("cut short") << "RIFF\x24\x00\x00\x00WAVEfmt "_ba;
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("no frames") << QByteArray(); // written below by libsndfile
    }

    void unreadableFile()
    {
        QFETCH(QByteArray, bytes);
        const QString path = SoundPath(m_folder.path(), u"静夜思"_s);
        QVERIFY(QDir().mkpath(m_folder.path() + u"/sound"_s));
        if (QByteArray(QTest::currentDataTag()) == "no frames") {
            QVERIFY(writeTone(QFile::encodeName(path), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050,
                              {0.5}, 0));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        }
        SoundCardDevice device;
        device.setFileName(path);
        device.setCommand(u"open"_s);
        QVERIFY(device.error());
        QCOMPARE(device.error()->kind, DeviceError::Kind::UnreadableFile);
        QVERIFY(!device.error()->detail.isEmpty());
        QCOMPARE(device.mode(), WaveDevice::Mode::Closed);
    }

    void encode()
    {
        const QList<qint16> samples{0, 1000, -1000, 32767, -32768, 12345};
        Clip clip{QByteArray(reinterpret_cast<const char *>(samples.data()), samples.size() * 2),
                  22050, 1};
        QString error;
        const QByteArray bytes = encodeWaveFile(clip, error);
        QVERIFY2(!bytes.isEmpty(), qPrintable(error));
        QCOMPARE(bytes.left(4), "RIFF"_ba);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
        QCOMPARE(bytes.mid(8, 4), "WAVE"_ba);

        QByteArray fmt;
        QByteArray data;
        for (qsizetype at = 12; at + 8 <= bytes.size();) {
            const QByteArray id = bytes.mid(at, 4);
            const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
            if (id == "fmt ")
                fmt = bytes.mid(at + 8, size);
            else if (id == "data")
                data = bytes.mid(at + 8, size);
            at += 8 + size + (size & 1);
        }
        // PCM, mono, 22,050 frames and 44,100 bytes a second, 2 bytes a frame, 16 bits a sample.
        QCOMPARE(fmt.left(16).toHex(), "010001002256000044ac000002001000"_ba);
        QCOMPARE(data.toHex(), "0000e80318fcff7f00803930"_ba);
    }
};

QTEST_MAIN(SoundTest)
#include "tst_sound.moc"
