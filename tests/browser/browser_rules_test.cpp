// The plain rules of the web page window: layout, twip conversion, where the module is
// looked for, what the web engine gets from the environment.
#include "browser/launcher/browser_rules.h"

#include <gtest/gtest.h>

namespace zb::browser {
namespace {

struct LayoutCase {
    const char* name;
    TwipSize client;
    TwipSize view;
};

TEST(BrowserRules, WebViewFollowsClientArea) {
    const LayoutCase cases[] = {
        {"design size", {6540, 5130}, {6440, 5030}},
        {"enlarged", {15000, 9000}, {14900, 8900}},
        {"exactly the margin", {100, 100}, {0, 0}},
        {"narrower than the margin", {60, 5130}, {0, 5030}},
        {"lower than the margin", {6540, 99}, {6440, 0}},
        {"minimized", {0, 0}, {0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(webViewSize(c.client), c.view) << c.name;
}

TEST(BrowserRules, TwipsToNearestPixel) {
    const std::pair<int, int> cases[] = {
        {0, 0},   {7, 0},      {8, 1},      {15, 1},     {45, 3},     {675, 45},
        {100, 7}, {6440, 429}, {5030, 335}, {6540, 436}, {5130, 342},
    };
    for (const auto& [twips, pixels] : cases) EXPECT_EQ(twipsToPixels(twips), pixels) << twips;
    EXPECT_EQ(pixelsToTwips(436), 6540);
    EXPECT_EQ(pixelsToTwips(342), 5130);
}

TEST(BrowserRules, ModuleLookedForInProgramFolderThenExecutableFolder) {
    struct Case {
        const char* name;
        QString programDir, appDir;
        QStringList expected;
    };
    const Case cases[] = {
        {"two folders",
         "/opt/z",
         "/usr/lib/zembrola",
         {"/opt/z/libzb.so", "/usr/lib/zembrola/libzb.so"}},
        {"same folder once", "/opt/z/", "/opt/z", {"/opt/z/libzb.so"}},
        {"no program folder", "", "/opt/z", {"/opt/z/libzb.so"}},
        {"no folder at all", "", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(browserModuleCandidates(c.programDir, c.appDir, "libzb.so"), c.expected)
            << c.name;
}

TEST(BrowserRules, SandboxSwitchedOffOnlyForRootWhenUnset) {
    const QList<EnvSetting> off = {{"QTWEBENGINE_DISABLE_SANDBOX", "1"}};
    EXPECT_EQ(webEngineEnvironment(true, false), off);
    EXPECT_TRUE(webEngineEnvironment(true, true).isEmpty());
    EXPECT_TRUE(webEngineEnvironment(false, false).isEmpty());
}

}  // namespace
}  // namespace zb::browser
