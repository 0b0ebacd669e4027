// The recording input of the export, as the capture device sees it: it opens a stream when
// it starts recording and receives the frames through a FrameSink. On a sound server that is
// the output's monitor (capture_pulse.h); RtAudioInputSystem is the default recording input
// of bare ALSA or JACK.
//
// Threads: openInput, start and stop on the thread that drives the capture device (the UI
// thread). FrameSink::write runs on the input's own thread and must be real-time safe.
#pragma once

#include <cstdint>
#include <memory>

namespace zb::capture {

// Receives interleaved 16-bit frames as they arrive.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void write(const int16_t* frames, uint32_t count) noexcept = 0;
};

class InputStream {
public:
    virtual ~InputStream();
    // False when the input refuses to run.
    virtual bool start() = 0;
    // After stop() returns, the sink is no longer called.
    virtual void stop() = 0;
    // UI thread. Frames between a sound reaching the input and the sink receiving it.
    virtual int64_t latencyFrames() const { return 0; }
    // Any thread. True once the input has gone away (the sound server quit) while it ran.
    virtual bool lost() const { return false; }
};

class InputSystem {
public:
    virtual ~InputSystem();
    // Opens the default recording input for 16-bit frames at the rate and channel count;
    // nullptr when there is no input or it refuses the format.
    virtual std::unique_ptr<InputStream> openInput(int sampleRate, int channels,
                                                   FrameSink& sink) = 0;
};

// The default recording input through RtAudio, PulseAudio first.
class RtAudioInputSystem : public InputSystem {
public:
    std::unique_ptr<InputStream> openInput(int sampleRate, int channels, FrameSink& sink) override;
};

}  // namespace zb::capture
