#include "audio/wav_decode.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace zb::audio {

namespace {

// Decoded samples are held as 32-bit floats; refuse what would not fit in 1 GiB.
constexpr int64_t kMaxDecodedBytes = int64_t{1} << 30;

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

int16_t bitsOf(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8:
            return 8;
        case SF_FORMAT_PCM_16:
            return 16;
        case SF_FORMAT_PCM_24:
            return 24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 32;
        case SF_FORMAT_DOUBLE:
            return 64;
        default:
            return 16;
    }
}

}  // namespace

std::shared_ptr<const SampleData> DecodeWavFile(const std::string& path) {
    // Opened here rather than by libsndfile, which refuses paths longer than 1 KiB. Without
    // blocking, so that a pipe named like a sample cannot hold the window; only regular files
    // are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw SoundError(kErrFileNotFound, "cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw SoundError(kErrBadFormat, "not a regular file: " + path);
    }
    SF_INFO info{};
    // libsndfile closes the descriptor with the file, also when it cannot parse it.
    std::unique_ptr<SNDFILE, SndCloser> file(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    if (!file)
        throw SoundError(kErrBadFormat,
                         "not a readable WAV file: " + path + ": " + sf_strerror(nullptr));
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64)
        throw SoundError(kErrBadFormat, "not a WAV file: " + path);
    if (info.channels < 1 || info.samplerate < 1)
        throw SoundError(kErrBadFormat, "WAV file without channels or rate: " + path);
    if (info.frames < kMinBufferFrames)
        throw SoundError(kErrBufferTooSmall, "WAV file too short: " + path);

    const int outChannels = info.channels == 1 ? 1 : 2;
    if (info.frames > kMaxDecodedBytes / (4 * std::max(info.channels, outChannels)))
        throw SoundError(kErrOutOfMemory, "WAV file too large: " + path);

    auto data = std::make_shared<SampleData>();
    try {
        data->channels = outChannels;
        data->sampleRate = info.samplerate;
        // Read straight into the sample's own storage, a slice at a time, so a load never
        // holds a second copy of the whole sample.
        data->allocate(info.frames);
        // Channels beyond two are folded in: even ones to the left, odd ones to the right.
        const float norm =
            info.channels > 2 ? 1.0f / static_cast<float>((info.channels + 1) / 2) : 1.0f;
        constexpr sf_count_t kSliceFrames = 16384;
        std::vector<float> slice(static_cast<size_t>(kSliceFrames) * info.channels);
        int64_t frames = 0;
        while (frames < info.frames) {
            const sf_count_t got = sf_readf_float(
                file.get(), slice.data(), std::min<sf_count_t>(kSliceFrames, info.frames - frames));
            if (got <= 0)
                break;  // a truncated data chunk: the frames read so far are kept
            for (int c = 0; c < info.channels; ++c) {
                float* dest = data->channel(c & 1) + frames;
                for (sf_count_t f = 0; f < got; ++f) dest[f] += slice[f * info.channels + c] * norm;
            }
            frames += got;
        }
        if (frames < kMinBufferFrames)
            throw SoundError(kErrBufferTooSmall, "WAV file holds too few frames: " + path);
        if (frames < info.frames)
            data->truncate(frames);
    } catch (const std::bad_alloc&) {
        throw SoundError(kErrOutOfMemory, "out of memory decoding " + path);
    }

    const int subtype = info.format & SF_FORMAT_SUBMASK;
    WaveFormat& wf = data->format;
    wf.formatTag = (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) ? 3 : 1;
    wf.channels = static_cast<int16_t>(info.channels);
    wf.samplesPerSec = info.samplerate;
    wf.bitsPerSample = bitsOf(subtype);
    wf.blockAlign = static_cast<int16_t>(info.channels * wf.bitsPerSample / 8);
    // A header may claim any rate; the byte rate saturates instead of overflowing.
    wf.avgBytesPerSec = static_cast<int32_t>(
        std::min<int64_t>(int64_t{wf.blockAlign} * info.samplerate, INT32_MAX));
    return data;
}

}  // namespace zb::audio
