// The sound-buffer service the rest of the program talks to: one root, one device, and
// buffers made from WAV files. Every operation fails by throwing SoundError with a 32-bit
// code, as the callers expect.
//
// Threads: every public member of SoundRoot, SoundDevice and SoundBuffer is called on the
// UI thread only. The audio thread never sees these objects; it sees the Engine's voices.
#pragma once

#include <time.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace zb::audio {

// Error codes the service raises. The first one is the only one callers inspect.
inline constexpr uint32_t kErrBufferTooSmall = 0x887800B4;  // too short to carry the controls
inline constexpr uint32_t kErrInvalidParam = 0x80070057;    // argument out of range
inline constexpr uint32_t kErrBadFormat = 0x88780064;       // not a wave format we can play
inline constexpr uint32_t kErrFileNotFound = 0x80070002;    // missing or unreadable file
inline constexpr uint32_t kErrNoDriver = 0x88780078;        // no output device
inline constexpr uint32_t kErrOutOfMemory = 0x8007000E;
inline constexpr uint32_t kErrGeneric = 0x80004005;

class SoundError : public std::runtime_error {
public:
    SoundError(uint32_t code, const std::string& reason);
    uint32_t code() const { return code_; }

private:
    uint32_t code_;
};

// Buffer capability flags of the description.
inline constexpr int32_t kCtrlFrequency = 0x20;
inline constexpr int32_t kCtrlPan = 0x40;
inline constexpr int32_t kCtrlVolume = 0x80;

struct WaveFormat {
    int16_t formatTag = 0;
    int16_t channels = 0;
    int32_t samplesPerSec = 0;
    int32_t avgBytesPerSec = 0;
    int16_t blockAlign = 0;
    int16_t bitsPerSample = 0;
};

struct BufferDesc {
    int32_t flags = 0;
    int32_t bufferBytes = 0;
    WaveFormat format;  // filled in by CreateBufferFromFile
};

inline constexpr int32_t kStatusPlaying = 1;

// Ranges of the buffer controls, in the service's own units.
inline constexpr int32_t kMinFrequency = 100;
inline constexpr int32_t kMaxFrequency = 100000;
inline constexpr int32_t kVolumeMin = -10000;  // silent
inline constexpr int32_t kVolumeMax = 0;       // full level
inline constexpr int32_t kPanLeft = -10000;
inline constexpr int32_t kPanRight = 10000;

// A file shorter than this many frames cannot carry the frequency, pan and volume
// controls. 16 frames is 0.36 ms at 44.1 kHz, so any real drum hit loads.
inline constexpr int64_t kMinBufferFrames = 16;

class Engine;
class OutputDriver;
class AudioSystem;
struct SampleData;

class SoundBuffer {
public:
    ~SoundBuffer();
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    int32_t GetStatus();
    void Play(int32_t flags);
    void SetPlayPosition(int32_t position);
    void SetVolume(int32_t hundredthsDb);
    void SetPan(int32_t pan);
    void SetFrequency(int32_t hz);
    void Stop();

    // Introspection for the program's own use (trace, tests); not part of the service.
    int32_t frequency() const { return frequency_; }
    int32_t volume() const { return volume_; }
    int32_t pan() const { return pan_; }
    int64_t frames() const;
    int32_t voiceId() const { return voice_; }

private:
    friend class SoundDevice;
    friend class SoundRoot;
    SoundBuffer(std::shared_ptr<Engine> engine, std::shared_ptr<const SampleData> data,
                int32_t voice);
    void applyGain();

    std::shared_ptr<Engine> engine_;
    std::shared_ptr<const SampleData> data_;
    int32_t voice_;
    int32_t frequency_;
    int32_t volume_ = 0;
    int32_t pan_ = 0;
    bool playing_ = false;
    uint32_t playGeneration_ = 0;
};

class SoundDevice {
public:
    ~SoundDevice();
    void SetCooperativeLevel(intptr_t window, int32_t level);
    // Decodes the whole file into a new, independent buffer; desc.format receives the
    // file's own wave format (its sample rate above all).
    std::shared_ptr<SoundBuffer> CreateBufferFromFile(const std::string& path, BufferDesc& desc);

    Engine& engine() { return *engine_; }
    OutputDriver& driver() { return *driver_; }

    // UI thread, called periodically (the window does every 250 ms). Lets the output rest
    // once the engine has been quiet at kQuietChecksToRest calls in a row while no step
    // clock runs, so an idle window costs no wake-ups. `clocksRunning`: a step clock is
    // counting on the frame count. Also frees the samples the audio thread has let go of,
    // so a cleared slot's memory returns without waiting for the next commit.
    void restWhenQuiet(bool clocksRunning);
    // UI thread. Starts a resting output again (also done by every commit); false when the
    // device has failed.
    bool wakeOutput();
    static constexpr int kQuietChecksToRest = 4;
    // UI thread, called periodically once the driver has failed: closes the failed stream
    // (the first time) and applies what the engine was asked without playing it, so that a
    // program going on without sound does not pile up commands and samples.
    void runWithoutOutput();
    // UI thread, after runWithoutOutput: opens the output again on a sound server that has
    // come back and plays on from the engine's state; false while it is still away.
    bool restoreOutput();

private:
    friend class SoundRoot;
    SoundDevice(std::shared_ptr<Engine> engine, std::unique_ptr<OutputDriver> driver);

    std::shared_ptr<Engine> engine_;
    std::unique_ptr<OutputDriver> driver_;
    int quietChecks_ = 0;
    bool outputClosed_ = false;
    // The samples decoded last, reused while the same unchanged file is loaded again.
    std::weak_ptr<const SampleData> cache_;
    std::string cachePath_;
    int64_t cacheSize_ = 0;
    timespec cacheMtime_{};
};

class SoundRoot {
public:
    explicit SoundRoot(AudioSystem& system);
    // An empty id picks the system's default output device.
    std::shared_ptr<SoundDevice> CreateSoundDevice(const std::string& deviceId);

private:
    AudioSystem& system_;
};

}  // namespace zb::audio
