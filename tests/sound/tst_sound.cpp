#include "CallSequences.h"
#include "DeadAir.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFile.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class SoundTest final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private Q_SLOTS:
    void recordingOnDisk_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("name"); // made under the application folder, by its bytes
        QTest::addColumn<QString>("made");    // tone, link (to a tone), pipe, text, cut, long
        QTest::addColumn<QString>("said");    // empty: it plays; "-": nothing is found
        const QByteArray named = "sound/静夜思.wav"_ba;
        const QByteArray gbk = "sound/\xBE\xB2\xD2\xB9\xCB\xBC"_ba; // 静夜思 in code page 936
        const QString tone = u"tone"_s;
        QTest::newRow("as named") << u"静夜思"_s << named << tone << QString();
        QTest::newRow("filling spaces") << u"静夜思     "_s << named << tone << QString();
        QTest::newRow("inner and full-width spaces stay")
            << u" 春 晓\u3000 "_s << u"sound/春 晓\u3000.wav"_s.toUtf8() << tone << QString();
        QTest::newRow(".WAV") << u"静夜思"_s << "sound/静夜思.WAV"_ba << tone << QString();
        QTest::newRow("GBK name") << u"静夜思"_s << gbk + ".wav" << tone << QString();
        QTest::newRow("GBK name, .WAV") << u"静夜思"_s << gbk + ".WAV" << tone << QString();
        QTest::newRow("other folder") << u"静夜思"_s << "静夜思.wav"_ba << tone << u"-"_s;
        QTest::newRow("slash") << u"a/b"_s << "sound/a/b.wav"_ba << tone << u"-"_s;
        QTest::newRow("backslash") << u"a\\b"_s << "sound/a\\b.wav"_ba << tone << u"-"_s;
        QTest::newRow("up a folder") << u"../Kavendo"_s << "Kavendo.wav"_ba << tone << u"-"_s;
        QTest::newRow("dot dot") << u" .. "_s << "sound/...wav"_ba << tone << u"-"_s;
        QTest::newRow("back through the sound folder's parent")
            << u"../sound/静夜思"_s << named << tone << u"-"_s;
        QTest::newRow("a link to a recording elsewhere")
            << u"静夜思"_s << named << u"link"_s << QString();
        QTest::newRow("a pipe") << u"静夜思"_s << named << u"pipe"_s << u"这是一个管道，不是文件"_s;
        QTest::newRow("text") << u"静夜思"_s << named << u"text"_s
                              << u"文件里没有能播放的声音：这种声音格式不能播放"_s;
        QTest::newRow("no data chunk")
            << u"静夜思"_s << named << u"cut"_s << u"文件里没有能播放的声音：文件已损坏或不完整"_s;
        QTest::newRow("ten minutes and a second")
            << u"静夜思"_s << named << u"long"_s
            << u"这段录音长 10 分 01 秒，超过了 10 分钟的上限"_s;
    }

    // Whatever lies under a poem's recording name, as old computers name it too, is found, and
    // plays or says at once, in Chinese, why it cannot; no title leads out of the sound folder.
    void recordingOnDisk()
    {
        QFETCH(QString, title);
        QFETCH(QByteArray, name);
        QFETCH(QString, made);
        QFETCH(QString, said);
        QTemporaryDir folder;
        // Made by its bytes: a code page 936 name has no QString form on this system.
        const QByteArray path = QFile::encodeName(folder.path()) + '/' + name;
        const QByteArray tone = QFile::encodeName(folder.filePath(u"tone.wav"_s));
        QVERIFY(QDir().mkpath(QFileInfo(QFile::decodeName(path)).path()));
        QVERIFY(writeTone(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000, {0.5},
                          made == u"long"_s ? 601'000 : 1000));
        if (made == u"link"_s)
            QCOMPARE(::symlink(tone.constData(), path.constData()), 0);
        else if (made == u"pipe"_s)
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        else if (made == u"text"_s)
            LibraryFixture::writeFile(QFile::decodeName(tone), "Jing Ye Si\n");
        else if (made == u"cut"_s)
            QCOMPARE(::truncate(tone.constData(), 36), 0); // no data chunk
        if (made != u"link"_s && made != u"pipe"_s)
            QCOMPARE(::rename(tone.constData(), path.constData()), 0);

        const QByteArray located = ::locateRecording(SoundPath(folder.path(), title));
        QString error;
        const bool plays = !located.isEmpty() && readWaveFile(located, error);
        ::unlink(path.constData()); // QTemporaryDir cannot remove a code page 936 name
        QCOMPARE(located, said == u"-"_s ? QByteArray() : path);
        QCOMPARE(plays, said.isEmpty());
        QCOMPARE(error, said == u"-"_s ? QString() : said);
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

    // A take keeps a quarter of a second of air around the reading, in any room.
    void trimDeadAir()
    {
        QFETCH(QString, take);
        QFETCH(double, from);
        QFETCH(double, to);
        const int rate = 22050;
        const QHash<QChar, double> amplitudes{
            {u't', 0.5}, {u'n', 0.0005}, {u'N', 0.05}, {u'z', 0.0}, {u'c', 0.9}};
        Clip clip{{}, rate, 1};
        quint32 noise = 1; // never repeats within a take, so the kept part is found by its bytes
        for (const QString &part : take.split(u' ')) {
            const double amplitude = amplitudes.value(part[0]);
            for (qint64 i = 0; i < qint64(part.mid(1).toDouble() * rate); ++i) {
                noise = noise * 1664525 + 1013904223;
                const double value = part[0] == u't'
                                         ? toneSample(i, rate, amplitude)
                                         : amplitude * (double(noise >> 8) / (1 << 23) - 1);
                const auto sample = qint16(std::lround(value * 32767));
                clip.pcm.append(reinterpret_cast<const char *>(&sample), sizeof sample);
            }
        }
        const Clip kept = ::trimDeadAir(clip);
        const double start = double(clip.pcm.indexOf(kept.pcm) / 2) / rate;
        const double end = start + double(kept.frames()) / rate;
        QVERIFY2(kept.pcm.size() > 0 && std::abs(start - from) < 0.011 &&
                     std::abs(end - to) < 0.011,
                 qPrintable(u"kept %1 to %2 s"_s.arg(start).arg(end)));
    }

    // On a computer without sound, reading aloud, arming a new recording and recording over an
    // old one each say at once that there is no sound device; a recording that is not there is told
    // as missing, since opening it needs no sound card. The recorder still plays the recording
    // there is.
    void commandsSayNoDevice()
    {
        if (!QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("needs a computer without sound, as ctest runs it");
        QTemporaryDir folder;
        const QString existing = SoundPath(folder.path(), u"静夜思"_s);
        const QString missing = SoundPath(folder.path(), u"春晓"_s);
        QVERIFY(QDir().mkpath(folder.filePath(u"sound"_s)) &&
                writeTone(QFile::encodeName(existing), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050,
                          {0.5}, 22050));
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(makeSoundCardDevice());
        QElapsedTimer clock;
        clock.start();
        for (const auto &failure :
             {playToEnd(MMControl1, existing), playToEnd(MMControl1, missing),
              armRecording(MMControl1, missing), armRecording(MMControl1, existing)}) {
            QVERIFY(failure && !failure->detail.isEmpty());
            QCOMPARE(failure->kind, failure->detail == missing ? DeviceError::Kind::MissingFile
                                                               : DeviceError::Kind::NoDevice);
        }
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(MMControl1.findChild<QLabel *>(u"status"_s)->text(), u"没有麦克风，\n不能录音"_s);
        QVERIFY(!MMControl1.findChild<QPushButton *>(u"recordButton"_s)->isEnabled());
        QVERIFY(MMControl1.findChild<QPushButton *>(u"playButton"_s)->isEnabled());
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

    // The recordings that old computers made play as they were recorded.
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
