#include "CallSequences.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(WaveDevice::Mode)

// Run with PULSE_SERVER naming a socket where no server listens: a computer without sound.
class NoServerTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandsSayNoDevice_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<WaveDevice::Mode>("mode");
        QTest::newRow("read aloud") << u"play"_s << WaveDevice::Mode::Closed;
        QTest::newRow("arm a new recording") << u"arm"_s << WaveDevice::Mode::Closed;
        QTest::newRow("record over a recording") << u"record"_s << WaveDevice::Mode::Open;
    }

    void commandsSayNoDevice()
    {
        QFETCH(QString, action);
        QFETCH(WaveDevice::Mode, mode);
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.filePath(u"sound"_s)));
        const QString existing = SoundPath(folder.path(), u"静夜思"_s);
        QVERIFY(writeTone(QFile::encodeName(existing), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050,
                          {0.5}, 22050));
        WaveDeviceControl MMControl1;
        MMControl1.setDevice(makeSoundCardDevice());

        QElapsedTimer clock;
        clock.start();
        std::optional<DeviceError> failure;
        if (action == u"play"_s) {
            failure = playToEnd(MMControl1, existing);
        } else if (action == u"arm"_s) {
            failure = armRecording(MMControl1, SoundPath(folder.path(), u"春晓"_s));
        } else {
            QVERIFY(!armRecording(MMControl1, existing));
            MMControl1.findChild<QPushButton *>(u"recordButton"_s)->click();
            failure = MMControl1.error();
        }
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(failure);
        QCOMPARE(failure->kind, DeviceError::Kind::NoDevice);
        QVERIFY(!failure->detail.isEmpty());
        QCOMPARE(MMControl1.mode(), mode);
    }
};

QTEST_MAIN(NoServerTest)
#include "tst_soundcard_noserver.moc"
