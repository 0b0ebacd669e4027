// The demo kit: the generator's promises (format, length, level, determinism), what each
// drum sounds like by simple spectral measures, and that the engine loads every file.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "audio/audio_system.h"
#include "audio/sound.h"
#include "drums.h"

namespace zb::kitgen {
namespace {

struct KitFile {
    const char* fileName;
    double seconds;
};
const KitFile kFiles[] = {
    {"kit-1-kick.wav", 0.300},
    {"kit-2-snare.wav", 0.200},
    {"kit-3-hihat.wav", 0.070},
    {"kit-4-clap.wav", 0.150},
};

const Drum& DrumNamed(const char* fileName) {
    for (const auto& d : kKit) {
        if (std::string(d.fileName) == fileName)
            return d;
    }
    throw std::runtime_error(std::string("no drum ") + fileName);
}

struct Decoded {
    SF_INFO info{};
    std::vector<short> pcm;
};

Decoded Decode(const std::string& path) {
    Decoded d;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &d.info);
    if (!f)
        return d;
    d.pcm.resize(static_cast<size_t>(d.info.frames * d.info.channels));
    d.pcm.resize(static_cast<size_t>(sf_read_short(f, d.pcm.data(), d.info.frames)));
    sf_close(f);
    return d;
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double PeakDbfs(const std::vector<short>& pcm) {
    int peak = 0;
    for (short s : pcm) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return 20.0 * std::log10(peak / 32768.0);
}

// Energy per frequency bin up to half the rate, by a radix-2 FFT of the zero-padded sound.
std::vector<double> PowerSpectrum(const std::vector<float>& s, size_t* bins) {
    size_t n = 1;
    while (n < s.size()) n <<= 1;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < s.size(); ++i) a[i] = s[i];
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
    std::vector<double> power(n / 2);
    for (size_t i = 0; i < n / 2; ++i) power[i] = std::norm(a[i]);
    *bins = n;
    return power;
}

// The share of the sound's energy between two frequencies.
double BandShare(const std::vector<float>& s, double lowHz, double highHz) {
    size_t n = 0;
    const auto power = PowerSpectrum(s, &n);
    double total = 0;
    double band = 0;
    for (size_t i = 0; i < power.size(); ++i) {
        const double hz = static_cast<double>(i) * kRate / static_cast<double>(n);
        total += power[i];
        if (hz >= lowHz && hz < highHz)
            band += power[i];
    }
    return band / total;
}

// Sign changes per second: a rough pitch for a tone, high for bright noise.
double ZeroCrossingRate(const std::vector<float>& s, size_t from, size_t to) {
    int crossings = 0;
    for (size_t i = from + 1; i < to && i < s.size(); ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    }
    return crossings * static_cast<double>(kRate) / static_cast<double>(to - from);
}

TEST(DemoKit, SynthesisIsAPureFunction) {
    for (const auto& d : kKit) {
        const auto first = d.synthesize();
        const auto second = d.synthesize();
        EXPECT_EQ(first, second) << d.fileName;
        ASSERT_FALSE(first.empty());
        float peak = 0;
        for (float v : first) peak = std::max(peak, std::abs(v));
        EXPECT_FLOAT_EQ(peak, d.peak) << d.fileName;
        // Both ends are silent, so a sample cut or restarted at a step does not click.
        EXPECT_EQ(first.front(), 0.0f) << d.fileName;
        EXPECT_EQ(first.back(), 0.0f) << d.fileName;
    }
}

TEST(DemoKit, PcmRoundsAndClips) {
    EXPECT_EQ(ToPcm16({0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -1.5f}),
              (std::vector<int16_t>{0, 16384, -16384, 32767, -32767, 32767, -32768}));
}

TEST(DemoKit, TheGeneratorWritesTheSameBytesOnEveryRun) {
    QTemporaryDir a;
    QTemporaryDir b;
    ASSERT_TRUE(a.isValid() && b.isValid());
    for (const QTemporaryDir* dir : {&a, &b}) {
        QProcess gen;
        gen.start(QStringLiteral(ZEMBROLA_KITGEN), {dir->path()});
        ASSERT_TRUE(gen.waitForFinished(-1));
        ASSERT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
    }
    EXPECT_EQ(QDir(a.path()).entryList(QDir::Files),
              (QStringList{QStringLiteral("kit-1-kick.wav"), QStringLiteral("kit-2-snare.wav"),
                           QStringLiteral("kit-3-hihat.wav"), QStringLiteral("kit-4-clap.wav")}));
    for (const auto& f : kFiles) {
        const QString name = QString::fromLatin1(f.fileName);
        const QByteArray first = Bytes(a.filePath(name));
        EXPECT_FALSE(first.isEmpty()) << f.fileName;
        EXPECT_EQ(first, Bytes(b.filePath(name))) << f.fileName;
        // The build's own kit is the same too.
        EXPECT_EQ(first, Bytes(QStringLiteral(ZEMBROLA_KIT_DIR "/") + name)) << f.fileName;
    }
}

TEST(DemoKit, TheGeneratorFailsLoudlyWhenItCannotWrite) {
    QTemporaryDir dir;
    QProcess gen;
    gen.start(QStringLiteral(ZEMBROLA_KITGEN), {dir.filePath(QStringLiteral("missing/folder"))});
    ASSERT_TRUE(gen.waitForFinished(-1));
    EXPECT_NE(gen.exitCode(), 0);
    EXPECT_FALSE(gen.readAllStandardError().isEmpty());
}

TEST(DemoKit, EachFileIsWhatTheGeneratorPromises) {
    for (const auto& f : kFiles) {
        const Decoded d = Decode(ZEMBROLA_KIT_DIR "/" + std::string(f.fileName));
        EXPECT_EQ(d.info.samplerate, 44100) << f.fileName;
        EXPECT_EQ(d.info.channels, 1) << f.fileName;
        EXPECT_EQ(d.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16) << f.fileName;
        EXPECT_EQ(d.info.frames, std::lround(f.seconds * 44100)) << f.fileName;
        EXPECT_EQ(static_cast<int64_t>(d.pcm.size()), d.info.frames) << f.fileName;
        EXPECT_GE(d.info.frames, audio::kMinBufferFrames) << f.fileName;
        const double expectedDb = 20.0 * std::log10(DrumNamed(f.fileName).peak);
        EXPECT_NEAR(PeakDbfs(d.pcm), expectedDb, 0.05) << f.fileName;
        EXPECT_LT(PeakDbfs(d.pcm), -5.9) << f.fileName;
    }
}

TEST(DemoKit, FourVoicesStartedTogetherStayBelowFullScale) {
    std::vector<double> mix;
    for (const auto& d : kKit) {
        const auto s = d.synthesize();
        if (mix.size() < s.size())
            mix.resize(s.size());
        for (size_t i = 0; i < s.size(); ++i) mix[i] += s[i];
    }
    double peak = 0;
    for (double v : mix) peak = std::max(peak, std::abs(v));
    EXPECT_LT(peak, 1.0);
}

TEST(DemoKit, EachSoundsLikeItsName) {
    const auto kick = Kick();
    const auto snare = Snare();
    const auto hat = HiHat();
    const auto clap = Clap();

    // Kick: nearly all energy below 200 Hz, and the pitch falls.
    EXPECT_GT(BandShare(kick, 0, 200), 0.85);
    EXPECT_GT(ZeroCrossingRate(kick, 0, 1323), ZeroCrossingRate(kick, 4410, 8820));
    EXPECT_LT(ZeroCrossingRate(kick, 4410, 8820), 150);
    // Snare: a tone body and noise above it, both carrying real energy.
    EXPECT_GT(BandShare(snare, 100, 500), 0.15);
    EXPECT_GT(BandShare(snare, 2000, 22050), 0.3);
    // Hi-hat: bright, almost nothing below 4 kHz.
    EXPECT_GT(BandShare(hat, 5000, 22050), 0.85);
    EXPECT_LT(BandShare(hat, 0, 2000), 0.02);
    EXPECT_GT(ZeroCrossingRate(hat, 0, hat.size()), 8000);
    // Clap: noise centred in the middle of the range.
    EXPECT_GT(BandShare(clap, 600, 3000), 0.6);
}

TEST(DemoKit, EveryFileLoadsAndPlaysThroughTheEngine) {
    audio::OfflineAudioSystem system;
    audio::SoundRoot root(system);
    auto device = root.CreateSoundDevice("");
    ASSERT_TRUE(device);
    for (const auto& f : kFiles) {
        const std::string path = ZEMBROLA_KIT_DIR "/" + std::string(f.fileName);
        audio::BufferDesc desc;
        desc.flags = audio::kCtrlFrequency | audio::kCtrlPan | audio::kCtrlVolume;
        auto buffer = device->CreateBufferFromFile(path, desc);
        ASSERT_TRUE(buffer) << f.fileName;
        EXPECT_EQ(desc.format.samplesPerSec, 44100) << f.fileName;
        EXPECT_EQ(desc.format.channels, 1) << f.fileName;
        EXPECT_EQ(desc.format.bitsPerSample, 16) << f.fileName;
        EXPECT_EQ(buffer->frames(), std::lround(f.seconds * 44100)) << f.fileName;

        // Played at its own rate and full volume, centred, it comes out at its own level.
        buffer->Play(0);
        const auto out = system.driver()->render(buffer->frames() + 4410);
        buffer->Stop();
        float peak = 0;
        for (float v : out) peak = std::max(peak, std::abs(v));
        EXPECT_NEAR(peak, DrumNamed(f.fileName).peak, 0.01) << f.fileName;
    }
}

}  // namespace
}  // namespace zb::kitgen
