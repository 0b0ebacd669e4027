// Finding where a stretch of the program's own output lies in a recording of it.
//
// A take is recorded from the sound server's input, which hears the output some
// milliseconds after it is rendered; how many is only known roughly from the streams'
// reported latencies. The recording holds an exact copy of what was rendered (scaled by the
// server's volume, rounded to 16 bits, perhaps mixed with other sound), so comparing it with
// a copy of the rendered frames tells the offset to the frame.
#pragma once

#include <cstdint>
#include <optional>

namespace zb::capture {

struct AlignSearch {
    int64_t expected = 0;  // recording frame where the reference's frame 0 is thought to be
    int64_t radius = 0;    // frames either side of `expected` to search
};

// The stretch of the reference compared: from kAlignLeadFrames before its first sound (a
// reference should begin that early where it can), kAlignWindowFrames long at most.
inline constexpr int64_t kAlignLeadFrames = 256;
inline constexpr int64_t kAlignWindowFrames = 2048;

// The recording frame that holds the reference's frame 0, or nothing when the reference
// has no sound, the recording does not resemble it closely enough, or more than one offset
// fits about equally well (a steady tone repeats itself every period).
//
// `reference`: interleaved stereo floats as rendered; `recording`: interleaved 16-bit
// frames of `channels` channels, at the same rate.
std::optional<int64_t> locateInRecording(const float* reference, int64_t referenceFrames,
                                         const int16_t* recording, int64_t recordingFrames,
                                         int channels, AlignSearch search);

}  // namespace zb::capture
