#include "export/capture_device.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "export/sample_ring.h"
#include "support/wav_fixtures.h"
#include "synthetic_input.h"

namespace zb::capture {
namespace {

using Verb = Command::Verb;

TEST(CaptureCommands, ParsesTheCommandStrings) {
    struct Case {
        const char* text;
        Verb verb;
        const char* alias;
        const char* setting;
        long value;
        const char* path;
    };
    const Case cases[] = {
        {"open new Type waveaudio Alias capture", Verb::Open, "capture", "", 0, ""},
        {"OPEN NEW TYPE WAVEAUDIO ALIAS Capture", Verb::Open, "capture", "", 0, ""},
        {"set capture bitspersample 16", Verb::Set, "capture", "bitspersample", 16, ""},
        {"set capture samplespersec 44100", Verb::Set, "capture", "samplespersec", 44100, ""},
        {"set capture channels 2", Verb::Set, "capture", "channels", 2, ""},
        {"record capture", Verb::Record, "capture", "", 0, ""},
        {"stop capture", Verb::Stop, "capture", "", 0, ""},
        {"save capture /t/a b/0315200203245I09PM.WAV", Verb::Save, "capture", "", 0,
         "/t/a b/0315200203245I09PM.WAV"},
        {"close capture", Verb::Close, "capture", "", 0, ""},
        {"", Verb::Invalid, "", "", 0, ""},
        {"open new Type waveaudio", Verb::Invalid, "", "", 0, ""},
        {"open new Type cdaudio Alias capture", Verb::Invalid, "", "", 0, ""},
        {"set capture volume 3", Verb::Invalid, "", "", 0, ""},
        {"set capture channels two", Verb::Invalid, "", "", 0, ""},
        {"play capture", Verb::Invalid, "", "", 0, ""},
        {"record", Verb::Invalid, "", "", 0, ""},
        {"record capture now", Verb::Invalid, "", "", 0, ""},
        {"save capture", Verb::Invalid, "", "", 0, ""},
    };
    for (const Case& c : cases) {
        const Command cmd = parseCommand(c.text);
        EXPECT_EQ(cmd.verb, c.verb) << c.text;
        if (c.verb == Verb::Invalid)
            continue;
        EXPECT_EQ(cmd.alias, c.alias) << c.text;
        EXPECT_EQ(cmd.setting, c.setting) << c.text;
        EXPECT_EQ(cmd.value, c.value) << c.text;
        EXPECT_EQ(cmd.path, c.path) << c.text;
    }
}

class CaptureDeviceTest : public ::testing::Test {
protected:
    void openAs16BitStereo() {
        ASSERT_EQ(device.send("open new Type waveaudio Alias capture"), kOk);
        ASSERT_EQ(device.send("set capture bitspersample 16"), kOk);
        ASSERT_EQ(device.send("set capture samplespersec 44100"), kOk);
        ASSERT_EQ(device.send("set capture channels 2"), kOk);
    }
    std::vector<int16_t> ramp(int frames, int offset) const {
        std::vector<int16_t> v;
        for (int i = 0; i < frames; ++i) {
            v.push_back(static_cast<int16_t>(i + offset));
            v.push_back(static_cast<int16_t>(-(i + offset)));
        }
        return v;
    }

    QTemporaryDir dir;
    test::SyntheticInput input;
    CaptureDevice device{&input};
};

TEST_F(CaptureDeviceTest, RecordsWhatTheInputDeliversIntoA16BitStereoWav) {
    openAs16BitStereo();
    input.feed(ramp(100, 0));  // before "record": not part of the take
    // The recording's beginning is announced once its stream exists, before it runs.
    int begins = 0;
    bool runningAtBegin = true;
    device.setOnRecordingBegins([&] {
        ++begins;
        runningAtBegin = input.running();
        EXPECT_EQ(input.opens, 1);
    });
    ASSERT_EQ(device.send("record capture"), kOk);
    EXPECT_EQ(begins, 1);
    EXPECT_FALSE(runningAtBegin);
    EXPECT_TRUE(input.running());
    EXPECT_EQ(input.rate, 44100);
    EXPECT_EQ(input.channelCount, 2);
    const std::vector<int16_t> a = ramp(30000, 1), b = ramp(20000, 30001);
    input.feed(a);
    input.feed(b);
    ASSERT_EQ(device.send("stop capture"), kOk);
    EXPECT_FALSE(input.running());
    input.feed(ramp(100, 0));  // after "stop": not part of the take either
    const QString path = dir.filePath("a folder/with blanks.WAV");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a folder")));
    ASSERT_EQ(device.send("save capture " + path.toStdString()), kOk);
    ASSERT_EQ(device.send("close capture"), kOk);

    const auto w = test::readWav16(path);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(w.info.channels, 2);
    EXPECT_EQ(w.info.samplerate, 44100);
    std::vector<int16_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(w.samples, expected);
    EXPECT_EQ(device.droppedFrames(), 0u);
}

// The take keeps only the steps' span: the sound still on its way when the recording
// started is left out, and the end is cut where the last step ends. A span the input has
// not (yet) delivered in full ends with what there is.
TEST_F(CaptureDeviceTest, KeepsOnlyTheSpanItIsGiven) {
    openAs16BitStereo();
    struct Case {
        const char* what;
        int64_t from, count;
        int firstValue, frames;
    };
    const Case cases[] = {
        {"inside", 1000, 20000, 1000, 20000},
        {"beyond the end", 29000, 5000, 29000, 1000},
        {"start beyond the end", 40000, 10, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(device.send("record capture"), kOk);
        input.feed(ramp(30000, 0));
        device.keepSpan(c.from, c.count);
        ASSERT_EQ(device.send("stop capture"), kOk);
        const QString path = dir.filePath(QString::fromLatin1(c.what) + ".WAV");
        ASSERT_EQ(device.send("save capture " + path.toStdString()), kOk);
        const auto w = test::readWav16(path);
        ASSERT_TRUE(w.ok);
        ASSERT_EQ(w.info.frames, c.frames);
        if (c.frames > 0) {
            EXPECT_EQ(w.samples.front(), c.firstValue);
            EXPECT_EQ(w.samples.back(), -(c.firstValue + c.frames - 1));
        }
    }
    // A new recording keeps everything again.
    ASSERT_EQ(device.send("record capture"), kOk);
    input.feed(ramp(100, 0));
    ASSERT_EQ(device.send("stop capture"), kOk);
    const QString whole = dir.filePath("whole.WAV");
    ASSERT_EQ(device.send("save capture " + whole.toStdString()), kOk);
    EXPECT_EQ(test::readWav16(whole).info.frames, 100);
}

// The end of the span comes through the output and the input after the stop is asked for.
// An input that still delivers is waited for however long that takes in all (here longer
// than the wait for an input that has gone quiet); only a pause in it ends the wait.
TEST_F(CaptureDeviceTest, StopWaitsForTheSpanWhileTheInputStillDelivers) {
    openAs16BitStereo();
    ASSERT_EQ(device.send("record capture"), kOk);
    constexpr int kPieces = 30, kPieceFrames = 500;
    device.keepSpan(0, kPieces * kPieceFrames);
    std::thread slowInput([&] {
        for (int i = 0; i < kPieces; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(CaptureDevice::kSpanWaitMs / 20));
            input.feed(ramp(kPieceFrames, i * kPieceFrames));
        }
    });
    ASSERT_EQ(device.send("stop capture"), kOk);
    slowInput.join();
    const QString path = dir.filePath("slow.WAV");
    ASSERT_EQ(device.send("save capture " + path.toStdString()), kOk);
    const auto w = test::readWav16(path);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.info.frames, kPieces * kPieceFrames);
}

TEST_F(CaptureDeviceTest, FailsQuietlyWithCodes) {
    const QString existing = dir.filePath("there.WAV");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    // Before open, every command but open is for an unknown alias.
    EXPECT_EQ(device.send("record capture"), kErrUnknownAlias);
    EXPECT_EQ(device.send("close capture"), kErrUnknownAlias);
    EXPECT_EQ(device.send("dance capture"), kErrUnknownCommand);
    openAs16BitStereo();
    EXPECT_EQ(device.send("open new Type waveaudio Alias capture"), kErrAliasInUse);
    EXPECT_EQ(device.send("record other"), kErrUnknownAlias);
    EXPECT_EQ(device.send("set capture bitspersample 24"), kErrBadValue);
    EXPECT_EQ(device.send("set capture channels 6"), kErrBadValue);
    EXPECT_EQ(device.send("set capture samplespersec 10"), kErrBadValue);
    EXPECT_EQ(device.send("save capture " + dir.filePath("early.WAV").toStdString()),
              kErrNothingRecorded);
    EXPECT_FALSE(QFile::exists(dir.filePath("early.WAV")));
    ASSERT_EQ(device.send("record capture"), kOk);
    input.feed(ramp(10, 0));
    EXPECT_EQ(device.send("save capture " + dir.filePath("busy.WAV").toStdString()), kErrBusy);
    EXPECT_EQ(device.send("set capture channels 1"), kErrBusy);
    ASSERT_EQ(device.send("stop capture"), kOk);
    EXPECT_EQ(device.send("save capture " + dir.filePath("no/dir/x.WAV").toStdString()),
              kErrWriteFailed);
    EXPECT_EQ(device.send("save capture " + existing.toStdString()), kErrWriteFailed);
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep me");
    EXPECT_EQ(device.send("close capture"), kOk);
    EXPECT_FALSE(device.isOpen());
}

TEST(CaptureDeviceInput, NoUsableInputMeansNoTake) {
    QTemporaryDir dir;
    struct Case {
        const char* what;
        bool haveInput, refuse, failStart;
    };
    for (const Case c : {Case{"no input", false, false, false}, Case{"refused", true, true, false},
                         Case{"will not start", true, false, true}}) {
        test::SyntheticInput input;
        input.refuseOpen = c.refuse;
        input.failStart = c.failStart;
        CaptureDevice device(c.haveInput ? &input : nullptr);
        const QString path = dir.filePath(QString("%1.WAV").arg(c.what));
        EXPECT_EQ(device.send("open new Type waveaudio Alias capture"), kOk) << c.what;
        EXPECT_EQ(device.send("record capture"), kErrNoInput) << c.what;
        EXPECT_FALSE(input.running()) << c.what;
        EXPECT_EQ(device.send("stop capture"), kOk) << c.what;
        EXPECT_EQ(device.send("save capture " + path.toStdString()), kErrNothingRecorded) << c.what;
        EXPECT_EQ(device.send("close capture"), kOk) << c.what;
        EXPECT_FALSE(QFile::exists(path)) << c.what;
    }
}

TEST(SampleRingTest, WrapsAroundAndRefusesWhatDoesNotFit) {
    SampleRing ring(6);  // rounded up to 8
    EXPECT_EQ(ring.capacity(), 8u);
    const int16_t in[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    int16_t out[10] = {};
    EXPECT_EQ(ring.write(in, 5), 5u);
    EXPECT_EQ(ring.read(out, 3), 3u);
    EXPECT_EQ(ring.write(in + 5, 5), 5u);  // wraps
    EXPECT_EQ(ring.writable(), 1u);
    EXPECT_EQ(ring.write(in, 3), 1u);
    EXPECT_EQ(ring.read(out, 10), 8u);
    const int16_t expected[] = {4, 5, 6, 7, 8, 9, 10, 1};
    EXPECT_TRUE(std::equal(expected, expected + 8, out));
    EXPECT_EQ(ring.read(out, 10), 0u);
}

}  // namespace
}  // namespace zb::capture
