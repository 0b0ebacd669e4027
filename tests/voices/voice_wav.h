// Hand-made WAV bytes for the broken files libsndfile would never write.
#pragma once

#include <cstdint>
#include <string>

namespace zb::voicetest {

// A PCM WAV with the canonical 44-byte header; the two size fields are given separately
// so a header can lie about the payload.
std::string CanonicalWav(int rate, int channels, int bits, const std::string& payload,
                         uint32_t dataBytesField, uint32_t riffSizeField);

// The same with truthful size fields.
std::string CanonicalWav(int rate, int channels, int bits, const std::string& payload);

}  // namespace zb::voicetest
