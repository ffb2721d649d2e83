#include "CallSequences.h"
#include "LibraryFixture.h"
#include "PhraseCorpus.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QtCore>
#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// A tenth of a second of sound in a file that plays.
const QByteArray Playable = waveHeader(1, 8000, 1600) + QByteArray(1600, '\1');

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
        // Empty: it plays; "-": nothing is found; "removed": the cleanup after saves that were
        // killed midway removes it; else why it does not play.
        QTest::addColumn<QString>("said");
        const QString title = u"静夜思"_s, no = u"-"_s, plays;
        const QByteArray named = "sound/静夜思.wav"_ba, header = waveHeader(1, 8000, 800);
        QTest::newRow("as named") << title << named << Playable << plays;
        // 静夜思 in code page 936, as copying tools leave names made on old Windows computers.
        QTest::newRow("GBK name, .WAV")
            << title << "sound/\xBE\xB2\xD2\xB9\xCB\xBC.WAV"_ba << Playable << plays;
        QTest::newRow("a link") << title << named << "link"_ba << plays;
        QTest::newRow("up a folder") << u"../Kavendo"_s << "Kavendo.wav"_ba << Playable << no;
        QTest::newRow("a save killed midway")
            << title << "sound/.静夜思.wav.a1B2c3"_ba << Playable << u"removed"_s;
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
    // decoded, or tells at once, in Chinese, why it cannot be played; no title leads out of the
    // sound folder. On a computer without sound, reading aloud and recording then say at once
    // that there is no sound device, and the recording that is there can still be listened to.
    // Cleaning up after killed saves removes what they left and nothing else.
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
        // Unchanged for two minutes, as what a killed save left long ago.
        const timeval longAgo[2]{{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
        QCOMPARE(::utimes(made.constData(), longAgo), 0);
        if (bytes == "pipe")
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        else
            QCOMPARE((bytes == "link" ? ::symlink : ::rename)(made.constData(), path.constData()),
                     0);
        removeRecordingLeftovers(folder.path());
        QCOMPARE(::access(path.constData(), F_OK) == 0, said != u"removed"_s);

        const QString soundPath = SoundPath(folder.path(), title);
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(makeSoundCardDevice());
        const std::optional<DeviceError> read = playToEnd(MMControl1, soundPath);
        const std::optional<DeviceError> armed = armRecording(MMControl1, soundPath);
        ::unlink(path.constData()); // QTemporaryDir cannot remove a code page 936 name
        const bool found = said != u"-"_s && said != u"removed"_s;
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
