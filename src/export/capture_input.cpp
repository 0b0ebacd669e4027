#include "export/capture_input.h"

#include <RtAudio.h>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "audio/realtime_threads.h"
#include "audio/rtaudio_errors.h"
#include "audio/stream_health.h"

namespace zb::capture {

InputStream::~InputStream() = default;
InputSystem::~InputSystem() = default;

namespace {

audio::RtAudioErrorTally inputTally;

constexpr unsigned int kInputPeriodFrames = 512;
constexpr unsigned int kInputPeriods = 8;

class RtAudioInputStream : public InputStream {
public:
    RtAudioInputStream(std::unique_ptr<RtAudio> audio, FrameSink& sink)
        : audio_(std::move(audio)), sink_(sink) {}

    ~RtAudioInputStream() override {
        stop();
        try {
            if (audio_->isStreamOpen())
                audio_->closeStream();
        } catch (const std::exception&) {
            // Nothing is left to release if closing fails.
        }
    }

    // The take's channel count first; an input that has only the other one (a mono
    // microphone) is recorded as it is and converted on the way to the sink.
    bool open(int sampleRate, int channels) {
        if (openWith(sampleRate, channels, channels))
            return true;
        const int other = channels == 1 ? 2 : 1;
        return (channels == 1 || channels == 2) && openWith(sampleRate, channels, other);
    }

    bool openWith(int sampleRate, int channels, int inputChannels) {
        try {
            if (audio_->getDeviceCount() == 0)
                return false;
            if (audio_->isStreamOpen())
                audio_->closeStream();
            wanted_ = channels;
            delivered_ = inputChannels;
            RtAudio::StreamParameters params;
            params.deviceId = audio_->getDefaultInputDevice();
            params.nChannels = static_cast<unsigned int>(inputChannels);
            params.firstChannel = 0;
            RtAudio::StreamOptions options;
            options.streamName = "Zembrola capture";
            // The server keeps this many periods (about 100 ms) for a reader that comes late
            // before it drops frames of the take; latency does not matter here, the take is
            // found by its sound.
            options.numberOfBuffers = kInputPeriods;
            unsigned int frames = kInputPeriodFrames;
            errorBase_ = inputTally.errors.load(std::memory_order_relaxed);
            health_ = audio::StreamHealth(inputTally.warnings.load(std::memory_order_relaxed),
                                          errorBase_);
            audio_->openStream(nullptr, &params, RTAUDIO_SINT16,
                               static_cast<unsigned int>(sampleRate), &frames, &callback, this,
                               &options, &audio::countRtAudioError<inputTally>);
            period_ = frames;
            converted_.assign(static_cast<size_t>(frames) * 2, 0);
            audio::RaiseSoundLibraryThreads();
            return audio_->isStreamOpen();
        } catch (const std::exception&) {
            return false;
        }
    }

    bool start() override {
        try {
            audio_->startStream();
            return audio_->isStreamRunning() &&
                   inputTally.errors.load(std::memory_order_relaxed) == errorBase_;
        } catch (const std::exception&) {
            return false;
        }
    }

    void stop() override {
        try {
            if (audio_->isStreamRunning())
                audio_->stopStream();
        } catch (const std::exception&) {
            // A stream that cannot be stopped is closed by the destructor.
        }
    }

private:
    // The input thread: hand the frames on, nothing else.
    static int callback(void*, void* input, unsigned int frames, double, RtAudioStreamStatus,
                        void* user) {
        auto* self = static_cast<RtAudioInputStream*>(user);
        if (!self->raised_) {
            // Once, before the first period: a reader waiting behind busy programs loses
            // frames of the take.
            self->raised_ = true;
            audio::RaiseCallingThread();
        }
        // A failed stream is aborted (2): what was recorded so far is kept, nothing is added.
        // After a failed read (an overrun) the frames handed over are stale: left out.
        switch (self->health_.note(inputTally.warnings.load(std::memory_order_relaxed),
                                   inputTally.errors.load(std::memory_order_relaxed))) {
            case audio::PeriodHealth::Failed:
                return 2;
            case audio::PeriodHealth::Bad:
                return 0;
            case audio::PeriodHealth::Good:
                break;
        }
        if (input == nullptr)
            return 0;
        const auto* in = static_cast<const int16_t*>(input);
        if (self->wanted_ == self->delivered_ || frames > self->period_) {
            if (self->wanted_ == self->delivered_)
                self->sink_.write(in, frames);
            return 0;
        }
        int16_t* out = self->converted_.data();
        for (unsigned int i = 0; i < frames; ++i) {
            if (self->wanted_ == 2) {
                out[2 * i] = out[2 * i + 1] = in[i];
            } else {
                out[i] = static_cast<int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
            }
        }
        self->sink_.write(out, frames);
        return 0;
    }

    int64_t latencyFrames() const override {
        // RtAudio's PulseAudio back end reports 0; a period is filled before it is handed on.
        long reported = 0;
        try {
            reported = audio_->getStreamLatency();
        } catch (const std::exception&) {
        }
        return reported > 0 ? reported : int64_t{period_};
    }

    std::unique_ptr<RtAudio> audio_;
    FrameSink& sink_;
    unsigned int period_ = kInputPeriodFrames;
    int wanted_ = 2;                  // channels the sink takes
    int delivered_ = 2;               // channels the input gives
    std::vector<int16_t> converted_;  // a period for the sink, made before the stream runs
    uint64_t errorBase_ = 0;
    audio::StreamHealth health_{0, 0};  // input thread once the stream runs
    bool raised_ = false;               // input thread
};

}  // namespace

std::unique_ptr<InputStream> RtAudioInputSystem::openInput(int sampleRate, int channels,
                                                           FrameSink& sink) {
    // PulseAudio's one device is the server's default source; the other APIs are tried only
    // when no PulseAudio server answers.
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    std::vector<RtAudio::Api> order;
    for (RtAudio::Api api : apis) {
        if (api == RtAudio::LINUX_PULSE)
            order.insert(order.begin(), api);
    }
    order.push_back(RtAudio::UNSPECIFIED);
    for (RtAudio::Api api : order) {
        try {
            auto audio = std::make_unique<RtAudio>(api);
            audio->showWarnings(false);
            auto stream = std::make_unique<RtAudioInputStream>(std::move(audio), sink);
            if (stream->open(sampleRate, channels))
                return stream;
        } catch (const std::exception&) {
            // Try the next API.
        }
    }
    return nullptr;
}

}  // namespace zb::capture
