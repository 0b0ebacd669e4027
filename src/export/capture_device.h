// The wave-audio capture device, driven by command strings as the export sends them:
//
//   open new Type waveaudio Alias <alias>
//   set <alias> bitspersample 8|16
//   set <alias> samplespersec <rate>
//   set <alias> channels 1|2
//   record <alias>
//   stop <alias>
//   save <alias> <path>        (the path is the rest of the line, blanks and all)
//   close <alias>
//
// Keywords and the alias are matched without regard to case. Every command returns 0 on
// success and a nonzero code otherwise; a device that cannot record or write fails this
// way and never throws. Recording pulls frames from the InputSystem into a lock-free ring;
// a drain thread moves them into memory, and "save" writes them as a PCM WAV file that
// never replaces an existing one.
//
// Threads: send() from one thread (the UI thread). The input's thread only fills the ring.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/capture_input.h"
#include "export/sample_ring.h"

namespace zb::capture {

// Result codes of send().
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kErrUnknownCommand = 1;   // not a command of this device
inline constexpr int32_t kErrUnknownAlias = 2;     // no device is open under that alias
inline constexpr int32_t kErrAliasInUse = 3;       // open with an alias already open
inline constexpr int32_t kErrBadValue = 4;         // a setting the device does not support
inline constexpr int32_t kErrNoInput = 5;          // no recording input, or it refused to run
inline constexpr int32_t kErrNothingRecorded = 6;  // save before any recording
inline constexpr int32_t kErrBusy = 7;             // save or set while recording
inline constexpr int32_t kErrWriteFailed = 8;      // the file could not be written

struct Command {
    enum class Verb { Invalid, Open, Set, Record, Stop, Save, Close };
    Verb verb = Verb::Invalid;
    std::string alias;
    std::string setting;  // Set: "bitspersample", "samplespersec" or "channels", lower case
    long value = 0;       // Set
    std::string path;     // Save
};

// Reads one command string; Verb::Invalid when it is not one of the forms above.
Command parseCommand(const std::string& text);

class CaptureDevice {
public:
    // The input may be null: the device then opens but cannot record.
    explicit CaptureDevice(InputSystem* input);
    ~CaptureDevice();
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    int32_t send(const std::string& command);

    // Called after every command with its text and result, for diagnostics.
    void setTrace(std::function<void(const std::string&, int32_t)> trace) {
        trace_ = std::move(trace);
    }

    // Called during "record" the moment the input stream exists: its recording begins
    // then (the frames it gathers before it is started are kept), so a caller that lines
    // the recording up with another clock reads that clock here.
    void setOnRecordingBegins(std::function<void()> hook) { onRecordingBegins_ = std::move(hook); }

    // UI thread, between "record" and "save": "save" writes only the frames [from, from +
    // count) of the recording, and a later "stop" first waits, while frames still arrive,
    // for the input to deliver them. The sound of a step reaches the input later than the
    // step that made it; this keeps exactly the steps' own span. A new "record" keeps
    // everything again.
    void keepSpan(int64_t from, int64_t count);
    static constexpr int kSpanWaitMs = 300;      // without a new frame
    static constexpr int kSpanWaitMaxMs = 2000;  // in all, however the input trickles

    // While recording: frames between a sound reaching the input and the recording.
    int64_t inputLatencyFrames() const { return stream_ ? stream_->latencyFrames() : 0; }

    // UI thread, after "stop": the last recording, interleaved 16-bit frames of
    // recordingChannels() channels (0 when there is none).
    const std::vector<int16_t>& recording() const { return recorded_; }
    int recordingChannels() const { return haveRecording_ && !stream_ ? recChannels_ : 0; }

    // UI thread, after "stop": the input went away (the sound server quit) before the
    // recording ended, so it is shorter than asked.
    bool inputWasLost() const { return inputLost_; }

    bool isOpen() const { return open_; }
    bool isRecording() const { return stream_ != nullptr; }
    // Frames dropped because the drain fell behind the input, in the current recording.
    uint64_t droppedFrames() const { return dropped_.load(std::memory_order_relaxed); }

private:
    class Sink;

    int32_t execute(const Command& c);
    int32_t record();
    void stopRecording();
    int32_t save(const std::string& path);
    void drainLoop();
    void drainOnce();

    InputSystem* input_;
    std::function<void(const std::string&, int32_t)> trace_;
    std::function<void()> onRecordingBegins_;

    bool open_ = false;
    std::string alias_;
    int bitsPerSample_ = 16;
    int sampleRate_ = 11025;
    int channels_ = 1;

    // One recording: the format it was made with and its frames.
    bool haveRecording_ = false;
    int recChannels_ = 0;
    int recRate_ = 0;
    int recBits_ = 0;
    std::vector<int16_t> recorded_;           // drain thread while recording, else the caller's
    std::atomic<size_t> recordedSamples_{0};  // recorded_.size(), for the caller to watch
    int64_t keepFrom_ = 0;
    int64_t keepCount_ = -1;  // -1: to the end
    bool inputLost_ = false;

    std::unique_ptr<SampleRing> ring_;
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<InputStream> stream_;
    std::thread drain_;
    std::atomic<bool> draining_{false};
    std::atomic<uint64_t> dropped_{0};
    std::vector<int16_t> chunk_;
};

}  // namespace zb::capture
