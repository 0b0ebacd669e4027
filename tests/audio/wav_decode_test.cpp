// Every kind of file a user may pick either loads into a buffer or fails with its code.
#include "audio/wav_decode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>

#include "audio/audio_system.h"
#include "audio/sound.h"
#include "support/wav_fixtures.h"

namespace zb::audio {
namespace {

uint32_t codeOf(const std::string& path) {
    try {
        DecodeWavFile(path);
    } catch (const SoundError& e) {
        return e.code();
    }
    return 0;
}

TEST(WavDecode, FormatsLoadWithTheirOwnRateAndChannels) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        test::WavLayout layout;
        int channelsOut;
    };
    const Case cases[] = {
        {"u8.wav", {8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8}, 1},
        {"s16.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 2},
        {"s24.wav", {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 1},
        {"s32.wav", {96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_32}, 2},
        {"f32.wav", {22050, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 1},
        {"ext.wav", {44100, 2, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16}, 2},
        {"six.wav", {44100, 6, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16}, 2},
        {"adpcm.wav", {11025, 1, SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM}, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir.filePath(c.name).toStdString();
        ASSERT_TRUE(test::writeWav(path, c.layout,
                                   test::sine(2000, 440, c.layout.rate, c.layout.channels, 0.5)))
            << c.name;
        auto data = DecodeWavFile(path);
        EXPECT_EQ(data->sampleRate, c.layout.rate) << c.name;
        EXPECT_EQ(data->channels, c.channelsOut) << c.name;
        EXPECT_GE(data->frames, 1900) << c.name;
        EXPECT_EQ(data->format.samplesPerSec, c.layout.rate) << c.name;
        EXPECT_EQ(data->format.channels, c.layout.channels) << c.name;
        float peak = 0;
        for (float v : data->samples) peak = std::max(peak, std::fabs(v));
        EXPECT_NEAR(peak, 0.5, 0.05) << c.name;
    }
}

TEST(WavDecode, BrokenAndHostileFilesFailWithACode) {
    QTemporaryDir dir;
    auto path = [&](const char* n) { return dir.filePath(n).toStdString(); };

    const std::string good = path("good.wav");
    ASSERT_TRUE(test::writeWav(good, {}, test::sine(5000, 440, 44100, 1)));
    const std::string bytes = test::readBytes(good);

    test::writeWav(path("empty.wav"), {}, {});
    test::writeWav(path("one.wav"), {}, {0.5f});
    test::writeWav(path("short.wav"), {}, test::sine(kMinBufferFrames - 1, 440, 44100, 1));
    test::writeWav(path("min.wav"), {}, test::sine(kMinBufferFrames, 440, 44100, 1));
    test::writeBytes(path("text.wav"), "this is not a wave file\n");
    test::writeBytes(path("zero.wav"), "");
    test::writeBytes(path("header-only.wav"), bytes.substr(0, 44));
    test::writeBytes(path("truncated.wav"), bytes.substr(0, 44 + 2000));
    std::string lying = bytes;  // data chunk claims far more than the file holds
    lying[40] = '\xff';
    lying[41] = '\xff';
    lying[42] = '\xff';
    lying[43] = '\x7f';
    test::writeBytes(path("lying.wav"), lying);
    test::writeBytes(path("garbage.wav"),
                     std::string("RIFF\x10\0\0\0WAVEfmt \xff\xff\xff\xff", 20));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.wav"));
    test::writeWav(path("aiff.wav"), {44100, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                   test::sine(5000, 440, 44100, 1));

    struct Case {
        const char* name;
        uint32_t code;
    };
    const Case cases[] = {
        {"good.wav", 0},
        {"min.wav", 0},
        {"truncated.wav", 0},  // keeps the frames that are there
        {"lying.wav", 0},
        {"empty.wav", kErrBufferTooSmall},
        {"one.wav", kErrBufferTooSmall},
        {"short.wav", kErrBufferTooSmall},
        {"header-only.wav", kErrBufferTooSmall},
        {"text.wav", kErrBadFormat},
        {"zero.wav", kErrBadFormat},
        {"garbage.wav", kErrBadFormat},
        {"folder.wav", kErrBadFormat},
        {"aiff.wav", kErrBadFormat},
        {"missing.wav", kErrFileNotFound},
    };
    for (const Case& c : cases) EXPECT_EQ(codeOf(path(c.name)), c.code) << c.name;
}

// Found by fuzzing: a float file whose header claims 1.5 GHz overflowed the byte rate.
TEST(WavDecode, AnAbsurdRateInTheHeaderDecodesWithoutOverflow) {
    QTemporaryDir dir;
    const auto le = [](std::string& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    const uint32_t rate = 1509971490, frames = 64;
    std::string wav = "RIFF";
    le(wav, 36 + frames * 4, 4);
    wav += "WAVEfmt ";
    le(wav, 16, 4);
    le(wav, 3, 2);  // IEEE float
    le(wav, 1, 2);
    le(wav, rate, 4);
    le(wav, 0xffffffffu, 4);  // the byte rate the header claims, nonsense as well
    le(wav, 4, 2);
    le(wav, 32, 2);
    wav += "data";
    le(wav, frames * 4, 4);
    wav += std::string(frames * 4, '\0');
    const std::string path = dir.filePath("rate.wav").toStdString();
    test::writeBytes(path, wav);
    const auto data = DecodeWavFile(path);
    EXPECT_EQ(data->format.samplesPerSec, static_cast<int32_t>(rate));
    EXPECT_EQ(data->format.avgBytesPerSec, INT32_MAX);
    EXPECT_EQ(data->frames, int64_t{frames});
}

// A stereo file cut short keeps the frames that are there, each channel in its own run.
TEST(WavDecode, ATruncatedStereoFileKeepsBothChannelsApart) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("cut.wav").toStdString();
    std::vector<float> lr;
    for (int f = 0; f < 5000; ++f) lr.insert(lr.end(), {0.25f, -0.5f});
    ASSERT_TRUE(test::writeWav(path, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, lr));
    test::writeBytes(path, test::readBytes(path).substr(0, 44 + 3000 * 4));
    const auto data = DecodeWavFile(path);
    ASSERT_EQ(data->frames, 3000);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(data->channel(c)[2999], c == 0 ? 0.25f : -0.5f, 1e-3f);
        EXPECT_EQ(data->channel(c)[3000], 0.0f);  // the padding after the run
    }
}

TEST(WavDecode, UnreadableFileFails) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    QTemporaryDir dir;
    const std::string p = dir.filePath("locked.wav").toStdString();
    test::writeWav(p, {}, test::sine(5000, 440, 44100, 1));
    chmod(p.c_str(), 0);
    EXPECT_EQ(codeOf(p), kErrFileNotFound);
}

TEST(WavDecode, NamesWithBlanksAndNonAsciiLoad) {
    QTemporaryDir dir;
    const QString name = QString::fromUtf8("drum kit \xc3\xa9t\xc3\xa9 'x' $(y).wav");
    const std::string p = QFile::encodeName(dir.filePath(name)).toStdString();
    ASSERT_TRUE(test::writeWav(p, {}, test::sine(5000, 440, 44100, 1)));
    OfflineAudioSystem system;
    SoundRoot root(system);
    auto device = root.CreateSoundDevice("");
    BufferDesc desc;
    EXPECT_NO_THROW(device->CreateBufferFromFile(p, desc));
    EXPECT_EQ(desc.format.samplesPerSec, 44100);
}

}  // namespace
}  // namespace zb::audio
