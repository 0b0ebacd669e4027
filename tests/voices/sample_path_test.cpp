#include "voices/sample_path.h"

#include <gtest/gtest.h>

namespace zb::voices {
namespace {

TEST(SamplePathTest, NamesAndFoldersFromPaths) {
    const struct {
        QString path, name, dir;
    } cases[] = {
        {"/kick.wav", "kick.wav", "/"},
        {"/home/u/loops/drum kit/snare 2.wav", "snare 2.wav", "/home/u/loops/drum kit/"},
        {QString::fromUtf8("/tmp/Klänge/größe ß.wav"), QString::fromUtf8("größe ß.wav"),
         QString::fromUtf8("/tmp/Klänge/")},
        {"kick.wav", "kick.wav", ""},
        {"/tmp/dir/", "", "/tmp/dir/"},
        {"", "", ""},
        // A backslash is an ordinary character of a Linux file name.
        {"/tmp/a\\b.wav", "a\\b.wav", "/tmp/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SampleName(c.path), c.name) << c.path.toStdString();
        EXPECT_EQ(DirectoryOfPath(c.path), c.dir) << c.path.toStdString();
    }
}

TEST(SamplePathTest, DialogStartsInLastFolderElseProgramFolder) {
    EXPECT_EQ(InitialSampleDir("", "/opt/zembrola"), "/opt/zembrola/");
    EXPECT_EQ(InitialSampleDir("", "/"), "/");
    EXPECT_EQ(InitialSampleDir("/home/u/loops/", "/opt/zembrola"), "/home/u/loops/");
}

}  // namespace
}  // namespace zb::voices
