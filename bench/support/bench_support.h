// Helpers the benchmarks share: dialogs that nobody answers, the sounds they play and the
// onsets they look for.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "shell/dialogs.h"

namespace zb::bench {

// Dialogs for a benchmark: no one is there to answer. A message box is shown on stderr,
// counted and answered with `answer`; an open dialog takes the next file of `opens` and is
// cancelled when none is left; a save dialog is cancelled unless a bench says otherwise.
class BenchDialogs : public Dialogs {
public:
    explicit BenchDialogs(MsgResult answer = MsgResult::Ok) : answer_(answer) {}
    MsgResult message(QWidget*, const QString& text, const QString& caption, MsgIcon,
                      MsgButtons) override;
    OpenFileResult openFile(QWidget*, const OpenFileRequest&) override;
    QString saveFile(QWidget*, const QString&, const QString&) override { return {}; }

    std::deque<QString> opens;
    int messages = 0;

private:
    MsgResult answer_;
};

// Writes mono float samples (-1..1) as a 16-bit WAV file; false when it cannot be written.
bool writeMonoWav(const std::string& path, const std::vector<float>& samples, int rate = 44100);

// A click: `loud` frames of a square burst at `level` (alternating sign every `half` frames;
// 0: one sign), then silence up to `frames`.
std::vector<float> clickSamples(int frames, int loud, float level, int half = 0);

// Onsets on one channel of interleaved samples (`stride` channels, channel 0 read): frames
// where the level rises above `threshold` after at least `gap` quiet frames. `quiet` carries
// the count of quiet frames from one call to the next, for a recording scanned in pieces.
std::vector<int64_t> findOnsets(const std::vector<float>& samples, int stride, float threshold,
                                int64_t gap, int64_t firstFrame = 0, int64_t* quiet = nullptr);

// How evenly onsets keep to a period: each interval minus the ideal period, in frames.
struct IntervalFigures {
    int intervals = 0;
    double meanAbs = 0, maxAbs = 0;  // |interval - period|
    double drift = 0;                // (last - first) minus the ideal
    int worst = 0;                   // the interval with the largest deviation, from 1
    double worstSigned = 0;          // its deviation: > 0 late (output ran dry), < 0 early
    int offGrid = 0;                 // intervals off by more than one frame
};
IntervalFigures measureIntervals(const std::vector<int64_t>& onsets, double period);

// The first channel of a sound file as floats (-1..1); empty when it cannot be read.
std::vector<float> readFirstChannel(const std::string& path);

// The machine's load averages over 1, 5 and 15 minutes ("?" where the system has none).
std::string loadAverage();

}  // namespace zb::bench
