#include "export/take_name.h"

#include <gtest/gtest.h>

#include <QSet>

namespace zb {
namespace {

struct NameCase {
    QDate date;
    QTime time;
    const char* expected;
};

TEST(TakeName, RendersTheDatePattern) {
    const NameCase cases[] = {
        {{2002, 3, 15}, {15, 5, 9}, "0315200203245I09PM.WAV"},
        {{2002, 3, 15}, {0, 0, 0}, "0315200212240I00AM.WAV"},     // midnight reads 12 AM
        {{2002, 3, 15}, {12, 30, 5}, "03152002122430I05PM.WAV"},  // noon reads 12 PM
        {{2002, 3, 15}, {11, 59, 59}, "03152002112459I59AM.WAV"},
        {{2002, 3, 15}, {23, 7, 0}, "0315200211247I00PM.WAV"},
        {{2024, 12, 1}, {1, 1, 1}, "1201202401241I01AM.WAV"},
        {{999, 1, 2}, {13, 10, 20}, "01020999012410I20PM.WAV"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(takeFileName(QDateTime(c.date, c.time)).toStdString(), c.expected)
            << c.date.toString(Qt::ISODate).toStdString() << " "
            << c.time.toString(Qt::ISODate).toStdString();
    }
}

TEST(TakeName, FolderIsUnderTheDataFolder) {
    EXPECT_EQ(takeFolder("/home/u/.local/share/zembrola"), "/home/u/.local/share/zembrola/takes/");
    EXPECT_EQ(takeFolder("/data/"), "/data/takes/");
}

TEST(TakeName, FreeNameSkipsTakenOnes) {
    struct Case {
        QSet<QString> taken;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "0315200203245I09PM.WAV", "0315200203245I09PM.WAV"},
        {{"0315200203245I09PM.WAV"}, "0315200203245I09PM.WAV", "0315200203245I09PM_2.WAV"},
        {{"0315200203245I09PM.WAV", "0315200203245I09PM_2.WAV"},
         "0315200203245I09PM.WAV",
         "0315200203245I09PM_3.WAV"},
        {{"take"}, "take", "take_2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(freeTakeName(c.name, [&](const QString& n) { return c.taken.contains(n); }),
                  c.expected);
    }
}

TEST(TakeName, SavedCopyAlwaysGetsWav) {
    EXPECT_EQ(savedCopyName("/music/loop"), "/music/loop.Wav");
    EXPECT_EQ(savedCopyName("/music/loop.wav"), "/music/loop.wav.Wav");
    EXPECT_EQ(savedCopyName("/music/loop.Wav"), "/music/loop.Wav.Wav");
}

TEST(TakeName, UnsavedTakeNeedsAPathAndNoSave) {
    EXPECT_FALSE(hasUnsavedTake("", false));
    EXPECT_FALSE(hasUnsavedTake("   ", false));
    EXPECT_TRUE(hasUnsavedTake(" /t/a.WAV ", false));
    EXPECT_FALSE(hasUnsavedTake("/t/a.WAV", true));
}

}  // namespace
}  // namespace zb
