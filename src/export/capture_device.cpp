#include "export/capture_device.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>

namespace zb::capture {

namespace {

// About four seconds of stereo at 44.1 kHz; the drain empties it every few milliseconds.
constexpr size_t kRingSamples = 1u << 19;
constexpr size_t kChunkSamples = 1u << 14;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits off the next blank-separated word starting at pos; pos ends just after the word.
std::string nextWord(const std::string& text, size_t& pos) {
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    const size_t start = pos;
    while (pos < text.size() && !isBlank(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

bool parseNumber(const std::string& word, long& value) {
    if (word.empty())
        return false;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc() && ptr == end;
}

}  // namespace

Command parseCommand(const std::string& text) {
    Command c;
    size_t pos = 0;
    const std::string verb = lower(nextWord(text, pos));
    if (verb == "open") {
        const std::string w1 = lower(nextWord(text, pos));
        const std::string w2 = lower(nextWord(text, pos));
        const std::string w3 = lower(nextWord(text, pos));
        const std::string w4 = lower(nextWord(text, pos));
        const std::string alias = lower(nextWord(text, pos));
        const std::string rest = nextWord(text, pos);
        if (w1 == "new" && w2 == "type" && w3 == "waveaudio" && w4 == "alias" && !alias.empty() &&
            rest.empty()) {
            c.verb = Command::Verb::Open;
            c.alias = alias;
        }
        return c;
    }
    const std::string alias = lower(nextWord(text, pos));
    if (alias.empty())
        return c;
    if (verb == "save") {
        // The path is everything after the blank that ends the alias.
        if (pos < text.size())
            c.path = text.substr(pos + 1);
        if (!c.path.empty()) {
            c.verb = Command::Verb::Save;
            c.alias = alias;
        }
        return c;
    }
    if (verb == "set") {
        const std::string setting = lower(nextWord(text, pos));
        long value = 0;
        const bool number = parseNumber(nextWord(text, pos), value);
        if ((setting == "bitspersample" || setting == "samplespersec" || setting == "channels") &&
            number && nextWord(text, pos).empty()) {
            c.verb = Command::Verb::Set;
            c.alias = alias;
            c.setting = setting;
            c.value = value;
        }
        return c;
    }
    if (!nextWord(text, pos).empty())
        return c;
    if (verb == "record")
        c.verb = Command::Verb::Record;
    if (verb == "stop")
        c.verb = Command::Verb::Stop;
    if (verb == "close")
        c.verb = Command::Verb::Close;
    if (c.verb != Command::Verb::Invalid)
        c.alias = alias;
    return c;
}

// The input thread's entry: whole frames into the ring, the rest counted as dropped.
class CaptureDevice::Sink : public FrameSink {
public:
    Sink(SampleRing& ring, int channels, std::atomic<uint64_t>& dropped)
        : ring_(ring), channels_(static_cast<size_t>(channels)), dropped_(dropped) {}

    void write(const int16_t* frames, uint32_t count) noexcept override {
        const size_t room = ring_.writable() / channels_;
        const size_t n = std::min<size_t>(count, room);
        ring_.write(frames, n * channels_);
        if (n < count)
            dropped_.fetch_add(count - n, std::memory_order_relaxed);
    }

private:
    SampleRing& ring_;
    size_t channels_;
    std::atomic<uint64_t>& dropped_;
};

CaptureDevice::CaptureDevice(InputSystem* input) : input_(input) {}

CaptureDevice::~CaptureDevice() {
    stopRecording();
}

int32_t CaptureDevice::send(const std::string& command) {
    const int32_t code = execute(parseCommand(command));
    if (trace_)
        trace_(command, code);
    return code;
}

int32_t CaptureDevice::execute(const Command& c) {
    using Verb = Command::Verb;
    if (c.verb == Verb::Invalid)
        return kErrUnknownCommand;
    if (c.verb == Verb::Open) {
        if (open_)
            return kErrAliasInUse;
        open_ = true;
        alias_ = c.alias;
        bitsPerSample_ = 16;
        sampleRate_ = 11025;
        channels_ = 1;
        haveRecording_ = false;
        recorded_.clear();
        return kOk;
    }
    if (!open_ || c.alias != alias_)
        return kErrUnknownAlias;
    switch (c.verb) {
        case Verb::Set:
            if (isRecording())
                return kErrBusy;
            if (c.setting == "bitspersample") {
                if (c.value != 8 && c.value != 16)
                    return kErrBadValue;
                bitsPerSample_ = static_cast<int>(c.value);
            } else if (c.setting == "samplespersec") {
                if (c.value < 8000 || c.value > 192000)
                    return kErrBadValue;
                sampleRate_ = static_cast<int>(c.value);
            } else {
                if (c.value != 1 && c.value != 2)
                    return kErrBadValue;
                channels_ = static_cast<int>(c.value);
            }
            return kOk;
        case Verb::Record:
            return isRecording() ? kOk : record();
        case Verb::Stop:
            stopRecording();
            return kOk;
        case Verb::Save:
            if (isRecording())
                return kErrBusy;
            return save(c.path);
        case Verb::Close:
            stopRecording();
            open_ = false;
            alias_.clear();
            haveRecording_ = false;
            recorded_ = {};
            return kOk;
        default:
            return kErrUnknownCommand;
    }
}

int32_t CaptureDevice::record() {
    if (input_ == nullptr)
        return kErrNoInput;
    // A new recording replaces whatever the device held.
    haveRecording_ = false;
    recorded_.clear();
    recordedSamples_.store(0, std::memory_order_relaxed);
    keepFrom_ = 0;
    keepCount_ = -1;
    inputLost_ = false;
    recorded_.reserve(static_cast<size_t>(sampleRate_) * static_cast<size_t>(channels_) * 45);
    chunk_.resize(kChunkSamples);
    dropped_.store(0, std::memory_order_relaxed);
    ring_ = std::make_unique<SampleRing>(kRingSamples);
    sink_ = std::make_unique<Sink>(*ring_, channels_, dropped_);
    stream_ = input_->openInput(sampleRate_, channels_, *sink_);
    if (stream_ == nullptr) {
        sink_.reset();
        ring_.reset();
        return kErrNoInput;
    }
    if (onRecordingBegins_)
        onRecordingBegins_();
    draining_.store(true, std::memory_order_release);
    drain_ = std::thread([this] { drainLoop(); });
    if (!stream_->start()) {
        stopRecording();
        haveRecording_ = false;
        recorded_.clear();
        return kErrNoInput;
    }
    recChannels_ = channels_;
    recRate_ = sampleRate_;
    recBits_ = bitsPerSample_;
    haveRecording_ = true;
    return kOk;
}

void CaptureDevice::keepSpan(int64_t from, int64_t count) {
    keepFrom_ = std::max<int64_t>(from, 0);
    keepCount_ = std::max<int64_t>(count, 0);
}

void CaptureDevice::stopRecording() {
    if (stream_ == nullptr)
        return;
    if (keepCount_ >= 0) {
        // The end of the span is still on its way through the output and the input. The
        // wait gives up only on an input that stopped delivering, not on a slow one.
        using Clock = std::chrono::steady_clock;
        const size_t wanted = static_cast<size_t>(keepFrom_ + keepCount_) * recChannels_;
        size_t seen = recordedSamples_.load(std::memory_order_acquire);
        auto giveUp = Clock::now() + std::chrono::milliseconds(kSpanWaitMs);
        const auto never = Clock::now() + std::chrono::milliseconds(kSpanWaitMaxMs);
        while (seen < wanted && Clock::now() < never && !stream_->lost()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const size_t got = recordedSamples_.load(std::memory_order_acquire);
            if (got != seen) {
                seen = got;
                giveUp = Clock::now() + std::chrono::milliseconds(kSpanWaitMs);
            } else if (Clock::now() >= giveUp) {
                break;
            }
        }
    }
    inputLost_ = stream_->lost();
    stream_->stop();
    draining_.store(false, std::memory_order_release);
    if (drain_.joinable())
        drain_.join();
    drainOnce();  // what arrived between the last pass and the stop
    stream_.reset();
    sink_.reset();
    ring_.reset();
}

void CaptureDevice::drainLoop() {
    while (draining_.load(std::memory_order_acquire)) {
        drainOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CaptureDevice::drainOnce() {
    for (;;) {
        const size_t n = ring_->read(chunk_.data(), chunk_.size());
        if (n == 0)
            return;
        recorded_.insert(recorded_.end(), chunk_.begin(), chunk_.begin() + n);
        recordedSamples_.store(recorded_.size(), std::memory_order_release);
    }
}

int32_t CaptureDevice::save(const std::string& path) {
    if (!haveRecording_)
        return kErrNothingRecorded;
    // Created exclusively: a save never replaces a file that is already there, nor writes
    // through a link.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return kErrWriteFailed;
    SF_INFO info{};
    info.samplerate = recRate_;
    info.channels = recChannels_;
    info.format = SF_FORMAT_WAV | (recBits_ == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    // libsndfile closes the descriptor itself, also when it fails to open.
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file == nullptr) {
        ::unlink(path.c_str());
        return kErrWriteFailed;
    }
    const int64_t total = static_cast<int64_t>(recorded_.size()) / recChannels_;
    const int64_t first = std::min(keepFrom_, total);
    const int64_t last = keepCount_ < 0 ? total : std::min(first + keepCount_, total);
    const sf_count_t frames = static_cast<sf_count_t>(last - first);
    const sf_count_t written =
        sf_writef_short(file, recorded_.data() + first * recChannels_, frames);
    const int closeRc = sf_close(file);
    if (written != frames || closeRc != 0) {
        ::unlink(path.c_str());
        return kErrWriteFailed;
    }
    return kOk;
}

}  // namespace zb::capture
