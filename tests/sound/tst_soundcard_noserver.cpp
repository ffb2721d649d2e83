#include "CallSequences.h"
#include "Form1.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Run with PULSE_SERVER naming a socket where no server listens: a computer without sound.
class NoServerTest final : public GuiTest
{
    Q_OBJECT

private Q_SLOTS:
    // Reading aloud, arming a new recording and recording over an old one each say at once
    // that there is no sound device, in words for the message; a recording that is not there
    // is told as missing, since opening it needs no sound card.
    void commandsSayNoDevice()
    {
        QTemporaryDir folder;
        const QString existing = SoundPath(folder.path(), u"静夜思"_s);
        QVERIFY(QDir().mkpath(folder.filePath(u"sound"_s)) &&
                writeTone(QFile::encodeName(existing), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050,
                          {0.5}, 22050));
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(makeSoundCardDevice());
        const auto noDevice = [](const std::optional<DeviceError> &error) {
            return error && error->kind == DeviceError::Kind::NoDevice && !error->detail.isEmpty();
        };
        QElapsedTimer clock;
        clock.start();
        QVERIFY(noDevice(playToEnd(MMControl1, existing)));
        const QString missing = SoundPath(folder.path(), u"春晓"_s);
        QCOMPARE(playToEnd(MMControl1, missing)->kind, DeviceError::Kind::MissingFile);
        QVERIFY(noDevice(armRecording(MMControl1, missing)));
        QVERIFY(noDevice(armRecording(MMControl1, existing)));
        // Still armed, so that the recording there is can be listened to.
        QVERIFY(!MMControl1.findChild<QPushButton *>(u"recordButton"_s)->isEnabled());
        QVERIFY(MMControl1.findChild<QPushButton *>(u"playButton"_s)->isEnabled());
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // The program itself starts, and 朗读 tells the parent why nothing is heard: no sound card
    // for a recording there is, the missing recording for one that is not.
    void readingAloudSaysSo()
    {
        QTemporaryDir folder;
        LibraryFixture::writeLibrary(folder.path(), LibraryFixture::poem(u"静夜思"_s) +
                                                        LibraryFixture::poem(u"春晓"_s));
        QVERIFY(QDir().mkpath(folder.filePath(u"sound"_s)) &&
                writeTone(QFile::encodeName(SoundPath(folder.path(), u"静夜思"_s)),
                          SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, {0.5}, 22050));
        Form1 form(Environment{folder.path(), makeSoundCardDevice});
        form.show();
        auto *readAloud = form.findChild<QPushButton *>(u"Command1_0"_s);
        QTest::mouseClick(readAloud, Qt::LeftButton);
        said(u"Kavendo: 没有可用的放音设备，无法朗读《静夜思》"_s);
        QVERIFY(readAloud->isEnabled());
        QTest::mouseClick(form.findChild<QPushButton *>(u"Command1_1"_s), Qt::LeftButton);
        QTest::mouseClick(readAloud, Qt::LeftButton);
        said(u"Kavendo: 没有找到《春晓》的录音："_s);
    }
};

QTEST_MAIN(NoServerTest)
#include "tst_soundcard_noserver.moc"
