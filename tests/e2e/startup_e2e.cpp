// The real program, started as a user would start it, on the test command's virtual
// display and PulseAudio null sink: its main window must appear, and it must end when
// asked to.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <chrono>

#include "support/e2e_support.h"

namespace zb::test {
namespace {

using namespace std::chrono_literals;

TEST(StartupE2e, MainWindowAppearsOnTheDisplayAndProgramEndsWhenAsked) {
    if (!displayConfigured()) {
        GTEST_SKIP() << "DISPLAY is not set: end-to-end tests need an X display "
                        "(scripts/test.sh starts Xvfb for them)";
    }
    const QString program = builtProgram("zembrola");
    ASSERT_FALSE(program.isEmpty()) << "ZEMBROLA_BIN_DIR is not set";
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    // Without a sound server the program still starts (it runs without sound), so this
    // is only recorded, to explain a failure.
    RecordProperty("sound_server", pulseServerReachable() ? "reachable" : "none");

    ChildProgram child(program);
    ASSERT_TRUE(child.start()) << "could not start " << program.toStdString();

    const std::optional<XWindow> window = child.waitForWindow("Zembrola", 20s);
    ASSERT_TRUE(window.has_value())
        << "no viewable window titled \"Zembrola\" appeared; the program "
        << child.describeEnd().toStdString() << "; its output:\n"
        << child.output().toStdString();
    EXPECT_EQ(window->width, 769);
    EXPECT_EQ(window->height, 417);
    EXPECT_TRUE(child.running()) << child.describeEnd().toStdString();

    ASSERT_TRUE(child.terminate(10s)) << "the program did not end after SIGTERM";
    EXPECT_TRUE(child.endedCleanly()) << child.describeEnd().toStdString() << "; its output:\n"
                                      << child.output().toStdString();
    EXPECT_TRUE(waitUntilNoWindow("Zembrola", 5s)) << "its window outlived the program";
}

TEST(StartupE2e, TreeLinesParseIntoWindowIdAndTitle) {
    struct Case {
        const char* line;
        bool named;
        const char* id;
        const char* name;
    };
    const Case cases[] = {
        {R"x(     0x400007 "Zembrola": ("zembrola" "zembrola")  769x417+0+0  +0+0)x", true,
         "0x400007", "Zembrola"},
        {R"x(        0x200003 "Web page": ()  10x10+1+1  +1+1)x", true, "0x200003", "Web page"},
        {R"x(  0x20000a "a ""quoted"" one": ()  1x1+0+0  +0+0)x", true, "0x20000a",
         R"x(a ""quoted"" one)x"},
        {R"x(     0x400001 (has no name): ()  1x1+-1+-1  +-1+-1)x", false, "", ""},
        {"  3 children:", false, "", ""},
        {"xwininfo: Window id: 0x1e5 (the root window) (has no name)", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<XWindow> w = parseTreeLine(c.line);
        ASSERT_EQ(w.has_value(), c.named);
        if (w) {
            EXPECT_EQ(w->id.toStdString(), c.id);
            EXPECT_EQ(w->name.toStdString(), c.name);
        }
    }
}

}  // namespace
}  // namespace zb::test
