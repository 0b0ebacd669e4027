#include "support/wav_fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zb::test {

bool writeWav(const std::string& path, const WavLayout& layout, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = layout.rate;
    info.channels = layout.channels;
    info.format = layout.format;
    // By descriptor: libsndfile refuses paths longer than 1 KiB, and tests use longer ones.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    SNDFILE* f = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!f)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / layout.channels;
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    sf_close(f);
    return ok;
}

namespace {

sf_count_t readFrames(SNDFILE* f, float* out, sf_count_t frames) {
    return sf_readf_float(f, out, frames);
}
sf_count_t readFrames(SNDFILE* f, int16_t* out, sf_count_t frames) {
    return sf_readf_short(f, out, frames);
}

template <typename Sample>
BasicWavRead<Sample> readWhole(const QString& path) {
    BasicWavRead<Sample> w;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &w.info);
    if (f == nullptr)
        return w;
    w.samples.resize(static_cast<size_t>(w.info.frames * w.info.channels));
    readFrames(f, w.samples.data(), w.info.frames);
    sf_close(f);
    w.ok = true;
    return w;
}

}  // namespace

WavRead readWav(const QString& path) {
    return readWhole<float>(path);
}

BasicWavRead<int16_t> readWav16(const QString& path) {
    return readWhole<int16_t>(path);
}

std::vector<float> sine(int64_t frames, double hz, int rate, int channels, double amp) {
    std::vector<float> out(static_cast<size_t>(frames) * channels);
    for (int64_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amp * std::sin(2.0 * M_PI * hz * i / rate));
        for (int c = 0; c < channels; ++c) out[i * channels + c] = v;
    }
    return out;
}

std::vector<float> constant(int64_t frames, int channels, float value) {
    return std::vector<float>(static_cast<size_t>(frames) * channels, value);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<int64_t> onsets(const std::vector<float>& interleaved, int ch, float threshold,
                            int64_t gap) {
    std::vector<int64_t> found;
    int64_t quiet = gap;
    const int64_t frames = static_cast<int64_t>(interleaved.size()) / 2;
    for (int64_t i = 0; i < frames; ++i) {
        if (std::fabs(interleaved[i * 2 + ch]) > threshold) {
            if (quiet >= gap)
                found.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

}  // namespace zb::test
