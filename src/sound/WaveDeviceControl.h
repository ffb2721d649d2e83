#pragma once

#include "WaveDevice.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

// The wave-device control, MMControl1 in every window that uses sound. Hidden in the main and
// playback windows; in the maintenance window it shows the Stop button on the left and the
// Record button on the right, and between them the input level and the length of the take, so
// that a silent or unplugged microphone is seen at once.
class WaveDeviceControl final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WaveDeviceControl)

public:
    explicit WaveDeviceControl(QWidget *parent = nullptr);
    ~WaveDeviceControl() override;

    void setDevice(std::unique_ptr<WaveDevice> device);

    void setDeviceType(const QString &type);
    void setFileName(const QString &fileName);
    void setNotify(bool notify);
    void setWait(bool wait);
    void setPoemShape(const PoemShape &shape);
    void setReadAfterMe(bool readAfterMe);
    void setCommand(const QString &command);
    std::optional<DeviceError> error() const;
    WaveDevice::Mode mode() const;
    qint64 position() const;

    // The loudest sample of the last recording (0 to 1), for telling a silent take.
    qreal takePeak() const { return m_takePeak; }

Q_SIGNALS:
    void Done(int NotifyCode);
    void partHeard(int part);

private:
    void showMode(WaveDevice::Mode mode);
    void showLevel(qreal peak, qint64 elapsedMilliseconds);

    std::unique_ptr<WaveDevice> m_device;
    QPushButton *m_stopButton;
    QProgressBar *m_levelMeter;
    QLabel *m_elapsed;
    QPushButton *m_recordButton;
    qreal m_takePeak = 0;
};
