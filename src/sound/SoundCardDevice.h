#pragma once

#include "ReadingPlan.h"
#include "WaveDevice.h"
#include "WaveFile.h"
#include "WavePlayer.h"
#include "WaveRecorder.h"

#include <QTimer>

#include <functional>
#include <memory>

// How long sound may run on the sound card before the device steps in. Tests shorten them, so
// that what a parent would wait minutes for happens in a moment.
struct SoundLimits
{
    // How much longer than its own length a clip may take to be heard before the sound output
    // counts as broken.
    int playSlackMs = 5000;
    // How long the sound input may send nothing before it counts as broken off. It sends every
    // 50 ms or so.
    int inputStallMs = 2000;
    // A take left running ends itself at this length, as if Stop was pressed, a second before it
    // would be too long to play back; memory no longer grows all night.
    qint64 longestTakeMs = (LongestRecordingSeconds - 1) * qint64(1000);
};

// The wave device on the computer's sound card: the MCI-like members and commands over a
// player, a recorder and wave files.
class SoundCardDevice final : public WaveDevice
{
    Q_OBJECT

public:
    using PhraseFinder =
        std::function<std::optional<std::vector<Phrase>>(const Clip &, const PoemShape &)>;

    explicit SoundCardDevice(PhraseFinder findPhrases = ::findPhrases, SoundLimits limits = {});
    ~SoundCardDevice() override;

    void setDeviceType(const QString &type) override { m_deviceType = type; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    void setNotify(bool notify) override { m_notify = notify; }
    void setWait(bool wait) override { m_wait = wait; }
    void setPoemShape(const PoemShape &shape) override { m_shape = shape; }
    void setReadAfterMe(bool readAfterMe) override { m_readAfterMe = readAfterMe; }
    void setCommand(const QString &command) override;
    std::optional<DeviceError> error() const override { return m_error; }
    Mode mode() const override { return m_mode; }
    qint64 position() const override { return m_player.position(); }
    bool CanPlay() const override;
    bool CanRecord() const override;
    qint64 Length() const override;
    void record() override;
    void stop() override;
    void listen() override;

private:
    void open();
    void play(bool wait, bool notify);
    std::optional<DeviceError> loadFile();
    void save();
    void close();
    void playerFinished(WavePlayer::Ending ending);
    // Ends the take under way with what was taken in, and tells how it ended.
    void endTake(NotifyCode code);
    void setMode(Mode mode);
    void showPart(int part);
    // Done arrives as an event of its own, as it would from the system, so that a handler
    // may send the next command without running inside this one.
    void postDone(NotifyCode code);

    QString m_deviceType;
    QString m_fileName;
    // Notify and Wait concern the next command only, which consumes them.
    bool m_notify = false;
    bool m_wait = false;
    std::optional<DeviceError> m_error;
    Mode m_mode = Mode::Closed;
    // What "play" plays: the latest take, else the file once it has been decoded.
    Clip m_clip;
    PhraseFinder m_findPhrases;
    PoemShape m_shape;
    bool m_readAfterMe = false;
    // Where the title and the lines are spoken in the file, once decoded, when that was found.
    std::optional<std::vector<Phrase>> m_phrases;
    ReadingPlan m_plan;
    // Follows the sound as it is heard, to tell which part of the poem that is.
    QTimer m_partTimer;
    int m_part = ReadingPlan::NoPart;
    bool m_recorded = false;
    // The latest take is next to silence, and is not to replace any recording.
    bool m_silentTake = false;
    // Whether the command under way asked to be told of its end.
    bool m_playNotify = false;
    bool m_recordNotify = false;
    SoundLimits m_limits;
    WavePlayer m_player;
    WaveRecorder m_recorder;
};

// The device that the program puts in its Environment.
std::unique_ptr<WaveDevice> makeSoundCardDevice();
