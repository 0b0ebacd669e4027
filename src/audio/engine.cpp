#include "audio/engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zb::audio {

namespace {
// A cut note fades out over this many output frames (about 1.5 ms at 44.1 kHz) so that a
// stop never jumps to zero and clicks.
constexpr int kFadeFrames = 64;
constexpr size_t kQueueCapacity = 1 << 15;

// Where and how fast a voice reads its sample.
struct Reader {
    const SampleData* data = nullptr;
    double pos = 0.0;   // frames into the sample
    double step = 1.0;  // sample frames per output frame
    const SincKernel* kernel = nullptr;
    float gainL = 1.0f, gainR = 1.0f;
};

}  // namespace

// Audio-thread state of one voice. A note that is stopped hands its sound to `tail`,
// which fades out while the voice itself may already start again.
struct Engine::Voice {
    bool attached = false;
    bool playing = false;
    uint32_t generation = 0;
    int32_t rate = 44100;
    Reader main;
    Reader tail;
    int tailLeft = 0;  // frames of fade left on the tail
};

Engine::Engine(int outputRate)
    : outputRate_(outputRate),
      queue_(kQueueCapacity),
      voices_(std::make_unique<Voice[]>(kMaxVoices)),
      slots_(kMaxVoices),
      finishedGeneration_(std::make_unique<std::atomic<uint32_t>[]>(kMaxVoices)) {
    for (int i = 0; i < kMaxVoices; ++i) finishedGeneration_[i].store(0);
    batch_.reserve(256);
}

Engine::~Engine() = default;

int32_t Engine::addVoice(std::shared_ptr<const SampleData> data) {
    for (int i = 0; i < kMaxVoices; ++i) {
        if (!slots_[i].used) {
            slots_[i].used = true;
            slots_[i].data = data;
            Command c{};
            c.op = Op::Attach;
            c.voice = i;
            c.data = data.get();
            c.i64 = data->sampleRate;
            queue(c);
            return i;
        }
    }
    throw SoundError(kErrOutOfMemory, "all voices are in use");
}

void Engine::removeVoice(int32_t voice) {
    if (voice < 0 || voice >= kMaxVoices || !slots_[voice].used)
        return;
    Command c{};
    c.op = Op::Detach;
    c.voice = voice;
    queue(c);
    // The audio thread may read the sample until the batch holding the detach is applied.
    retired_.push_back({committedBatches_ + 1, std::move(slots_[voice].data)});
    slots_[voice] = Slot{};
}

uint32_t Engine::play(int32_t voice) {
    Command c{};
    c.op = Op::Play;
    c.voice = voice;
    c.i64 = ++generations_;
    queue(c);
    return generations_;
}

void Engine::stop(int32_t voice) {
    Command c{};
    c.op = Op::Stop;
    c.voice = voice;
    queue(c);
}

void Engine::setPosition(int32_t voice, int64_t frame) {
    Command c{};
    c.op = Op::SetPosition;
    c.voice = voice;
    c.i64 = frame;
    queue(c);
}

void Engine::setRate(int32_t voice, int32_t hz) {
    Command c{};
    c.op = Op::SetRate;
    c.voice = voice;
    c.i64 = hz;
    queue(c);
}

void Engine::setGain(int32_t voice, float left, float right) {
    Command c{};
    c.op = Op::SetGain;
    c.voice = voice;
    c.a = left;
    c.b = right;
    queue(c);
}

void Engine::queue(const Command& c) {
    batch_.push_back(c);
    if (uncommitted_++ == 0 && scheduler_ && schedulerHeld_ == 0)
        scheduler_();
}

void Engine::releaseCommitScheduler() {
    if (--schedulerHeld_ == 0 && uncommitted_ > 0 && scheduler_)
        scheduler_();
}

void Engine::setCommitScheduler(std::function<void()> scheduler) {
    scheduler_ = std::move(scheduler);
}

void Engine::commit(int64_t targetFrame) {
    if (batch_.empty())
        return;
    if (wake_)
        wake_();
    Command begin{};
    begin.op = Op::Begin;
    begin.i64 = targetFrame;
    begin.voice = static_cast<int32_t>(batch_.size());
    overflow_.push_back(begin);
    overflow_.insert(overflow_.end(), batch_.begin(), batch_.end());
    batch_.clear();
    uncommitted_ = 0;
    ++committedBatches_;
    flushOverflow();
}

// Moves whole batches into the ring while they fit; a batch is published to the audio
// thread only once all of its commands are in.
void Engine::flushOverflow() {
    while (!overflow_.empty()) {
        const size_t count = static_cast<size_t>(overflow_.front().voice) + 1;
        if (queue_.freeSpace() < count)
            return;
        for (size_t i = 0; i < count; ++i) {
            queue_.push(overflow_.front());
            overflow_.pop_front();
        }
        publishedBatches_.fetch_add(1, std::memory_order_release);
    }
}

bool Engine::finished(int32_t voice, uint32_t generation) const {
    if (voice < 0 || voice >= kMaxVoices)
        return true;
    return finishedGeneration_[voice].load(std::memory_order_acquire) == generation;
}

void Engine::collectGarbage() {
    flushOverflow();
    const uint64_t applied = appliedBatches_.load(std::memory_order_acquire);
    std::erase_if(retired_, [applied](const Retired& r) { return r.batch <= applied; });
}

int Engine::liveVoices() const {
    return static_cast<int>(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.used; }));
}

void Engine::applyCommand(const Command& c) {
    Voice& v = voices_[c.voice];
    switch (c.op) {
        case Op::Attach:
            v = Voice{};
            v.attached = true;
            v.main.data = c.data;
            v.rate = static_cast<int32_t>(c.i64);
            v.main.step = static_cast<double>(v.rate) / outputRate_;
            v.main.kernel = &resampler_.forStep(v.main.step);
            break;
        case Op::Detach:
            v = Voice{};
            break;
        case Op::Play:
            v.generation = static_cast<uint32_t>(c.i64);
            if (v.main.data && v.main.pos >= static_cast<double>(v.main.data->frames)) {
                // Played to the end earlier: nothing left to sound.
                finishedGeneration_[c.voice].store(v.generation, std::memory_order_release);
                v.playing = false;
            } else {
                v.playing = v.attached;
            }
            break;
        case Op::Stop:
            if (v.playing) {
                v.tail = v.main;
                v.tailLeft = kFadeFrames;
            }
            v.playing = false;
            break;
        case Op::SetPosition:
            v.main.pos = static_cast<double>(c.i64);
            break;
        case Op::SetRate:
            v.rate = static_cast<int32_t>(c.i64);
            v.main.step = static_cast<double>(v.rate) / outputRate_;
            v.main.kernel = &resampler_.forStep(v.main.step);
            break;
        case Op::SetGain:
            v.main.gainL = c.a;
            v.main.gainR = c.b;
            break;
        case Op::Begin:
            break;
    }
}

namespace {

// At a whole position and the sample's own rate the frames are copied as they are: the
// common case of a drum hit played at its own pitch costs no filtering at all.
inline bool exactFrame(double pos, double step) {
    return step == 1.0 && pos == static_cast<double>(static_cast<int64_t>(pos));
}

inline void copyFrame(const SampleData& d, double pos, float& l, float& r) {
    const int64_t i = static_cast<int64_t>(pos);
    l = d.channel(0)[i];
    r = d.channel(1)[i];
}

inline void readFrame(const Reader& reader, float& l, float& r) {
    if (exactFrame(reader.pos, reader.step)) {
        copyFrame(*reader.data, reader.pos, l, r);
    } else {
        ReadBandLimited(*reader.kernel, reader.data->channel(0), reader.data->channel(1),
                        reader.pos, l, r);
    }
}

}  // namespace

bool Engine::mixAll(float* out, uint32_t frames) {
    bool sounding = false;
    for (int n = 0; n < kMaxVoices; ++n) {
        Voice& v = voices_[n];
        if (!v.attached)
            continue;
        if (v.tailLeft > 0 && v.tail.data) {
            Reader& t = v.tail;
            const double end = static_cast<double>(t.data->frames);
            for (uint32_t f = 0; f < frames && v.tailLeft > 0 && t.pos < end; ++f) {
                float l, r;
                readFrame(t, l, r);
                const float g = static_cast<float>(v.tailLeft) / (kFadeFrames + 1);
                out[2 * f] += l * t.gainL * g;
                out[2 * f + 1] += r * t.gainR * g;
                t.pos += t.step;
                --v.tailLeft;
            }
            if (t.pos >= end)
                v.tailLeft = 0;
            sounding = sounding || v.tailLeft > 0;
        }
        if (!v.playing || !v.main.data)
            continue;
        Reader& m = v.main;
        const double end = static_cast<double>(m.data->frames);
        MixBandLimited(*m.kernel, m.data->channel(0), m.data->channel(1), m.data->frames, m.pos,
                       m.step, m.gainL, m.gainR, out, frames);
        if (m.pos >= end) {
            // A one-shot stops by itself at its end and is rewound, ready to play again.
            v.playing = false;
            m.pos = 0.0;
            finishedGeneration_[n].store(v.generation, std::memory_order_release);
        }
        sounding = sounding || v.playing;
    }
    return sounding;
}

void Engine::process(float* out, uint32_t frames) {
    std::memset(out, 0, sizeof(float) * 2 * frames);
    const int64_t base = framesRendered_.load(std::memory_order_relaxed);
    uint32_t done = 0;
    while (consumedBatches_ < publishedBatches_.load(std::memory_order_acquire)) {
        const Command* begin = queue_.front();
        if (!begin)
            break;  // cannot happen: a published batch is wholly in the ring
        const int64_t target = begin->i64;
        uint32_t at = done;
        if (target != kAsap) {
            if (target >= base + frames)
                break;  // belongs to a later block
            if (target > base + done) {
                at = static_cast<uint32_t>(target - base);
            } else if (target < base + done) {
                lateBatches_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (at > done) {
            mixAll(out + 2 * done, at - done);
            done = at;
        }
        applyBatch();
    }
    if (done < frames) {
        const bool sounding = mixAll(out + 2 * done, frames - done);
        silentAfter_.store(sounding ? kSounding : appliedBatches_.load(std::memory_order_relaxed),
                           std::memory_order_release);
    }
    if (const uint32_t request = copyRequest_.load(std::memory_order_acquire); request != 0)
        keepCopy(request, out, base, frames);
    framesRendered_.store(base + frames, std::memory_order_release);
}

void Engine::applyBatch() {
    const int32_t count = queue_.front()->voice;
    queue_.pop();
    for (int32_t i = 0; i < count; ++i) {
        applyCommand(*queue_.front());
        queue_.pop();
    }
    ++consumedBatches_;
    appliedBatches_.fetch_add(1, std::memory_order_release);
}

void Engine::applyWithoutOutput() {
    // Whatever waits in the overflow goes into the ring as room is made; it stops when the
    // overflow no longer publishes anything.
    do {
        while (consumedBatches_ < publishedBatches_.load(std::memory_order_acquire)) applyBatch();
        flushOverflow();
    } while (consumedBatches_ < publishedBatches_.load(std::memory_order_acquire));
}

void Engine::copyOutput(int64_t first, int64_t frames) {
    if (!copy_)
        copy_ = std::make_unique_for_overwrite<float[]>(2 * static_cast<size_t>(kMaxCopyFrames));
    copyFirst_.store(first, std::memory_order_relaxed);
    copyFrames_.store(std::clamp<int64_t>(frames, 0, kMaxCopyFrames), std::memory_order_relaxed);
    // Zero is "never asked"; the numbers skip it when they wrap.
    uint32_t next = copyRequest_.load(std::memory_order_relaxed) + 1;
    if (next == 0)
        next = 1;
    copyRequest_.store(next, std::memory_order_release);
}

int64_t Engine::copiedOutput(const float*& stereo) const {
    const uint32_t request = copyRequest_.load(std::memory_order_relaxed);
    const uint64_t done = copyDone_.load(std::memory_order_acquire);
    stereo = copy_.get();
    if (request == 0 || static_cast<uint32_t>(done >> 32) != request)
        return 0;
    return static_cast<int64_t>(done & 0xffffffffu);
}

void Engine::keepCopy(uint32_t request, const float* out, int64_t base, uint32_t frames) {
    const int64_t first = copyFirst_.load(std::memory_order_relaxed);
    const int64_t wanted = copyFrames_.load(std::memory_order_relaxed);
    if (request != copySeen_) {
        copySeen_ = request;
        // What went out before the request arrived is missed; it stays silent in the copy.
        copyAt_ = std::clamp<int64_t>(base - first, 0, wanted);
        std::memset(copy_.get(), 0, sizeof(float) * 2 * static_cast<size_t>(copyAt_));
    }
    const int64_t from = std::max(first + copyAt_, base);
    const int64_t to = std::min(first + wanted, base + frames);
    if (from < to) {
        std::memcpy(copy_.get() + 2 * (from - first), out + 2 * (from - base),
                    sizeof(float) * 2 * static_cast<size_t>(to - from));
        copyAt_ = to - first;
    }
    copyDone_.store(uint64_t{request} << 32 | static_cast<uint64_t>(copyAt_),
                    std::memory_order_release);
}

bool Engine::quiet() const {
    // One value for both, so a batch applied in a block whose silence was published
    // before it cannot pass for quiet.
    return uncommitted_ == 0 && overflow_.empty() &&
           silentAfter_.load(std::memory_order_acquire) == committedBatches_;
}

}  // namespace zb::audio
