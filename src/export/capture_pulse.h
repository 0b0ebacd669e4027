// The export's recording input on a PulseAudio or PipeWire (pipewire-pulse) server, through
// libpulse's threaded main loop. It records what Zembrola plays: the monitor of the sink
// that this process's output stream plays on. A desktop's default recording source is a
// microphone or a headset, which never carries the loop.
//
// Threads: openInput and the stream's start/stop/latencyFrames on the UI thread. The
// FrameSink is called on libpulse's main-loop thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export/capture_input.h"

namespace zb::capture {

// What the server reports, reduced to what the choice of source needs.
struct PlaybackSeen {
    uint32_t sink = 0;
    std::string processId;  // application.process.id, empty when unknown
};
struct SinkSeen {
    uint32_t index = 0;
    std::string name;
    std::string monitor;  // empty: the sink has no monitor
};

// The source to record: the monitor of the sink that a playback stream of `ownPid` plays on;
// when the output plays on none the server knows, the default sink's monitor; empty when
// there is no monitor at all (then the server's default source is recorded).
std::string chooseCaptureSource(const std::vector<PlaybackSeen>& playback,
                                const std::vector<SinkSeen>& sinks, const std::string& defaultSink,
                                const std::string& ownPid);

class PulseInputSystem : public InputSystem {
public:
    // nullptr also when no PulseAudio server answers.
    std::unique_ptr<InputStream> openInput(int sampleRate, int channels, FrameSink& sink) override;
    // UI thread, after a successful openInput: the source it records.
    const std::string& lastSource() const { return lastSource_; }
    // UI thread: whether the last openInput reached a server.
    bool serverAnswered() const { return serverAnswered_; }

private:
    std::string lastSource_;
    bool serverAnswered_ = false;
};

// The input the program uses: the output's monitor through the sound server; only where no
// PulseAudio server answers (bare ALSA, JACK) the default recording input through RtAudio.
class DesktopInputSystem : public InputSystem {
public:
    std::unique_ptr<InputStream> openInput(int sampleRate, int channels, FrameSink& sink) override;

private:
    PulseInputSystem pulse_;
    RtAudioInputSystem fallback_;
};

}  // namespace zb::capture
