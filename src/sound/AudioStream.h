#pragma once

#include <memory>

// A QAudioSink or QAudioSource that stops when it is let go and is destroyed by the event loop
// later. Destroying a PulseAudio stream in Qt 6.4 runs every event pending at that moment, clicks
// and keys included; a stream let go inside a "play" that keeps input waiting, or inside the
// handler of a click, would let that input through.
struct StopAndDeleteLater
{
    template<class Stream>
    void operator()(Stream *stream) const
    {
        // Nothing of ours hears from the stream again, not even of its own stopping.
        stream->disconnect();
        stream->stop();
        stream->deleteLater();
    }
};

template<class Stream>
using AudioStream = std::unique_ptr<Stream, StopAndDeleteLater>;
