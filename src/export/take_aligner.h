// Where the take lies in the recording. The recording starts a little before the take's
// first step and hears the output some milliseconds late; the step clock's frames, the
// output's and the input's latencies give an estimate of the take's span, and a copy of
// what the output rendered from the first step on pins it to the frame.
//
// Threads: UI thread only.
#pragma once

#include <cstdint>

namespace zb {

namespace audio {
class SoundDevice;
}
namespace capture {
class CaptureDevice;
}

class TakeAligner {
public:
    explicit TakeAligner(capture::CaptureDevice& capture) : capture_(capture) {}

    // When the recording's input stream is made: how far the output has got.
    void recordingBegins(audio::SoundDevice* device);
    // At the take's first step (stepFrame: its output frame, < 0 on the wall clock), after
    // the record command's result `recording` (true when it started).
    void takeStarts(audio::SoundDevice* device, int64_t stepFrame, bool recording);
    // At the step that ends the take, before the recording stops: tells the capture device
    // which span of the recording to wait for and keep.
    void takeEnds(audio::SoundDevice* device, int64_t stepFrame);
    // After the recording has stopped: moves the span to where the recording holds the
    // output's copy of the take's first frame, when it can be found there.
    void align(audio::SoundDevice* device);

private:
    capture::CaptureDevice& capture_;
    // With the step clock on the output's frames: the frame of the take's first step, and
    // how many output frames of sound were still on their way out when the recording started
    // (what the take leaves out at its start, with the input's latency). takeStartFrame_ < 0:
    // keep the whole recording.
    int64_t takeStartFrame_ = -1;
    int64_t takeLeadIn_ = 0;
    int64_t renderedAtRecordStart_ = -1;  // output frames rendered when the recording began
    // The take's span in frames of the recording as estimated from the latencies; count < 0:
    // none.
    int64_t spanFrom_ = 0;
    int64_t spanCount_ = -1;
};

}  // namespace zb
