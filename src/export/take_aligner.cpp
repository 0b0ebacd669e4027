#include "export/take_aligner.h"

#include <cmath>
#include <optional>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "export/capture_device.h"
#include "export/take_align.h"

namespace zb {
namespace {

constexpr int kTakeRate = 44100;
// How far the take's start may lie from its estimate (about 12 ms at 44.1 kHz; the
// estimate has been seen up to 2 ms off).
constexpr int64_t kAlignRadius = 512;

}  // namespace

void TakeAligner::recordingBegins(audio::SoundDevice* device) {
    // The count moves a period at a time; the device has played on since the last one.
    renderedAtRecordStart_ =
        device ? device->engine().framesRendered() + device->driver().framesSinceLastPeriod()
               : int64_t{-1};
}

void TakeAligner::takeStarts(audio::SoundDevice* device, int64_t stepFrame, bool recording) {
    takeStartFrame_ = -1;
    const int64_t renderedAtStart = renderedAtRecordStart_;
    renderedAtRecordStart_ = -1;
    if (!device || !recording || stepFrame < 0)
        return;
    // This step's sound reaches the input once the output has played from where it stood
    // when the recording began up to the step's frame, and through its own latency (the
    // input's is added at the end, in frames of the take).
    const int64_t rendered =
        renderedAtStart >= 0 ? renderedAtStart : device->engine().framesRendered();
    takeStartFrame_ = stepFrame;
    takeLeadIn_ = stepFrame - rendered + device->driver().latencyFrames();
    // What the output renders from just before this step on, to find it in the recording
    // afterwards.
    device->engine().copyOutput(stepFrame - capture::kAlignLeadFrames,
                                audio::Engine::kMaxCopyFrames);
}

void TakeAligner::takeEnds(audio::SoundDevice* device, int64_t stepFrame) {
    if (takeStartFrame_ < 0 || stepFrame <= takeStartFrame_ || !device) {
        takeStartFrame_ = -1;
        return;
    }
    // Output frames to frames of the take, which is always recorded at 44100 Hz.
    const double toTake = kTakeRate / static_cast<double>(device->engine().outputRate());
    spanFrom_ = std::llround(takeLeadIn_ * toTake) + capture_.inputLatencyFrames();
    spanCount_ = std::llround((stepFrame - takeStartFrame_) * toTake);
    // The stop waits for the span's end; the alignment may move it later by the radius.
    capture_.keepSpan(spanFrom_, spanCount_ + kAlignRadius);
    takeStartFrame_ = -1;
}

void TakeAligner::align(audio::SoundDevice* device) {
    if (spanCount_ < 0)
        return;
    int64_t from = spanFrom_;
    const int channels = capture_.recordingChannels();
    const float* copied = nullptr;
    const int64_t copiedFrames = device ? device->engine().copiedOutput(copied) : 0;
    // The copy starts a lead before the take's first frame; the comparison needs both at
    // one rate.
    if (channels > 0 && copiedFrames > 0 && device->engine().outputRate() == kTakeRate) {
        const std::vector<int16_t>& recording = capture_.recording();
        const std::optional<int64_t> found = capture::locateInRecording(
            copied, copiedFrames, recording.data(),
            static_cast<int64_t>(recording.size()) / channels, channels,
            {.expected = spanFrom_ - capture::kAlignLeadFrames, .radius = kAlignRadius});
        if (found)
            from = *found + capture::kAlignLeadFrames;
    }
    capture_.keepSpan(from, spanCount_);
    spanCount_ = -1;
}

}  // namespace zb
