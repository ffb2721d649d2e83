#include "WaveDeviceControl.h"

#include "NativePath.h"
#include "SoundPath.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace {

const QColor RecordRed(0xc0, 0x00, 0x00);

// Wide enough for one symbol, so that the recording's title has the room.
constexpr int ButtonWidth = 26;

// The meter shows decibels from -60 dBFS (empty) to 0 dBFS (full), as a parent hears loudness.
constexpr int MeterRangeDb = 60;

int meterValue(qreal peak)
{
    if (peak <= 0)
        return 0;
    return std::clamp(int(std::lround(MeterRangeDb + 20 * std::log10(peak))), 0, MeterRangeDb);
}

QString elapsedText(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// What a parent is told when listening fails, in a few words that fit the control.
QString listeningFailure(const DeviceError &error)
{
    switch (error.kind) {
    case DeviceError::Kind::MissingFile:
        return QStringLiteral("还没有录音");
    case DeviceError::Kind::UnreadableFile:
        return QStringLiteral("录音文件坏了，请重新录音");
    case DeviceError::Kind::NoDevice:
        return QStringLiteral("没有放音设备");
    default:
        return QStringLiteral("无法播放录音");
    }
}

} // namespace

WaveDeviceControl::WaveDeviceControl(QWidget *parent)
    : QWidget(parent)
    , m_stopButton(new QPushButton(QStringLiteral("■"), this))
    , m_playButton(new QPushButton(QStringLiteral("▶"), this))
    , m_status(new QLabel(this))
    , m_levelMeter(new QProgressBar(this))
    , m_elapsed(new QLabel(elapsedText(0), this))
    , m_recordButton(new QPushButton(QStringLiteral("●"), this))
{
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setAccessibleName(QStringLiteral("停止"));
    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_playButton->setAccessibleName(QStringLiteral("听录音"));
    m_playButton->setToolTip(QStringLiteral("听录音"));
    m_recordButton->setObjectName(QStringLiteral("recordButton"));
    m_recordButton->setAccessibleName(QStringLiteral("开始录音"));
    // Red only while it can be pressed: disabled, it greys like any other button.
    QPalette red = m_recordButton->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        red.setColor(group, QPalette::ButtonText, RecordRed);
    m_recordButton->setPalette(red);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignCenter);
    m_levelMeter->setObjectName(QStringLiteral("levelMeter"));
    m_levelMeter->setRange(0, MeterRangeDb);
    m_levelMeter->setTextVisible(false);
    m_elapsed->setObjectName(QStringLiteral("elapsed"));
    for (QPushButton *button : {m_stopButton, m_playButton, m_recordButton}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        button->setFixedWidth(ButtonWidth);
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(m_stopButton);
    layout->addWidget(m_playButton);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_levelMeter, 1);
    layout->addWidget(m_elapsed);
    layout->addWidget(m_recordButton);

    connect(m_recordButton, &QPushButton::clicked, this, [this] {
        showNote({});
        m_device->record();
    });
    connect(m_playButton, &QPushButton::clicked, this, [this] {
        showNote({});
        m_device->listen();
        if (const auto failure = m_device->error())
            showNote(listeningFailure(*failure));
    });
    connect(m_stopButton, &QPushButton::clicked, this, &WaveDeviceControl::stop);
}

WaveDeviceControl::~WaveDeviceControl() = default;

void WaveDeviceControl::setDevice(std::unique_ptr<WaveDevice> device)
{
    m_device = std::move(device);
    connect(m_device.get(), &WaveDevice::Done, this, &WaveDeviceControl::Done);
    connect(m_device.get(), &WaveDevice::partHeard, this, &WaveDeviceControl::partHeard);
    connect(m_device.get(), &WaveDevice::modeChanged, this, &WaveDeviceControl::showState);
    connect(m_device.get(), &WaveDevice::inputLevel, this, &WaveDeviceControl::showLevel);
    showState();
}

void WaveDeviceControl::setDeviceType(const QString &type)
{
    m_device->setDeviceType(type);
}

void WaveDeviceControl::setFileName(const QString &fileName)
{
    if (fileName != m_fileName)
        m_note.clear();
    m_fileName = fileName;
    m_device->setFileName(fileName);
}

void WaveDeviceControl::setNotify(bool notify)
{
    m_device->setNotify(notify);
}

void WaveDeviceControl::setWait(bool wait)
{
    m_device->setWait(wait);
}

void WaveDeviceControl::setPoemShape(const PoemShape &shape)
{
    m_device->setPoemShape(shape);
}

void WaveDeviceControl::setReadAfterMe(bool readAfterMe)
{
    m_device->setReadAfterMe(readAfterMe);
}

void WaveDeviceControl::setCommand(const QString &command)
{
    m_device->setCommand(command);
    // A command may change what there is to play without changing the mode (a failed save).
    showState();
}

std::optional<DeviceError> WaveDeviceControl::error() const
{
    return m_device->error();
}

WaveDevice::Mode WaveDeviceControl::mode() const
{
    return m_device->mode();
}

qint64 WaveDeviceControl::position() const
{
    return m_device->position();
}

bool WaveDeviceControl::CanPlay() const
{
    return m_device->CanPlay();
}

bool WaveDeviceControl::CanRecord() const
{
    return m_device->CanRecord();
}

qint64 WaveDeviceControl::Length() const
{
    return m_device->Length();
}

void WaveDeviceControl::stop()
{
    m_device->stop();
}

void WaveDeviceControl::showSaved(qint64 milliseconds)
{
    showNote(QStringLiteral("已保存 %1").arg(elapsedText(milliseconds)));
}

void WaveDeviceControl::showNoSound()
{
    showNote(QStringLiteral("没有录到声音，\n请检查麦克风"));
}

void WaveDeviceControl::showNote(const QString &note)
{
    m_note = note;
    showState();
}

void WaveDeviceControl::showState()
{
    const WaveDevice::Mode mode = m_device->mode();
    const bool recording = mode == WaveDevice::Mode::Recording;
    const bool canRecord = m_device->CanRecord();
    m_recordButton->setEnabled(canRecord);
    m_playButton->setEnabled(m_device->CanPlay());
    m_stopButton->setEnabled(recording || mode == WaveDevice::Mode::Playing);
    m_status->setVisible(!recording);
    m_levelMeter->setVisible(recording);
    m_elapsed->setVisible(recording);
    if (recording)
        return;
    m_levelMeter->setValue(0);
    m_elapsed->setText(elapsedText(0));

    QString status;
    if (mode == WaveDevice::Mode::Closed)
        status = QString();
    else if (!m_note.isEmpty())
        status = m_note;
    else if (mode == WaveDevice::Mode::Open && !canRecord)
        status = QStringLiteral("没有麦克风，\n不能录音");
    else
        status = QStringLiteral("《%1》").arg(recordingTitle(m_fileName));
    m_status->setText(status);
    m_status->setToolTip(mode == WaveDevice::Mode::Closed
                             ? QString()
                             : QStringLiteral("录音文件：%1").arg(displayPath(m_fileName)));
}

void WaveDeviceControl::showLevel(qreal peak, qint64 elapsedMilliseconds)
{
    m_levelMeter->setValue(meterValue(peak));
    m_elapsed->setText(elapsedText(elapsedMilliseconds));
}
