// Writes the seed corpora of the fuzz targets into <dir>/wav, <dir>/numbers and
// <dir>/commands: real WAV files of many formats, broken ones, and typical texts.
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool writeWav(const std::string& path, int format, int rate, int channels, int frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<float> s(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[static_cast<size_t>(i) * channels + c] =
                static_cast<float>(0.5 * std::sin(i * 0.05 * (c + 1)) * std::exp(-i / 2000.0));
    sf_writef_float(f, s.data(), frames);
    sf_close(f);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus-dir>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    for (const char* sub : {"", "/wav", "/numbers", "/commands"}) mkdir((root + sub).c_str(), 0755);

    const std::string wav = root + "/wav/";
    struct Kind {
        const char* name;
        int format, rate, channels, frames;
    };
    const Kind kinds[] = {
        {"pcm16-mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 3000},
        {"pcm16-stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 3000},
        {"u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 1000},
        {"pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 1000},
        {"pcm32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 96000, 1, 1000},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1, 1000},
        {"extensible", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100, 4, 500},
        {"adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 11025, 1, 2000},
        {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 1, 1000},
        {"tiny", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 4},
        {"empty", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 0},
    };
    for (const Kind& k : kinds)
        writeWav(wav + k.name + ".wav", k.format, k.rate, k.channels, k.frames);

    // Broken variants of a good file.
    const std::string good = readAll(wav + "pcm16-mono.wav");
    writeText(wav + "truncated.wav", good.substr(0, good.size() / 2));
    writeText(wav + "header-only.wav", good.substr(0, 44));
    std::string lying = good;
    lying[40] = lying[41] = lying[42] = '\xff';
    writeText(wav + "lying-size.wav", lying);
    std::string badFmt = good;
    badFmt[20] = '\x55';  // an unknown format tag
    writeText(wav + "bad-format.wav", badFmt);
    std::string zeroRate = good;
    zeroRate[24] = zeroRate[25] = zeroRate[26] = zeroRate[27] = 0;
    writeText(wav + "zero-rate.wav", zeroRate);
    writeText(wav + "text.wav", "this is not a wave file\n");

    const std::string numbers = root + "/numbers/";
    const char* texts[] = {"44100", "-2500", "250.6", "1e3",   "-",
                           "",      "  12 ", "0x10",  "1e999", "100.5"};
    int n = 0;
    for (const char* t : texts) writeText(numbers + "n" + std::to_string(n++), t);

    const std::string commands = root + "/commands/";
    writeText(commands + "export",
              "open new Type waveaudio Alias capture\nset capture bitspersample 16\n"
              "set capture samplespersec 44100\nset capture channels 2\nrecord capture\n"
              "stop capture\nsave capture /nonexistent/take.WAV\nclose capture");
    writeText(commands + "odd", "open new type WAVEAUDIO alias Capture\nset capture channels 9\n");
    return 0;
}
