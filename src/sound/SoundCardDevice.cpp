#include "SoundCardDevice.h"

#include "AtomicWrite.h"
#include "BusyWhilePlaying.h"
#include "NativePath.h"
#include "RecordingTrash.h"
#include "SoundPath.h"
#include "SystemError.h"

#include <QAudioDevice>
#include <QEventLoop>
#include <QMediaDevices>

#include <cerrno>
#include <sys/stat.h>

namespace {

DeviceError notReady(const QString &why)
{
    return {DeviceError::Kind::NotReady, why};
}

DeviceError writeFailed(const QString &why)
{
    return {DeviceError::Kind::WriteFailed, why};
}

// Often enough for a lit line to follow the voice closely, and no burden to the computer.
constexpr int PartIntervalMs = 10;

bool isEmpty(const PoemShape &shape)
{
    return shape.title == 0 && std::ranges::all_of(shape.lines, [](int n) { return n == 0; });
}

} // namespace

SoundCardDevice::SoundCardDevice(PhraseFinder findPhrases, SoundLimits limits)
    : m_findPhrases(std::move(findPhrases))
    , m_limits(limits)
    , m_player(limits.playSlackMs)
    , m_recorder(limits.inputStallMs)
{
    m_partTimer.setInterval(PartIntervalMs);
    m_partTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_partTimer, &QTimer::timeout, this, [this] { showPart(m_plan.partAt(position())); });
    connect(&m_player, &WavePlayer::finished, this, &SoundCardDevice::playerFinished);
    connect(&m_recorder, &WaveRecorder::level, this, &WaveDevice::inputLevel);
    connect(&m_recorder, &WaveRecorder::level, this, [this](qreal, qint64 elapsedMilliseconds) {
        if (elapsedMilliseconds >= m_limits.longestTakeMs)
            stop();
    });
    connect(&m_recorder, &WaveRecorder::failed, this, [this](const DeviceError &error) {
        endTake(NotifyFailure);
        m_error = error;
    });
}

SoundCardDevice::~SoundCardDevice()
{
    // A "play" that waits ends its loop on the player's signal, also when the window that owns
    // the device goes away meanwhile; the window itself hears nothing more.
    blockSignals(true);
    m_player.stop();
    m_recorder.stop();
}

void SoundCardDevice::setCommand(const QString &command)
{
    m_error.reset();
    const bool notify = std::exchange(m_notify, false);
    const bool wait = std::exchange(m_wait, false);
    const QString name = command.trimmed().toLower();
    if (name == QStringLiteral("open"))
        open();
    else if (name == QStringLiteral("play"))
        play(wait, notify);
    else if (name == QStringLiteral("save"))
        save();
    else if (name == QStringLiteral("close"))
        close();
    else
        m_error = notReady(QStringLiteral("不认识的命令：%1").arg(command));
}

void SoundCardDevice::record()
{
    m_error.reset();
    const bool notify = std::exchange(m_notify, false);
    m_wait = false;
    if (m_mode != Mode::Open) {
        m_error = notReady(QStringLiteral("设备没有打开，或正在放音录音"));
        return;
    }
    if (auto failure = m_recorder.start()) {
        m_error = failure;
        return;
    }
    // A new take drops the one before, also one that could not be saved.
    m_clip = Clip{};
    m_recorded = false;
    m_silentTake = false;
    m_recordNotify = notify;
    setMode(Mode::Recording);
}

void SoundCardDevice::stop()
{
    // The Stop button ends what the device is doing; it is no command of the window's, so the
    // Notify that arming left for the next take stays, also when Stop ended a take's listening.
    m_error.reset();
    if (m_mode == Mode::Recording)
        endTake(NotifyAborted);
    else if (m_mode == Mode::Playing)
        m_player.stop();
}

void SoundCardDevice::endTake(NotifyCode code)
{
    WaveRecorder::Take take = m_recorder.stop();
    m_recorded = !take.clip.pcm.isEmpty();
    m_silentTake = take.silent;
    if (m_recorded) {
        m_clip = std::move(take.clip);
        m_phrases.reset();
    }
    setMode(Mode::Open);
    if (std::exchange(m_recordNotify, false))
        postDone(code);
}

void SoundCardDevice::listen()
{
    m_error.reset();
    play(false, false);
}

bool SoundCardDevice::CanPlay() const
{
    return m_mode == Mode::Open &&
           (!m_clip.pcm.isEmpty() || !locateRecording(m_fileName).isEmpty());
}

bool SoundCardDevice::CanRecord() const
{
    return m_mode == Mode::Open && !QMediaDevices::defaultAudioInput().isNull();
}

qint64 SoundCardDevice::Length() const
{
    return m_recorded ? m_clip.milliseconds() : 0;
}

void SoundCardDevice::open()
{
    close();
    if (!m_deviceType.isEmpty() &&
        m_deviceType.compare(QStringLiteral("waveaudio"), Qt::CaseInsensitive) != 0) {
        m_error = DeviceError{DeviceError::Kind::NoDevice,
                              QStringLiteral("没有这种设备：%1").arg(m_deviceType)};
        return;
    }
    setMode(Mode::Open);
}

void SoundCardDevice::play(bool wait, bool notify)
{
    if (m_mode == Mode::Closed || m_mode == Mode::Recording) {
        m_error = notReady(QStringLiteral("设备没有打开，或正在录音"));
        return;
    }
    if (m_clip.pcm.isEmpty()) {
        if (auto failure = loadFile()) {
            m_error = failure;
            return;
        }
    }
    m_playNotify = false;
    m_player.stop();
    m_plan = ReadingPlan(m_phrases.value_or(std::vector<Phrase>()), m_readAfterMe);
    if (auto failure = m_player.start(m_plan.played(m_clip))) {
        m_error = failure;
        return;
    }
    m_playNotify = notify;
    setMode(Mode::Playing);
    m_partTimer.start();
    if (!wait)
        return;

    // Timers and repaints go on while the sound plays; clicks and keys are thrown away.
    // Nothing may follow the loop: a timer may have closed or even destroyed the device.
    const BusyWhilePlaying busy;
    QEventLoop loop;
    connect(&m_player, &WavePlayer::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

std::optional<DeviceError> SoundCardDevice::loadFile()
{
    const QByteArray found = locateRecording(m_fileName);
    if (found.isEmpty())
        return DeviceError{DeviceError::Kind::MissingFile, m_fileName};
    QString reason;
    std::optional<Clip> clip = readWaveFile(found, reason);
    if (!clip)
        return DeviceError{DeviceError::Kind::UnreadableFile, reason};
    m_clip = std::move(*clip);
    m_phrases = isEmpty(m_shape) ? std::nullopt : m_findPhrases(m_clip, m_shape);
    return std::nullopt;
}

void SoundCardDevice::save()
{
    if (m_mode != Mode::Open) {
        m_error = notReady(QStringLiteral("设备没有打开，或正在放音录音"));
        return;
    }
    if (!m_recorded) {
        m_error = notReady(QStringLiteral("还没有录音"));
        return;
    }
    if (m_silentTake) {
        m_error = DeviceError{DeviceError::Kind::NoSound, QStringLiteral("录音几乎没有声音")};
        m_recorded = false;
        m_clip = Clip{};
        return;
    }
    if (!isRecordingPath(m_fileName)) {
        m_error = writeFailed(QStringLiteral("录音只能存在 sound 文件夹里"));
        return;
    }
    const QString folder = m_fileName.left(m_fileName.lastIndexOf(QLatin1Char('/')));
    if (::mkdir(nativePath(folder).constData(), 0777) != 0 && errno != EEXIST) {
        m_error = writeFailed(reasonText(errno));
        return;
    }
    QString reason;
    const QByteArray bytes = encodeWaveFile(m_clip, reason);
    if (bytes.isEmpty()) {
        m_error = writeFailed(reason);
        return;
    }
    // The older recording goes to the trash only for as long as the new one is not in place.
    const QByteArray older = locateRecording(m_fileName);
    const std::optional<QString> inTrash = older.isEmpty() ? std::nullopt : moveToTrash(older);
    if (const std::optional<int> failure = writeFileAtomically(m_fileName, bytes)) {
        m_error = writeFailed(reasonText(*failure));
        if (inTrash)
            restoreFromTrash(*inTrash, older);
    }
}

void SoundCardDevice::close()
{
    setMode(Mode::Closed);
    m_playNotify = false;
    m_recordNotify = false;
    m_player.stop();
    m_recorder.stop();
    m_clip = Clip{};
    m_phrases.reset();
    m_recorded = false;
    m_silentTake = false;
}

void SoundCardDevice::playerFinished(WavePlayer::Ending ending)
{
    m_partTimer.stop();
    showPart(ReadingPlan::NoPart);
    if (m_mode == Mode::Playing)
        setMode(Mode::Open);
    if (ending == WavePlayer::Ending::Failed)
        m_error = m_player.failure();
    if (!std::exchange(m_playNotify, false))
        return;
    switch (ending) {
    case WavePlayer::Ending::Completed:
        postDone(NotifySuccessful);
        break;
    case WavePlayer::Ending::Stopped:
        postDone(NotifyAborted);
        break;
    case WavePlayer::Ending::Failed:
        postDone(NotifyFailure);
        break;
    }
}

void SoundCardDevice::setMode(Mode mode)
{
    if (m_mode == mode)
        return;
    m_mode = mode;
    Q_EMIT modeChanged(mode);
}

void SoundCardDevice::showPart(int part)
{
    if (std::exchange(m_part, part) != part)
        Q_EMIT partHeard(part);
}

void SoundCardDevice::postDone(NotifyCode code)
{
    QMetaObject::invokeMethod(
        this, [this, code] { Q_EMIT Done(code); }, Qt::QueuedConnection);
}

std::unique_ptr<WaveDevice> makeSoundCardDevice()
{
    return std::make_unique<SoundCardDevice>();
}
