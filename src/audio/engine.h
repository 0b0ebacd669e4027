// The mixer at the heart of the sound service. The UI thread queues commands in batches;
// the audio thread applies each committed batch at one point of the output, at the frame
// the batch asks for when that frame is still ahead, and mixes the playing voices.
//
// Threads: members marked "UI thread" may only be called from the one thread that owns the
// SoundDevice (the program's UI thread, or a test's main thread). process() is the audio
// thread's only entry point and is real-time safe: no locks, no allocation, no I/O.
// Members marked "any thread" read atomics only.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "audio/resampler.h"
#include "audio/sound.h"
#include "audio/spsc_queue.h"

namespace zb::audio {

// Decoded sample memory, immutable once made: one or two channels, each a separate run of
// floats (planar, so the interpolator reads every channel contiguously), with kPad frames
// of silence before the first and after the last frame so it never needs a bounds test.
struct SampleData {
    static constexpr int64_t kPad = 64;
    int channels = 1;
    int sampleRate = 44100;
    int64_t frames = 0;
    std::vector<float> samples;  // channels runs of (frames + 2 * kPad)
    WaveFormat format;

    // Sizes the storage for `n` frames of `channels`, all silent.
    void allocate(int64_t n) {
        frames = n;
        samples.assign(static_cast<size_t>(n + 2 * kPad) * channels, 0.0f);
    }
    // Keeps the first n frames (n <= frames), each channel's run followed by its padding.
    void truncate(int64_t n) {
        const int64_t oldRun = frames + 2 * kPad, newRun = n + 2 * kPad;
        for (int c = 1; c < channels; ++c) {
            float* from = samples.data() + c * oldRun;
            std::copy(from, from + newRun, samples.data() + c * newRun);
        }
        frames = n;
        // Channel 0's new trailing padding was never written: it is silent already.
        samples.resize(static_cast<size_t>(newRun) * channels);
        samples.shrink_to_fit();
    }
    // Frame 0 of channel c (a mono sample answers for both channels).
    float* channel(int c) {
        return samples.data() + (c < channels ? c : 0) * (frames + 2 * kPad) + kPad;
    }
    const float* channel(int c) const {
        return samples.data() + (c < channels ? c : 0) * (frames + 2 * kPad) + kPad;
    }
};

class Engine {
public:
    static constexpr int kMaxVoices = 64;
    static constexpr int64_t kAsap = -1;

    explicit Engine(int outputRate);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Any thread (fixed at construction).
    int outputRate() const { return outputRate_; }

    // UI thread. Claims a voice for the sample; throws SoundError when all are taken.
    int32_t addVoice(std::shared_ptr<const SampleData> data);
    // UI thread. Gives the voice back; its sample memory is freed on the UI thread once the
    // audio thread has let go of it (collectGarbage).
    void removeVoice(int32_t voice);

    // UI thread. Queued commands; they take effect when their batch is committed.
    // Returns the generation number of this play, for finished().
    uint32_t play(int32_t voice);
    void stop(int32_t voice);
    void setPosition(int32_t voice, int64_t frame);
    void setRate(int32_t voice, int32_t hz);
    void setGain(int32_t voice, float left, float right);

    // UI thread. Ends the current batch. Its commands are applied together at targetFrame
    // (an absolute output frame) when that is still ahead, otherwise at the start of the
    // next block the audio thread renders.
    void commit(int64_t targetFrame = kAsap);
    // UI thread. Called once for every batch, when its first command is queued, so the
    // owner can arrange a commit after the current event (the Qt shell posts one).
    void setCommitScheduler(std::function<void()> scheduler);
    bool hasUncommitted() const { return uncommitted_ > 0; }
    // UI thread. Between the two, the caller commits what it queues itself (a step commits
    // on its own frame), so no commit is arranged for it. What is still uncommitted at the
    // last release, as after a call that threw, gets the usual arranged commit.
    void holdCommitScheduler() { ++schedulerHeld_; }
    void releaseCommitScheduler();
    // UI thread. Called by commit() before a batch goes to the audio thread, so that a
    // resting output starts again first.
    void setWakeHook(std::function<void()> wake) { wake_ = std::move(wake); }
    // UI thread. True when nothing sounds and nothing waits: the last block rendered had no
    // voice playing or fading, and every batch has been applied.
    bool quiet() const;

    // UI thread. True once the voice has played to its end during the play with this
    // generation number.
    bool finished(int32_t voice, uint32_t generation) const;
    // UI thread. Frees sample memory of removed voices the audio thread no longer uses.
    void collectGarbage();
    // UI thread. Voices currently claimed.
    int liveVoices() const;

    // UI thread. Asks the audio thread to keep a copy of the output frames [first, first +
    // frames) as it renders them (interleaved stereo; at most kMaxCopyFrames), replacing any
    // earlier request. Frames already rendered when the request reaches the audio thread
    // are left silent in the copy: ask ahead of time.
    void copyOutput(int64_t first, int64_t frames);
    static constexpr int64_t kMaxCopyFrames = 1 << 18;  // about 6 s at 44.1 kHz
    // UI thread. The copy asked for last, as far as the audio thread has written it: points
    // `stereo` at its frames and returns how many there are (0 before the first request).
    // They stay valid until the next request.
    int64_t copiedOutput(const float*& stereo) const;

    // Audio thread. Mixes `frames` stereo frames into `out` (interleaved, overwritten).
    void process(float* out, uint32_t frames);
    // UI thread, and only once no audio thread will call process() again (the output failed
    // and its stream is closed). Applies every committed batch at once without rendering,
    // so that commands and released samples do not pile up while the program goes on
    // without sound. The frame count stands still.
    void applyWithoutOutput();

    // Any thread.
    int64_t framesRendered() const { return framesRendered_.load(std::memory_order_acquire); }
    uint64_t lateBatches() const { return lateBatches_.load(std::memory_order_relaxed); }
    uint64_t appliedBatches() const { return appliedBatches_.load(std::memory_order_acquire); }

private:
    // Audio thread (see applyWithoutOutput). Applies the next published batch.
    void applyBatch();

    enum class Op : uint8_t { Begin, Attach, Detach, Play, Stop, SetPosition, SetRate, SetGain };
    struct Command {
        Op op;
        int32_t voice;
        int64_t i64;  // position, target frame, generation
        float a, b;   // gains
        const SampleData* data;
    };
    struct Voice;  // audio-thread state

    void queue(const Command& c);
    void flushOverflow();
    void applyCommand(const Command& c);
    // Returns whether some voice still plays or fades at the end of these frames.
    bool mixAll(float* out, uint32_t frames);
    // Audio thread: copies what the block starting at output frame `base` holds of the copy
    // with this request number.
    void keepCopy(uint32_t request, const float* out, int64_t base, uint32_t frames);

    int outputRate_;
    Resampler resampler_;
    SpscQueue<Command> queue_;
    std::unique_ptr<Voice[]> voices_;  // audio thread only (after construction)

    // UI side bookkeeping.
    struct Slot {
        bool used = false;
        std::shared_ptr<const SampleData> data;
    };
    std::vector<Slot> slots_;
    struct Retired {
        uint64_t batch;
        std::shared_ptr<const SampleData> data;
    };
    std::vector<Retired> retired_;
    std::vector<Command> batch_;    // the batch being built
    std::deque<Command> overflow_;  // committed commands waiting for room in the ring
    uint64_t committedBatches_ = 0;
    uint32_t generations_ = 0;
    int uncommitted_ = 0;
    int schedulerHeld_ = 0;
    std::function<void()> scheduler_;
    std::function<void()> wake_;

    // Published by the UI thread, read by the audio thread.
    std::atomic<uint64_t> publishedBatches_{0};
    // Published by the audio thread after each block: the batches applied so far when the
    // block ended in silence, kSounding when some voice played or faded in it.
    static constexpr uint64_t kSounding = ~uint64_t{0};
    std::atomic<uint64_t> silentAfter_{0};
    // The output copy: storage made on the first request and kept (the audio thread may be
    // writing to it when the next request comes); the request's frames and a number that
    // tells requests apart, published by the UI thread. The audio thread answers with the
    // request's number and the frames it has copied, packed into one value.
    std::unique_ptr<float[]> copy_;
    std::atomic<int64_t> copyFirst_{0};
    std::atomic<int64_t> copyFrames_{0};
    std::atomic<uint32_t> copyRequest_{0};
    std::atomic<uint64_t> copyDone_{0};  // request << 32 | frames copied
    uint32_t copySeen_ = 0;              // audio thread only
    int64_t copyAt_ = 0;                 // audio thread only: frames of the copy written

    // Written by the audio thread.
    uint64_t consumedBatches_ = 0;
    std::unique_ptr<std::atomic<uint32_t>[]> finishedGeneration_;
    std::atomic<int64_t> framesRendered_{0};
    std::atomic<uint64_t> appliedBatches_{0};
    std::atomic<uint64_t> lateBatches_{0};
};

}  // namespace zb::audio
