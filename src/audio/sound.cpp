#include "audio/sound.h"

#include <sys/stat.h>

#include <cmath>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/wav_decode.h"

namespace zb::audio {

SoundError::SoundError(uint32_t code, const std::string& reason)
    : std::runtime_error(reason), code_(code) {}

// ---- SoundBuffer ----

SoundBuffer::SoundBuffer(std::shared_ptr<Engine> engine, std::shared_ptr<const SampleData> data,
                         int32_t voice)
    : engine_(std::move(engine)),
      data_(std::move(data)),
      voice_(voice),
      frequency_(data_->sampleRate) {}

SoundBuffer::~SoundBuffer() {
    engine_->removeVoice(voice_);
}

int64_t SoundBuffer::frames() const {
    return data_->frames;
}

int32_t SoundBuffer::GetStatus() {
    if (playing_ && engine_->finished(voice_, playGeneration_))
        playing_ = false;
    return playing_ ? kStatusPlaying : 0;
}

void SoundBuffer::Play(int32_t flags) {
    if (flags != 0)
        throw SoundError(kErrInvalidParam, "only one-shot play is supported");
    if (GetStatus() == kStatusPlaying)
        return;  // already sounding: carries on
    playGeneration_ = engine_->play(voice_);
    playing_ = true;
}

void SoundBuffer::SetPlayPosition(int32_t position) {
    const int64_t block = data_->format.blockAlign > 0 ? data_->format.blockAlign : 1;
    if (position < 0 || position / block > data_->frames)
        throw SoundError(kErrInvalidParam, "play position outside the buffer");
    engine_->setPosition(voice_, position / block);
}

void SoundBuffer::SetVolume(int32_t hundredthsDb) {
    if (hundredthsDb < kVolumeMin || hundredthsDb > kVolumeMax)
        throw SoundError(kErrInvalidParam, "volume out of range");
    volume_ = hundredthsDb;
    applyGain();
}

void SoundBuffer::SetPan(int32_t pan) {
    if (pan < kPanLeft || pan > kPanRight)
        throw SoundError(kErrInvalidParam, "pan out of range");
    pan_ = pan;
    applyGain();
}

void SoundBuffer::SetFrequency(int32_t hz) {
    if (hz < kMinFrequency || hz > kMaxFrequency)
        throw SoundError(kErrInvalidParam, "frequency out of range");
    frequency_ = hz;
    engine_->setRate(voice_, hz);
}

void SoundBuffer::Stop() {
    playing_ = false;
    engine_->stop(voice_);
}

// Volume and pan are in hundredths of a decibel; pan attenuates the opposite channel.
void SoundBuffer::applyGain() {
    auto gainOf = [](int32_t hundredths) {
        return hundredths <= kVolumeMin ? 0.0f
                                        : static_cast<float>(std::pow(10.0, hundredths / 2000.0));
    };
    const float master = gainOf(volume_);
    const float left = pan_ > 0 ? gainOf(-pan_) : 1.0f;
    const float right = pan_ < 0 ? gainOf(pan_) : 1.0f;
    engine_->setGain(voice_, master * left, master * right);
}

// ---- SoundDevice ----

SoundDevice::SoundDevice(std::shared_ptr<Engine> engine, std::unique_ptr<OutputDriver> driver)
    : engine_(std::move(engine)), driver_(std::move(driver)) {
    engine_->setWakeHook([this] { wakeOutput(); });
}

SoundDevice::~SoundDevice() {
    // Buffers may keep the engine after the device is gone.
    engine_->setWakeHook({});
    if (driver_)
        driver_->stop();
}

void SoundDevice::restWhenQuiet(bool clocksRunning) {
    // A cleared slot's commit wakes the output only for the audio thread to let go of the
    // sample; nothing else may come to free it before the output rests again.
    engine_->collectGarbage();
    if (clocksRunning || !engine_->quiet()) {
        quietChecks_ = 0;
        return;
    }
    if (++quietChecks_ >= kQuietChecksToRest && !driver_->resting())
        driver_->rest();
}

bool SoundDevice::wakeOutput() {
    quietChecks_ = 0;
    return driver_->wake();
}

void SoundDevice::runWithoutOutput() {
    if (!outputClosed_) {
        // Closing joins the stream's thread: from here on nothing else calls the engine.
        driver_->stop();
        outputClosed_ = true;
    }
    engine_->applyWithoutOutput();
    engine_->collectGarbage();
}

bool SoundDevice::restoreOutput() {
    if (!outputClosed_ || !driver_->reconnect())
        return false;
    try {
        driver_->start(*engine_);
    } catch (const SoundError&) {
        driver_->stop();
        return false;
    }
    outputClosed_ = false;
    quietChecks_ = 0;
    return true;
}

void SoundDevice::SetCooperativeLevel(intptr_t /*window*/, int32_t level) {
    if (level < 1 || level > 4)
        throw SoundError(kErrInvalidParam, "unknown cooperative level");
}

std::shared_ptr<SoundBuffer> SoundDevice::CreateBufferFromFile(const std::string& path,
                                                               BufferDesc& desc) {
    // The three buffers of a voice come from the same file one after another; they share the
    // decoded, immutable samples as long as the file is unchanged.
    struct stat st {};
    std::shared_ptr<const SampleData> data;
    const bool statted = ::stat(path.c_str(), &st) == 0;
    // Only regular files: a folder cannot be read, and a pipe or device would block the
    // window while libsndfile waits for bytes that never come.
    if (statted && !S_ISREG(st.st_mode))
        throw SoundError(kErrBadFormat, "not a regular file: " + path);
    if (statted && path == cachePath_ && st.st_size == cacheSize_ &&
        st.st_mtim.tv_sec == cacheMtime_.tv_sec && st.st_mtim.tv_nsec == cacheMtime_.tv_nsec)
        data = cache_.lock();
    if (!data) {
        data = DecodeWavFile(path);
        cache_ = data;
        cachePath_ = statted ? path : std::string();
        cacheSize_ = st.st_size;
        cacheMtime_ = st.st_mtim;
    }
    const int32_t voice = engine_->addVoice(data);
    std::shared_ptr<SoundBuffer> buffer(new SoundBuffer(engine_, data, voice));
    desc.format = data->format;
    desc.bufferBytes =
        static_cast<int32_t>(std::min<int64_t>(data->frames * data->format.blockAlign, INT32_MAX));
    buffer->applyGain();
    return buffer;
}

// ---- SoundRoot ----

SoundRoot::SoundRoot(AudioSystem& system) : system_(system) {}

std::shared_ptr<SoundDevice> SoundRoot::CreateSoundDevice(const std::string& deviceId) {
    std::unique_ptr<OutputDriver> driver = system_.openOutput(deviceId);
    auto engine = std::make_shared<Engine>(driver->sampleRate());
    std::shared_ptr<SoundDevice> device(new SoundDevice(engine, std::move(driver)));
    device->driver_->start(*engine);
    return device;
}

}  // namespace zb::audio
