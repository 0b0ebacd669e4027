// Any bytes as a sample file: the decoder and the trace must refuse or read them, never
// crash, hang or read out of bounds.
#include <unistd.h>

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "audio/sound.h"
#include "audio/wav_decode.h"
#include "voices/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/zembrola-fuzz-XXXXXX.wav";
        const int fd = mkstemps(name, 4);
        if (fd >= 0)
            close(fd);
        return std::string(name);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        auto sample = zb::audio::DecodeWavFile(path);
        (void)sample;
    } catch (const zb::audio::SoundError&) {
    }
    const auto bytes = std::span(reinterpret_cast<const std::byte*>(data), size);
    const auto values = zb::voices::TraceValuesFromBytes(bytes);
    const auto fromFile = zb::voices::ReadTraceValues(QString::fromStdString(path));
    if (values != fromFile)
        __builtin_trap();  // both readers must agree
    zb::voices::TracePoints(values, 7335.0f, 255.0f);
    return 0;
}
