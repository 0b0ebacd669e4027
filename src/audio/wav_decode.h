// Reading a WAV file into sample memory.
//
// Threads: any thread that is not the audio thread (it allocates and reads files).
#pragma once

#include <memory>
#include <string>

#include "audio/engine.h"

namespace zb::audio {

// Decodes the whole file; throws SoundError: kErrFileNotFound when it cannot be opened,
// kErrBadFormat when it is not a WAV file libsndfile can decode, kErrBufferTooSmall when it
// holds fewer than kMinBufferFrames frames, kErrOutOfMemory when it is too large to hold.
// More than two channels are folded into two (even channels left, odd channels right).
std::shared_ptr<const SampleData> DecodeWavFile(const std::string& path);

}  // namespace zb::audio
