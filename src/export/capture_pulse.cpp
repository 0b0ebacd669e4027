#include "export/capture_pulse.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <atomic>

#include "audio/pulse_connection.h"
#include "audio/realtime_threads.h"

namespace zb::capture {

std::string chooseCaptureSource(const std::vector<PlaybackSeen>& playback,
                                const std::vector<SinkSeen>& sinks, const std::string& defaultSink,
                                const std::string& ownPid) {
    const auto monitorOf = [&](auto matches) -> const SinkSeen* {
        for (const SinkSeen& s : sinks)
            if (matches(s))
                return &s;
        return nullptr;
    };
    for (const PlaybackSeen& p : playback) {
        if (p.processId != ownPid)
            continue;
        if (const SinkSeen* s = monitorOf([&](const SinkSeen& x) { return x.index == p.sink; }))
            if (!s->monitor.empty())
                return s->monitor;
    }
    if (const SinkSeen* s = monitorOf([&](const SinkSeen& x) { return x.name == defaultSink; }))
        return s->monitor;
    return {};
}

namespace {

using audio::PulseConnection;
using audio::PulseLock;

// The server hands the frames over about every 20 ms; the drain thread empties the ring
// far more often, and the take is found by its sound, so the latency costs nothing.
constexpr uint32_t kFragmentMs = 20;

// Reads the server's playback streams, sinks and default sink and picks the source.
std::string findSource(PulseConnection& pulse) {
    struct Seen {
        PulseConnection* pulse;
        std::vector<PlaybackSeen> playback;
        std::vector<SinkSeen> sinks;
        std::string defaultSink;
    } seen{&pulse, {}, {}, {}};
    PulseLock lock(pulse.loop());
    pulse.await(pa_context_get_sink_input_info_list(
        pulse.context(),
        [](pa_context*, const pa_sink_input_info* info, int eol, void* user) {
            auto* s = static_cast<Seen*>(user);
            if (eol == 0 && info != nullptr) {
                const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
                s->playback.push_back({info->sink, pid != nullptr ? pid : ""});
            }
            pa_threaded_mainloop_signal(s->pulse->loop(), 0);
        },
        &seen));
    pulse.await(pa_context_get_sink_info_list(
        pulse.context(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* s = static_cast<Seen*>(user);
            if (eol == 0 && info != nullptr)
                s->sinks.push_back({info->index, info->name != nullptr ? info->name : "",
                                    info->monitor_source_name != nullptr &&
                                            info->monitor_source != PA_INVALID_INDEX
                                        ? info->monitor_source_name
                                        : ""});
            pa_threaded_mainloop_signal(s->pulse->loop(), 0);
        },
        &seen));
    pulse.await(pa_context_get_server_info(
        pulse.context(),
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* s = static_cast<Seen*>(user);
            if (info != nullptr && info->default_sink_name != nullptr)
                s->defaultSink = info->default_sink_name;
            pa_threaded_mainloop_signal(s->pulse->loop(), 0);
        },
        &seen));
    return chooseCaptureSource(seen.playback, seen.sinks, seen.defaultSink,
                               std::to_string(::getpid()));
}

class PulseInputStream : public InputStream {
public:
    PulseInputStream(std::unique_ptr<PulseConnection> pulse, FrameSink& sink)
        : pulse_(std::move(pulse)), sink_(sink) {}

    ~PulseInputStream() override {
        stop();
        PulseLock lock(pulse_->loop());
        if (stream_ != nullptr)
            pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    // Connects the record stream; its frames reach the sink from here on.
    bool open(const std::string& source, int rate, int channels) {
        frameBytes_ = static_cast<size_t>(channels) * sizeof(int16_t);
        // The server converts whatever the source carries (mono, another rate) into this.
        pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate),
                              static_cast<uint8_t>(channels)};
        if (!pa_sample_spec_valid(&format))
            return false;
        PulseLock lock(pulse_->loop());
        stream_ = pa_stream_new(pulse_->context(), "Zembrola capture", &format, nullptr);
        if (stream_ == nullptr)
            return false;
        pa_stream_set_state_callback(stream_, &PulseInputStream::stateChanged, this);
        pa_stream_set_read_callback(stream_, &PulseInputStream::readable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &format));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attr,
                                     flags) < 0)
            return false;
        return pulse_->awaitReady(stream_);
    }

    bool start() override { return !lost_.load(std::memory_order_relaxed); }

    void stop() override {
        PulseLock lock(pulse_->loop());
        if (stream_ == nullptr || stopped_)
            return;
        // Callbacks run under this lock: once it is released, none reaches the sink again.
        stopped_ = true;
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
    }

    bool lost() const override { return lost_.load(std::memory_order_relaxed); }

    int64_t latencyFrames() const override {
        // The record stream's index runs in the source's own time: a frame's place in the
        // recording is where the monitor had it, whenever it was handed over.
        return 0;
    }

private:
    // Main-loop thread.
    static void stateChanged(pa_stream* s, void* user) {
        auto* self = static_cast<PulseInputStream*>(user);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            self->lost_.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->pulse_->loop(), 0);
    }

    // Main-loop thread, real-time: peek hands out the server's own memory, no allocation.
    static void readable(pa_stream* s, size_t, void* user) {
        auto* self = static_cast<PulseInputStream*>(user);
        if (!self->raised_) {
            // Once: a reader held up behind busy programs loses frames of the take.
            self->raised_ = true;
            audio::RaiseCallingThread();
        }
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0) {
            if (bytes == 0)
                break;
            // A hole (data null) is a gap the server could not fill: nothing is added.
            if (data != nullptr)
                self->sink_.write(static_cast<const int16_t*>(data),
                                  static_cast<uint32_t>(bytes / self->frameBytes_));
            pa_stream_drop(s);
        }
    }

    std::unique_ptr<PulseConnection> pulse_;
    FrameSink& sink_;
    pa_stream* stream_ = nullptr;
    size_t frameBytes_ = 4;
    bool stopped_ = false;  // under the main loop's lock
    bool raised_ = false;   // main-loop thread
    std::atomic<bool> lost_{false};
};

// Null when no PulseAudio (or pipewire-pulse) server answers.
std::unique_ptr<PulseConnection> connectToServer() {
    auto pulse = std::make_unique<PulseConnection>();
    if (!pulse->connect("Zembrola"))
        return nullptr;
    return pulse;
}

}  // namespace

std::unique_ptr<InputStream> PulseInputSystem::openInput(int sampleRate, int channels,
                                                         FrameSink& sink) {
    auto pulse = connectToServer();
    serverAnswered_ = pulse != nullptr;
    if (pulse == nullptr)
        return nullptr;
    const std::string source = findSource(*pulse);
    auto stream = std::make_unique<PulseInputStream>(std::move(pulse), sink);
    if (!stream->open(source, sampleRate, channels))
        return nullptr;
    lastSource_ = source;
    audio::RaiseSoundLibraryThreads();
    return stream;
}

std::unique_ptr<InputStream> DesktopInputSystem::openInput(int sampleRate, int channels,
                                                           FrameSink& sink) {
    auto stream = pulse_.openInput(sampleRate, channels, sink);
    // A server that answers but refuses the monitor is not asked for its microphone.
    if (stream != nullptr || pulse_.serverAnswered())
        return stream;
    return fallback_.openInput(sampleRate, channels, sink);
}

}  // namespace zb::capture
