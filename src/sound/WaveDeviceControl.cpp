#include "WaveDeviceControl.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace {

// The meter shows decibels from -60 dBFS (empty) to 0 dBFS (full), as a parent hears loudness.
int meterValue(qreal peak)
{
    if (peak <= 0)
        return 0;
    return std::clamp(int(std::lround(60 + 20 * std::log10(peak))), 0, 60);
}

QString elapsedText(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

WaveDeviceControl::WaveDeviceControl(QWidget *parent)
    : QWidget(parent)
    , m_stopButton(new QPushButton(QStringLiteral("■"), this))
    , m_levelMeter(new QProgressBar(this))
    , m_elapsed(new QLabel(elapsedText(0), this))
    , m_recordButton(new QPushButton(QStringLiteral("●"), this))
{
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setAccessibleName(QStringLiteral("停止录音"));
    m_recordButton->setObjectName(QStringLiteral("recordButton"));
    m_recordButton->setAccessibleName(QStringLiteral("开始录音"));
    m_recordButton->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_levelMeter->setObjectName(QStringLiteral("levelMeter"));
    m_levelMeter->setRange(0, 60);
    m_levelMeter->setTextVisible(false);
    m_elapsed->setObjectName(QStringLiteral("elapsed"));
    for (QPushButton *button : {m_stopButton, m_recordButton}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_stopButton);
    layout->addWidget(m_levelMeter, 1);
    layout->addWidget(m_elapsed);
    layout->addWidget(m_recordButton);

    connect(m_recordButton, &QPushButton::clicked, this, [this] {
        m_takePeak = 0;
        m_device->record();
    });
    connect(m_stopButton, &QPushButton::clicked, this, [this] { m_device->stop(); });
    showMode(WaveDevice::Mode::Closed);
}

WaveDeviceControl::~WaveDeviceControl() = default;

void WaveDeviceControl::setDevice(std::unique_ptr<WaveDevice> device)
{
    m_device = std::move(device);
    connect(m_device.get(), &WaveDevice::Done, this, &WaveDeviceControl::Done);
    connect(m_device.get(), &WaveDevice::partHeard, this, &WaveDeviceControl::partHeard);
    connect(m_device.get(), &WaveDevice::modeChanged, this, &WaveDeviceControl::showMode);
    connect(m_device.get(), &WaveDevice::inputLevel, this, &WaveDeviceControl::showLevel);
    showMode(m_device->mode());
}

void WaveDeviceControl::setDeviceType(const QString &type)
{
    m_device->setDeviceType(type);
}

void WaveDeviceControl::setFileName(const QString &fileName)
{
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

void WaveDeviceControl::showMode(WaveDevice::Mode mode)
{
    m_recordButton->setEnabled(mode == WaveDevice::Mode::Open);
    m_stopButton->setEnabled(mode == WaveDevice::Mode::Recording ||
                             mode == WaveDevice::Mode::Playing);
    if (mode == WaveDevice::Mode::Open) {
        m_levelMeter->setValue(0);
        m_elapsed->setText(elapsedText(0));
    }
}

void WaveDeviceControl::showLevel(qreal peak, qint64 elapsedMilliseconds)
{
    m_takePeak = std::max(m_takePeak, peak);
    m_levelMeter->setValue(meterValue(peak));
    m_elapsed->setText(elapsedText(elapsedMilliseconds));
}
