#include "export/take_align.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace zb::capture {

namespace {

// The comparison starts kAlignLeadFrames before the reference's first frame louder than
// -60 dBFS: a decaying tone is a scaled copy of itself a period later, and only the silence
// ahead of it tells the two offsets apart.
constexpr float kSoundLevel = 1.0f / 1024;
// A recording of the reference itself scores almost 1; other sound in the server's mix
// lowers it, and below this the recording is not taken for the reference.
constexpr double kMinScore = 0.9;
// A second peak this close to the best one makes the offset ambiguous.
constexpr double kMinLead = 0.005;

}  // namespace

std::optional<int64_t> locateInRecording(const float* reference, int64_t referenceFrames,
                                         const int16_t* recording, int64_t recordingFrames,
                                         int channels, AlignSearch search) {
    if (referenceFrames <= 0 || recordingFrames <= 0 || channels < 1 || search.radius < 0)
        return std::nullopt;
    int64_t onset = 0;
    while (onset < referenceFrames && std::abs(reference[2 * onset]) <= kSoundLevel &&
           std::abs(reference[2 * onset + 1]) <= kSoundLevel)
        ++onset;
    if (onset == referenceFrames)
        return std::nullopt;
    const int64_t begin = std::max<int64_t>(0, onset - kAlignLeadFrames);
    const int64_t end = std::min(referenceFrames, begin + kAlignWindowFrames);
    const int64_t n = end - begin;

    // Both sides as mono; the server may have mixed the channels in any proportion.
    std::vector<double> ref(static_cast<size_t>(n));
    double refEnergy = 0.0;
    for (int64_t i = 0; i < n; ++i) {
        const double v = 0.5 * (reference[2 * (begin + i)] + reference[2 * (begin + i) + 1]);
        ref[static_cast<size_t>(i)] = v;
        refEnergy += v * v;
    }
    // Offsets d whose window [d + begin, d + end) lies inside the recording.
    const int64_t lo = std::max(search.expected - search.radius, -begin);
    const int64_t hi = std::min(search.expected + search.radius, recordingFrames - end);
    if (lo > hi || refEnergy <= 0.0)
        return std::nullopt;
    const int64_t span = hi - lo + n;
    std::vector<double> rec(static_cast<size_t>(span));
    std::vector<double> energyBefore(static_cast<size_t>(span) + 1, 0.0);
    for (int64_t j = 0; j < span; ++j) {
        const int16_t* frame = recording + (lo + begin + j) * channels;
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += frame[c];
        const double v = sum / (32768.0 * channels);
        rec[static_cast<size_t>(j)] = v;
        energyBefore[static_cast<size_t>(j) + 1] = energyBefore[static_cast<size_t>(j)] + v * v;
    }

    // Normalised correlation at every offset: 1 for a scaled copy.
    std::vector<double> score(static_cast<size_t>(hi - lo + 1), 0.0);
    for (int64_t d = 0; d <= hi - lo; ++d) {
        const double* r = rec.data() + d;
        double dot = 0.0;
        for (int64_t i = 0; i < n; ++i) dot += ref[static_cast<size_t>(i)] * r[i];
        const double energy =
            energyBefore[static_cast<size_t>(d + n)] - energyBefore[static_cast<size_t>(d)];
        if (energy > 0.0)
            score[static_cast<size_t>(d)] = dot / std::sqrt(refEnergy * energy);
    }
    const auto best = std::max_element(score.begin(), score.end());
    const int64_t at = best - score.begin();
    // A best offset on the edge of the search may be the slope of a peak outside it.
    if (*best < kMinScore || (at == 0 && lo > -begin) ||
        (at == hi - lo && hi < recordingFrames - end))
        return std::nullopt;
    // Any other peak about as high (a tone's next period) leaves the offset in doubt; the
    // broad peak of a low tone around the best offset does not.
    for (size_t d = 0; d < score.size(); ++d) {
        if (static_cast<int64_t>(d) == at)
            continue;
        const bool peak = (d == 0 || score[d] >= score[d - 1]) &&
                          (d + 1 == score.size() || score[d] >= score[d + 1]);
        if (peak && score[d] > *best - kMinLead)
            return std::nullopt;
    }
    return lo + at;
}

}  // namespace zb::capture
