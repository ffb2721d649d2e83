#pragma once

#include "WaveDevice.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

// The wave-device control, MMControl1 in every window that uses sound. Hidden in the main and
// playback windows; in the maintenance window it shows the Stop button on the left and the
// Record button on the right, a Play button beside Stop for listening to the recording, and
// between them the poem it records for, or, while it records, the input level and the length
// of the take, so that a silent or unplugged microphone is seen at once.
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
    bool CanPlay() const;
    bool CanRecord() const;
    qint64 Length() const;
    // As the Stop button does.
    void stop();
    qint64 position() const;

    // Until the user's next action the control says that a take of this length was saved, or
    // that the take held no sound.
    void showSaved(qint64 milliseconds);
    void showNoSound();

Q_SIGNALS:
    void Done(WaveDevice::NotifyCode code);
    void partHeard(int part);

private:
    void showState();
    void showLevel(qreal peak, qint64 elapsedMilliseconds);
    void showNote(const QString &note);

    std::unique_ptr<WaveDevice> m_device;
    QPushButton *m_stopButton;
    QPushButton *m_playButton;
    QLabel *m_status;
    QProgressBar *m_levelMeter;
    QLabel *m_elapsed;
    QPushButton *m_recordButton;
    QString m_fileName;
    // What the control last has to say of a take or of listening, shown instead of the poem.
    QString m_note;
};
