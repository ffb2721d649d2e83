#include "CallSequences.h"
#include "DeadAir.h"
#include "FakeWaveDevice.h"
#include "LibraryFixture.h"
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
#include <sys/stat.h>
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
        QTest::newRow("back through the sound folder's parent")
            << u"../sound/静夜思"_s << "sound/静夜思.wav"_ba << false;
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

    // Whatever has a poem's recording name, reading it plays it or says at once, in Chinese,
    // why it cannot.
    void readingSaysWhyThereIsNoSound_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("said"); // empty: it plays
        QTest::newRow("a link to a recording elsewhere") << u"link"_s << QString();
        QTest::newRow("a pipe") << u"pipe"_s << u"这是一个管道，不是文件"_s;
        QTest::newRow("text") << u"text"_s << u"文件里没有能播放的声音：这种声音格式不能播放"_s;
        QTest::newRow("no data chunk")
            << u"cut"_s << u"文件里没有能播放的声音：文件已损坏或不完整"_s;
        QTest::newRow("ten minutes and a second")
            << u"long"_s << u"这段录音长 10 分 01 秒，超过了 10 分钟的上限"_s;
    }

    void readingSaysWhyThereIsNoSound()
    {
        QFETCH(QString, what);
        QFETCH(QString, said);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath(u"sound"_s));
        const QString path = SoundPath(folder.path(), u"静夜思"_s);
        const QString tone = folder.filePath(u"tone.wav"_s);
        QVERIFY(writeTone(QFile::encodeName(tone), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000, {0.5},
                          what == u"long"_s ? 601'000 : 1000));
        if (what == u"link"_s)
            QVERIFY(QFile::link(tone, path));
        else if (what == u"pipe"_s)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else if (what == u"text"_s)
            LibraryFixture::writeFile(path, "Jing Ye Si\n");
        else if (what == u"cut"_s)
            QVERIFY(QFile::copy(tone, path) && QFile::resize(path, 36)); // no data chunk
        else
            QVERIFY(QFile::rename(tone, path));

        const QByteArray located = ::locateRecording(path);
        QCOMPARE(located, QFile::encodeName(path));
        QString error;
        const std::optional<Clip> clip = readWaveFile(located, error);
        QCOMPARE(error, said);
        QCOMPARE(clip.has_value(), said.isEmpty());
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
        // Still open, with the take, for trying again.
        QTest::newRow("save fails") << save << u"save"_s << u"FILE open Wait=true save"_s;
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

    void controlShows_data()
    {
        QTest::addColumn<QString>("steps"); // separated by "; "
        QTest::addColumn<QString>("shown"); // the status, or meter and clock; then ■▶● enabled
        QTest::newRow("closed") << QString() << u" 000"_s;
        QTest::newRow("armed") << u"arm"_s << u"《春晓》 001"_s;
        QTest::newRow("armed, recorded before") << u"file; arm"_s << u"《春晓》 011"_s;
        QTest::newRow("no microphone") << u"nomic; arm"_s << u"没有麦克风，不能录音 000"_s;
        // The meter in decibels above -60 dBFS, the clock in minutes and seconds.
        QTest::newRow("recording") << u"arm; record; level 0.5 65999"_s << u"54 1:05 100"_s;
        QTest::newRow("recording, quiet")
            << u"arm; record; level 0.5 1000; level 0.0005 600000"_s << u"0 10:00 100"_s;
        QTest::newRow("listening") << u"file; arm; play"_s << u"《春晓》 100"_s;
        QTest::newRow("saved") << u"arm; saved 12999; close; arm"_s << u"已保存 0:12 001"_s;
        QTest::newRow("no sound") << u"arm; silent"_s << u"没有录到声音，请检查麦克风 001"_s;
        QTest::newRow("said until the next action")
            << u"file; arm; silent; play; stop"_s << u"《春晓》 011"_s;
        QTest::newRow("or another poem") << u"arm; saved 1000; other"_s << u"《静夜思》 001"_s;
    }

    // The maintenance window's recorder shows what it records for and what became of the take;
    // the red ● is grey whenever it cannot be pressed.
    void controlShows()
    {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        auto owned = std::make_unique<FakeWaveDevice>();
        FakeWaveDevice *device = owned.get();
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(std::move(owned));
        const QString path = SoundPath(m_folder.path(), u"春晓"_s);
        QFile::remove(path);
        for (const QString &step : steps.split(u"; "_s, Qt::SkipEmptyParts)) {
            const QStringList words = step.split(u' ');
            if (step == u"file"_s)
                QVERIFY(QDir().mkpath(m_folder.filePath(u"sound"_s)) &&
                        QFile(path).open(QFile::WriteOnly));
            else if (step == u"nomic"_s)
                device->failures.insert(u"record"_s, {});
            else if (step == u"arm"_s || step == u"other"_s)
                armRecording(MMControl1, step == u"arm"_s ? path : u"/sound/静夜思.wav"_s);
            else if (words[0] == u"level"_s)
                device->sendLevel(words[1].toDouble(), words[2].toLongLong());
            else if (words[0] == u"saved"_s)
                MMControl1.showSaved(words[1].toLongLong());
            else if (step == u"silent"_s)
                MMControl1.showNoSound();
            else if (step == u"close"_s)
                MMControl1.setCommand(step);
            else
                MMControl1.findChild<QPushButton *>(step + u"Button"_s)->click();
        }
        const auto *status = MMControl1.findChild<QLabel *>(u"status"_s);
        QString actual =
            status->isVisibleTo(&MMControl1)
                ? status->text().remove(u'\n')
                : u"%1 %2"_s.arg(MMControl1.findChild<QProgressBar *>(u"levelMeter"_s)->value())
                      .arg(MMControl1.findChild<QLabel *>(u"elapsed"_s)->text());
        actual += u' ';
        for (const char *name : {"stopButton", "playButton", "recordButton"})
            actual +=
                MMControl1.findChild<QPushButton *>(QLatin1String(name))->isEnabled() ? u'1' : u'0';
        QCOMPARE(actual, shown);

        auto *record = MMControl1.findChild<QPushButton *>(u"recordButton"_s);
        const QImage look = record->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(look.constBits());
        const bool red = std::any_of(pixels, pixels + look.width() * look.height(), [](QRgb c) {
            return qRed(c) > 150 && qGreen(c) < 60 && qBlue(c) < 60;
        });
        QCOMPARE(red, record->isEnabled());
    }

    void trimDeadAir_data()
    {
        QTest::addColumn<QString>("take"); // seconds of: t tone, n room noise, N loud room, z
                                           // digital silence, c a click
        QTest::addColumn<double>("from");  // what is kept of it, in seconds
        QTest::addColumn<double>("to");
        QTest::newRow("breath, reading, pause") << u"n1.5 t2 n1"_s << 1.25 << 3.75;
        QTest::newRow("digital silence") << u"z1.5 t2 z1"_s << 1.25 << 3.75;
        QTest::newRow("loud room") << u"N1.5 t2 N1"_s << 1.25 << 3.75;
        QTest::newRow("a pause inside is kept") << u"n1 t0.5 n1.5 t0.5 n1"_s << 0.75 << 3.75;
        QTest::newRow("sound end to end") << u"t3"_s << 0.0 << 3.0;
        QTest::newRow("reading at once") << u"t1 n2"_s << 0.0 << 1.25;
        QTest::newRow("the click of the mouse") << u"n0.2 c0.01 n1 t1 n0.5"_s << 0.96 << 2.46;
    }

    void trimDeadAir()
    {
        QFETCH(QString, take);
        QFETCH(double, from);
        QFETCH(double, to);
        const int rate = 22050;
        const QHash<QChar, double> amplitudes{
            {u't', 0.5}, {u'n', 0.0005}, {u'N', 0.05}, {u'z', 0.0}, {u'c', 0.9}};
        std::vector<qint16> samples;
        quint32 noise = 1; // never repeats within a take, so the kept part is found by its bytes
        for (const QString &part : take.split(u' ')) {
            const double amplitude = amplitudes.value(part[0]);
            for (qint64 i = 0; i < qint64(part.mid(1).toDouble() * rate); ++i) {
                noise = noise * 1664525 + 1013904223;
                const double value = part[0] == u't'
                                         ? toneSample(i, rate, amplitude)
                                         : amplitude * (double(noise >> 8) / (1 << 23) - 1);
                samples.push_back(qint16(std::lround(value * 32767)));
            }
        }
        const Clip clip{QByteArray(reinterpret_cast<const char *>(samples.data()),
                                   qsizetype(samples.size() * 2)),
                        rate, 1};
        const Clip kept = ::trimDeadAir(clip);
        const qsizetype start = clip.pcm.indexOf(kept.pcm) / 2;
        QVERIFY(start >= 0);
        QVERIFY2(std::abs(double(start) / rate - from) < 0.011,
                 qPrintable(QString::number(double(start) / rate)));
        const double end = double(start + kept.frames()) / rate;
        QVERIFY2(std::abs(end - to) < 0.011, qPrintable(QString::number(end)));
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
