#include "export/capture_pulse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QRegularExpression>

#include "audio/audio_system.h"
#include "support/e2e_support.h"

namespace zb::capture {
namespace {

TEST(CaptureSource, TheMonitorOfTheOutputsSinkThenTheDefaultSinksThenNone) {
    const std::vector<SinkSeen> sinks = {
        {1, "speakers", "speakers.monitor"}, {2, "headset", "headset.monitor"}, {3, "bare", ""}};
    const std::string me = "42";
    // Our output on the headset while the speakers are the default.
    EXPECT_EQ(chooseCaptureSource({{1, "7"}, {2, me}}, sinks, "speakers", me), "headset.monitor");
    // No output of ours on the server (another program's does not count).
    EXPECT_EQ(chooseCaptureSource({{2, "7"}}, sinks, "speakers", me), "speakers.monitor");
    // Ours on a sink without a monitor: the default sink's.
    EXPECT_EQ(chooseCaptureSource({{3, me}}, sinks, "headset", me), "headset.monitor");
    // No monitor anywhere: the server's default source.
    EXPECT_EQ(chooseCaptureSource({{3, me}}, sinks, "bare", me), "");
    EXPECT_EQ(chooseCaptureSource({}, {}, "", me), "");
}

class NullSink final : public FrameSink {
public:
    void write(const int16_t*, uint32_t) noexcept override {}
};

// On the test command's server: the output is moved to a second sink, and the capture
// follows it there, not to the default sink and not to the default source.
TEST(CaptureSource, RecordsTheMonitorOfTheSinkTheOutputPlaysOn) {
    if (!test::pulseServerReachable())
        GTEST_SKIP() << "no PulseAudio server answers `pactl info`";
    const QString sinkName = QStringLiteral("capture_test_%1").arg(::getpid());
    const test::CommandResult loaded =
        test::runCommand("pactl", {"load-module", "module-null-sink", "sink_name=" + sinkName});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.output.toStdString();
    const QString module = loaded.output.trimmed();

    audio::RtAudioSystem system;
    auto output = system.openOutput("");
    // Our playback stream, found by this process's id.
    const QString list = test::runCommand("pactl", {"list", "sink-inputs"}).output;
    QString ours;
    for (const QString& block : list.split(QStringLiteral("Sink Input #"))) {
        if (block.contains(QStringLiteral("application.process.id = \"%1\"").arg(::getpid())))
            ours = block.section(QLatin1Char('\n'), 0, 0).trimmed();
    }
    ASSERT_FALSE(ours.isEmpty()) << list.toStdString();
    ASSERT_EQ(test::runCommand("pactl", {"move-sink-input", ours, sinkName}).exitCode, 0);

    PulseInputSystem input;
    NullSink sink;
    auto stream = input.openInput(44100, 2, sink);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(stream->start());
    EXPECT_EQ(input.lastSource(), (sinkName + ".monitor").toStdString());
    stream.reset();
    output.reset();
    test::runCommand("pactl", {"unload-module", module});
}

}  // namespace
}  // namespace zb::capture
