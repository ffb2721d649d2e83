#include "AudioError.h"

DeviceError audioDeviceError(QAudio::Error error, bool recording)
{
    const QString device = recording ? QStringLiteral("录音设备") : QStringLiteral("放音设备");
    switch (error) {
    case QAudio::OpenError:
        return {DeviceError::Kind::NoDevice,
                device + QStringLiteral("无法打开，声音服务可能没有运行")};
    case QAudio::IOError:
        return {DeviceError::Kind::NoDevice, device + QStringLiteral("读写声音时出错")};
    case QAudio::UnderrunError:
    case QAudio::FatalError:
    case QAudio::NoError:
        break;
    }
    return {DeviceError::Kind::NoDevice, device + QStringLiteral("出错")};
}
