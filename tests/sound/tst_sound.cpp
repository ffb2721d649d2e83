#include "CallSequences.h"
#include "DeadAir.h"
#include "LibraryFixture.h"
#include "PhraseCorpus.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QtCore>
#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <numbers>
#include <numeric>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// A tenth of a second of sound in a file that plays.
const QByteArray Playable = waveHeader(1, 8000, 1600) + QByteArray(1600, '\1');

constexpr int Rate = 22050;

// A mono take made of parts such as "n1.5 t2 n1": so many seconds of t a 440 Hz tone at half of
// full scale, h a hummed syllable, swelling and fading, c a click, z digital silence, n the
// noise of a quiet room, N of a loud one; and floor, a noise under all but the tones.
Clip take(const QString &parts, double floor = 0)
{
    const QHash<QChar, double> noises{{u'n', 0.0005}, {u'N', 0.05}, {u'c', 0.9}};
    Clip clip{{}, Rate, 1};
    quint32 noise = 1; // never repeats within a take, so the kept part is found by its bytes
    for (const QString &part : parts.split(u' ')) {
        const auto length = qint64(part.mid(1).toDouble() * Rate);
        for (qint64 i = 0; i < length; ++i) {
            noise = noise * 1664525 + 1013904223;
            const double hum = std::sin(std::numbers::pi * double(i) / double(length)) *
                               std::sin(2 * std::numbers::pi * 180 * double(i) / Rate);
            const double value = part[0] == u't' ? toneSample(i, Rate, 0.5)
                                                 : (noises.value(part[0]) + floor) *
                                                           (double(noise >> 8) / (1 << 23) - 1) +
                                                       (part[0] == u'h' ? 0.18 * hum : 0);
            const auto sample = qint16(std::lround(value * 32767));
            clip.pcm.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        }
    }
    return clip;
}

class SoundTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A computer without sound, whatever this one has: no sound server is found there.
    void initTestCase() { qputenv("PULSE_SERVER", "unix:/nonexistent/native"); }

    void recordingOnDisk_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("name"); // under the application folder, by its bytes
        // What the file holds; "pipe" makes a pipe instead, "link" a link to a recording elsewhere.
        QTest::addColumn<QByteArray>("bytes");
        // Empty: it plays; "-": nothing is found; else why it does not play.
        QTest::addColumn<QString>("said");
        const QString title = u"静夜思"_s, no = u"-"_s, plays;
        const QByteArray named = "sound/静夜思.wav"_ba, header = waveHeader(1, 8000, 800);
        QTest::newRow("as named") << title << named << Playable << plays;
        // 静夜思 in code page 936, as copying tools leave names made on old Windows computers.
        QTest::newRow("GBK name, .WAV")
            << title << "sound/\xBE\xB2\xD2\xB9\xCB\xBC.WAV"_ba << Playable << plays;
        QTest::newRow("a link") << title << named << "link"_ba << plays;
        QTest::newRow("up a folder") << u"../Kavendo"_s << "Kavendo.wav"_ba << Playable << no;
        QTest::newRow("a pipe") << title << named << "pipe"_ba << u"这是一个管道，不是文件"_s;
        QTest::newRow("empty") << title << named << QByteArray() << u"文件是空的"_s;
        QTest::newRow("header alone") << title << named << header << u"文件里没有声音"_s;
        QTest::newRow("no channels") << title << named << waveHeader(0, 8000, 800) + header
                                     << u"文件里没有能播放的声音：文件已损坏或不完整"_s;
        QTest::newRow("1 Hz, six hours") << title << named << waveHeader(1, 1, 44100) + header
                                         << u"采样率 1 Hz 不合常理，文件头可能坏了"_s;
        QTest::newRow("data past the end")
            << title << named << waveHeader(1, 8000, 80000) + Playable.sliced(44) << plays;
        QTest::newRow("ten minutes and a second")
            << title << named << waveHeader(1, 1000, 1'202'000) + QByteArray(1'202'000, '\0')
            << u"这段录音长 10 分 01 秒，超过了 10 分钟的上限"_s;
    }

    // Whatever lies under a poem's recording name, as old computers name it too, is found and
    // decoded, or tells in Chinese why it cannot be played; no title leads out of the sound
    // folder. Without sound, reading aloud and recording say so; ▶ is still offered.
    void recordingOnDisk()
    {
        QFETCH(QString, title);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, said);
        QTemporaryDir folder;
        // Made by its bytes: a code page 936 name has no QString form on this system.
        const QByteArray path = QFile::encodeName(folder.path()) + '/' + name;
        QVERIFY(QDir().mkpath(QFileInfo(QFile::decodeName(path)).path()));
        const QByteArray made = QFile::encodeName(folder.filePath(u"made"_s));
        LibraryFixture::writeFile(folder.filePath(u"made"_s), bytes == "link" ? Playable : bytes);
        if (bytes == "pipe")
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        else
            QCOMPARE((bytes == "link" ? ::symlink : ::rename)(made.constData(), path.constData()),
                     0);

        const QString soundPath = SoundPath(folder.path(), title);
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(makeSoundCardDevice());
        const std::optional<DeviceError> read = playToEnd(MMControl1, soundPath);
        const std::optional<DeviceError> armed = armRecording(MMControl1, soundPath);
        ::unlink(path.constData()); // QTemporaryDir cannot remove a code page 936 name
        const bool found = said != u"-"_s;
        QVERIFY(read && armed);
        QCOMPARE(read->kind, !found           ? DeviceError::Kind::MissingFile
                             : said.isEmpty() ? DeviceError::Kind::NoDevice
                                              : DeviceError::Kind::UnreadableFile);
        QCOMPARE(read->detail, !found ? soundPath : said.isEmpty() ? u"找不到放音设备"_s : said);
        QCOMPARE(armed->detail, u"找不到录音设备"_s);
        QCOMPARE(MMControl1.findChild<QLabel *>(u"status"_s)->text(), u"没有麦克风，\n不能录音"_s);
        QVERIFY(!MMControl1.findChild<QPushButton *>(u"recordButton"_s)->isEnabled());
        QCOMPARE(MMControl1.findChild<QPushButton *>(u"playButton"_s)->isEnabled(), found);
    }

    void decode_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<double>>("amplitudes"); // of the channels
        QTest::addColumn<double>("tolerance");         // of the waveform, relative to full scale
        const QList<double> mono{0.5}, stereo{0.5, -0.25};
        QTest::newRow("8-bit stereo") << int(SF_FORMAT_PCM_U8) << 11025 << stereo << 0.01;
        QTest::newRow("float") << int(SF_FORMAT_FLOAT) << 8000 << mono << 0.001;
        QTest::newRow("IMA ADPCM") << int(SF_FORMAT_IMA_ADPCM) << 22050 << mono << 0.05;
        QTest::newRow("MS ADPCM stereo") << int(SF_FORMAT_MS_ADPCM) << 22050 << stereo << 0.05;
        QTest::newRow("GSM 6.10") << int(SF_FORMAT_GSM610) << 8000 << mono << 0.15;
        QTest::newRow("A-law") << int(SF_FORMAT_ALAW) << 8000 << mono << 0.02;
        QTest::newRow("three channels")
            << int(SF_FORMAT_PCM_16) << 16000 << QList{0.6, 0.3, 0.0} << 0.001;
    }

    // The recordings that old computers made play as they were recorded; more than two channels
    // are mixed down to one, the mean of them.
    void decode()
    {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(QList<double>, amplitudes);
        QFETCH(double, tolerance);
        QTemporaryDir folder;
        const QByteArray path = QFile::encodeName(folder.filePath(u"tone.wav"_s));
        const qsizetype frames = 4000;
        QVERIFY(writeTone(path, SF_FORMAT_WAV | format, rate, amplitudes, frames));
        QString error;
        const std::optional<Clip> clip = readWaveFile(path, error);
        QVERIFY2(clip, qPrintable(error));
        if (amplitudes.size() > 2)
            amplitudes = {std::reduce(amplitudes.begin(), amplitudes.end()) / 3};
        const qsizetype channels = amplitudes.size();
        QCOMPARE((QList{clip->sampleRate, clip->channels}), (QList{rate, int(channels)}));
        // Block codecs round the length up to whole blocks.
        QVERIFY2(clip->frames() >= frames && clip->frames() < frames + 2048,
                 qPrintable(QString::number(clip->frames())));
        const auto *samples = reinterpret_cast<const qint16 *>(clip->pcm.constData());
        double squares = 0;
        for (qsizetype i = 0; i < frames * channels; ++i)
            squares += std::pow(
                samples[i] / 32768.0 - toneSample(i / channels, rate, amplitudes[i % channels]), 2);
        const double off = std::sqrt(squares / double(frames * channels));
        QVERIFY2(off < tolerance, qPrintable(QString::number(off)));
    }

    void trimDeadAir_data()
    {
        QTest::addColumn<QString>("parts"); // of the take
        QTest::addColumn<double>("from");   // what is kept of it, in seconds
        QTest::addColumn<double>("to");
        QTest::newRow("breath, reading, pause") << u"n1.5 t2 n1"_s << 1.25 << 3.75;
        QTest::newRow("loud room") << u"N1.5 t2 N1"_s << 1.25 << 3.75;
        QTest::newRow("a pause inside is kept") << u"n1 t0.5 n1.5 t0.5 n1"_s << 0.75 << 3.75;
        QTest::newRow("sound end to end") << u"t3"_s << 0.0 << 3.0;
        QTest::newRow("the click of the mouse") << u"n0.2 c0.01 n1 t1 n0.5"_s << 0.96 << 2.46;
    }

    // A take keeps a quarter of a second of air around the reading, in any room.
    void trimDeadAir()
    {
        QFETCH(QString, parts);
        QFETCH(double, from);
        QFETCH(double, to);
        const Clip recorded = take(parts);
        const Clip kept = ::trimDeadAir(recorded);
        const double start = double(recorded.pcm.indexOf(kept.pcm) / 2) / Rate;
        const double end = start + double(kept.frames()) / Rate;
        QVERIFY2(!kept.pcm.isEmpty() && std::abs(start - from) < 0.011 &&
                     std::abs(end - to) < 0.011,
                 qPrintable(u"kept %1 to %2 s"_s.arg(start).arg(end)));
    }

    void findPhrases_data()
    {
        QTest::addColumn<QList<int>>("characters"); // hummed, phrase by phrase
        QTest::addColumn<double>("floor");          // the room's noise
        QTest::newRow("a line missing") << QList{3, 5, 5, 5} << 0.0055;
        QTest::newRow("pauses everywhere") << QList<int>(12, 1) << 0.0055;
        QTest::newRow("noise") << QList<int>() << 0.0055;
        QTest::newRow("silence") << QList<int>() << 0.0;
    }

    // A recording is split into the title and the lines only when it plainly holds them: no
    // highlight is better than a wrong one. (Recordings that hold them are measured below.)
    void findPhrases()
    {
        QFETCH(QList<int>, characters);
        QFETCH(double, floor);
        // Each character a 220 ms hum, 30 ms apart, the phrases half a second apart.
        QString parts = u"z0.2"_s;
        for (const int count : characters)
            parts += u" h0.22 z0.03"_s.repeated(count) + u" z0.5"_s;
        QVERIFY(!::findPhrases(take(parts, floor), {3, {5, 5, 5, 5}}));
    }

    // Recordings of real poems whose boundaries are known, through kavendo-phrases.
    void phraseAccuracy()
    {
        if (QStandardPaths::findExecutable(u"espeak-ng"_s).isEmpty())
            QSKIP("espeak-ng is not installed (./setup installs it)");
        QTemporaryDir folder;
        QString error;
        const QStringList programFolders = writePhraseCorpus(folder.path(), MeasuredCorpus, error);
        QVERIFY2(!programFolders.isEmpty(), qPrintable(error));
        PhraseScore score;
        for (const QString &programFolder : programFolders) {
            QProcess phrases;
            phrases.start(KAVENDO_PHRASES ""_L1, {programFolder});
            QVERIFY2(phrases.waitForFinished(60000) && phrases.exitCode() == 0,
                     phrases.readAllStandardError().constData());
            QFile truth(programFolder + u"/truth.txt"_s);
            QVERIFY(truth.open(QIODevice::ReadOnly));
            scorePhrases(truth.readAll(), phrases.readAllStandardOutput(), score);
        }
        qInfo().noquote() << score.summary();
        QVERIFY2(score.recordings > 100 && score.closeShare() >= 0.95 && score.safeShare() >= 0.99,
                 qPrintable(score.summary()));
    }
};

QTEST_MAIN(SoundTest)
#include "tst_sound.moc"
