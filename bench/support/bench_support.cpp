#include "support/bench_support.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zb::bench {

MsgResult BenchDialogs::message(QWidget*, const QString& text, const QString& caption, MsgIcon,
                                MsgButtons) {
    std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
    ++messages;
    return answer_;
}

OpenFileResult BenchDialogs::openFile(QWidget*, const OpenFileRequest&) {
    if (opens.empty())
        return {};
    OpenFileResult r{opens.front(), 1};
    opens.pop_front();
    return r;
}

bool writeMonoWav(const std::string& path, const std::vector<float>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(samples.size());
    const bool written = sf_writef_float(f, samples.data(), frames) == frames;
    return sf_close(f) == 0 && written;
}

std::vector<float> clickSamples(int frames, int loud, float level, int half) {
    std::vector<float> s(static_cast<size_t>(frames), 0.0f);
    for (int i = 0; i < loud && i < frames; ++i)
        s[static_cast<size_t>(i)] = (half > 0 && (i / half) % 2) ? -level : level;
    return s;
}

std::vector<int64_t> findOnsets(const std::vector<float>& samples, int stride, float threshold,
                                int64_t gap, int64_t firstFrame, int64_t* quiet) {
    std::vector<int64_t> found;
    int64_t silent = quiet ? *quiet : gap;
    const size_t frames = samples.size() / static_cast<size_t>(stride);
    for (size_t i = 0; i < frames; ++i) {
        if (std::fabs(samples[i * static_cast<size_t>(stride)]) > threshold) {
            if (silent >= gap)
                found.push_back(firstFrame + static_cast<int64_t>(i));
            silent = 0;
        } else {
            ++silent;
        }
    }
    if (quiet)
        *quiet = silent;
    return found;
}

IntervalFigures measureIntervals(const std::vector<int64_t>& onsets, double period) {
    IntervalFigures r;
    for (size_t i = 1; i < onsets.size(); ++i) {
        const double signedDev = static_cast<double>(onsets[i] - onsets[i - 1]) - period;
        const double dev = std::fabs(signedDev);
        r.meanAbs += dev;
        if (dev > 1.0)
            ++r.offGrid;
        if (dev > r.maxAbs) {
            r.maxAbs = dev;
            r.worst = static_cast<int>(i);
            r.worstSigned = signedDev;
        }
        ++r.intervals;
    }
    if (r.intervals > 0) {
        r.meanAbs /= r.intervals;
        r.drift = static_cast<double>(onsets.back() - onsets.front()) - r.intervals * period;
    }
    return r;
}

std::vector<float> readFirstChannel(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> all(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    std::vector<float> first(static_cast<size_t>(std::max<sf_count_t>(got, 0)));
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = all[i * static_cast<size_t>(info.channels)];
    return first;
}

std::string loadAverage() {
    double l[3] = {};
    FILE* f = std::fopen("/proc/loadavg", "r");
    const bool read = f && std::fscanf(f, "%lf %lf %lf", &l[0], &l[1], &l[2]) == 3;
    if (f)
        std::fclose(f);
    if (!read)
        return "?";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", l[0], l[1], l[2]);
    return text;
}

}  // namespace zb::bench
