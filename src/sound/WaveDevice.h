#pragma once

#include "Phrases.h"

#include <QObject>
#include <QString>

#include <optional>

// Why a wave-device command could not be carried out.
struct DeviceError
{
    enum class Kind {
        MissingFile,    // no recording at the path, nor under a name an old computer gives it
        UnreadableFile, // something is there but holds no sound that can be played
        NoDevice,       // no sound output or input: no audio server, no sound card
        WriteFailed,    // the recording could not be written
        NotReady,       // the command does not fit the device's state (save with nothing recorded)
        NoSound,        // the take is next to silence: the microphone is unplugged or muted
    };

    Kind kind;
    // The system's or the sound library's own words, for the message the user sees.
    QString detail;
};

// The wave-audio device behind a window's MMControl1. The windows' call sequences set its
// members one by one and send a command by setting Command, as the design has it; Done reports
// the end of a command that was sent with Notify set.
class WaveDevice : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WaveDevice)

public:
    enum class Mode { Closed, Open, Playing, Recording };
    // What Done reports, numbered as the system's media control numbers them.
    enum NotifyCode : int {
        NotifySuccessful = 1,
        NotifySuperseded = 2,
        NotifyAborted = 4, // also a recording ended with the Stop button, or by itself
        NotifyFailure = 8, // also a recording that the sound input broke off
    };
    Q_ENUM(NotifyCode)

    ~WaveDevice() override = default;

    virtual void setDeviceType(const QString &type) = 0;
    virtual void setFileName(const QString &fileName) = 0;
    // Applies to the next command that can report its end.
    virtual void setNotify(bool notify) = 0;
    // Applies to the next command: when set, the command returns only once it has finished.
    virtual void setWait(bool wait) = 0;
    // What "open" needs to find where the title and each line are spoken in a recording: the
    // number of characters in each. An empty shape finds nothing.
    virtual void setPoemShape(const PoemShape &shape) = 0;
    // For every "play" from now on: after each phrase found, a pause as long as the phrase plus
    // a second, so that a child can say it after the voice.
    virtual void setReadAfterMe(bool readAfterMe) = 0;

    // Sends "open", "play", "save" or "close" at once.
    //  open:  readies the device for FileName; it reads nothing and needs no sound card, so
    //         that a broken recording never keeps anyone from making a new one.
    //  play:  plays the take recorded since "open", else the file at FileName (also under an
    //         old computer's name), decoded now; with Wait set it returns when the sound has
    //         ended, the windows repainting meanwhile; clicks and keys made meanwhile are
    //         thrown away.
    //  save:  writes the take to FileName as 16-bit PCM mono WAV at 22,050 Hz, creating the
    //         sound folder when needed and replacing any older file atomically, the older one
    //         going to the desktop's trash where there is one. A take next to silence is
    //         dropped instead and the older file stays as it is (NoSound).
    //  close: releases the file, the take and the sound card.
    virtual void setCommand(const QString &command) = 0;

    // What the last command left: nothing when it succeeded.
    virtual std::optional<DeviceError> error() const = 0;

    virtual Mode mode() const = 0;
    // Whether "play" has something to play, and whether Record can start: the device is open
    // and, for recording, the computer has a sound input.
    virtual bool CanPlay() const = 0;
    virtual bool CanRecord() const = 0;
    // The length of the take recorded since "open" and not yet saved, in milliseconds; 0 when
    // there is none.
    virtual qint64 Length() const = 0;
    // While playing: how much of the sound has been heard, in milliseconds, pauses included.
    virtual qint64 position() const = 0;

    // The control's own Record, Stop and Play buttons. Stopping a recording raises
    // Done(NotifyAborted) when Notify was set; so does a take that reaches its longest length.
    // A take that the sound input breaks off raises Done(NotifyFailure) instead, with error()
    // saying why; what was taken in before is kept as a stopped take is. Play plays as "play"
    // does but without waiting, and leaves Notify to the recording it was set for.
    virtual void record() = 0;
    virtual void stop() = 0;
    virtual void listen() = 0;

Q_SIGNALS:
    void Done(WaveDevice::NotifyCode code);
    void modeChanged(WaveDevice::Mode mode);
    // While recording: the loudest sample of the sound just taken in (0 to 1), and how long the
    // recording has run.
    void inputLevel(qreal peak, qint64 elapsedMilliseconds);
    // While playing, as it is heard: the part of the poem being read (0 the title, 1 to 4 the
    // lines), or -1 between phrases; -1 too when playing ends.
    void partHeard(int part);

protected:
    WaveDevice() = default;
};
