#include "voice_wav.h"

namespace zb::voicetest {

namespace {
void put(std::string& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
}  // namespace

std::string CanonicalWav(int rate, int channels, int bits, const std::string& payload,
                         uint32_t dataBytesField, uint32_t riffSizeField) {
    std::string b = "RIFF";
    put(b, riffSizeField, 4);
    b += "WAVEfmt ";
    put(b, 16, 4);
    put(b, 1, 2);  // PCM
    put(b, static_cast<uint32_t>(channels), 2);
    put(b, static_cast<uint32_t>(rate), 4);
    put(b, static_cast<uint32_t>(rate * channels * bits / 8), 4);
    put(b, static_cast<uint32_t>(channels * bits / 8), 2);
    put(b, static_cast<uint32_t>(bits), 2);
    b += "data";
    put(b, dataBytesField, 4);
    return b + payload;
}

std::string CanonicalWav(int rate, int channels, int bits, const std::string& payload) {
    const auto size = static_cast<uint32_t>(payload.size());
    return CanonicalWav(rate, channels, bits, payload, size, size + 36);
}

}  // namespace zb::voicetest
