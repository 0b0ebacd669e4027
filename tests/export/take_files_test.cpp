#include "export/take_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>

namespace zb {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

class TakeFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(TakeFiles, CopyMakesANewFileAndKeepsTheSource) {
    QByteArray big(200 * 1024, '\0');
    for (int i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    writeFile(path("take.WAV"), big);
    const CopyResult r = copyWithoutOverwrite(path("take.WAV"), path("my loop.Wav"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(readAll(path("my loop.Wav")), big);
    EXPECT_EQ(readAll(path("take.WAV")), big);
}

TEST_F(TakeFiles, CopyNeverReplacesWhatIsThere) {
    writeFile(path("take.WAV"), "new");
    writeFile(path("old.Wav"), "old");
    ASSERT_EQ(::symlink(path("elsewhere").toLocal8Bit().constData(),
                        path("link.Wav").toLocal8Bit().constData()),
              0);
    struct Case {
        const char* target;
        int error;
    };
    for (const Case& c : {Case{"old.Wav", EEXIST}, Case{"link.Wav", EEXIST}}) {
        const CopyResult r = copyWithoutOverwrite(path("take.WAV"), path(c.target));
        EXPECT_FALSE(r.ok) << c.target;
        EXPECT_EQ(r.error, c.error) << c.target;
    }
    EXPECT_EQ(readAll(path("old.Wav")), "old");
    EXPECT_FALSE(QFile::exists(path("elsewhere")));  // the dangling link was not followed
}

TEST_F(TakeFiles, CopyFailsForAMissingTakeOrFolder) {
    writeFile(path("take.WAV"), "data");
    EXPECT_EQ(copyWithoutOverwrite(path("gone.WAV"), path("a.Wav")).error, ENOENT);
    EXPECT_FALSE(QFile::exists(path("a.Wav")));
    EXPECT_EQ(copyWithoutOverwrite(path("take.WAV"), path("no/such/dir/a.Wav")).error, ENOENT);
    EXPECT_FALSE(copyWithoutOverwrite("", path("b.Wav")).ok);
}

TEST_F(TakeFiles, RemoveTreatsAMissingFileAsDone) {
    writeFile(path("take.WAV"), "x");
    EXPECT_TRUE(removeTakeFile(path("take.WAV")));
    EXPECT_FALSE(pathTaken(path("take.WAV")));
    EXPECT_TRUE(removeTakeFile(path("take.WAV")));
    EXPECT_TRUE(removeTakeFile(""));
}

TEST(TakeFileText, SaysWhyAndWhereTheRecordingIs) {
    struct Case {
        int error;
        bool exists;
        std::vector<const char*> mentions;
    };
    const Case cases[] = {
        {EEXIST, true, {"already exists", "/m/a.Wav", "/t/T.WAV", "kept"}},
        {EACCES, true, {"/m/a.Wav", "/t/T.WAV", "kept", "ermission"}},
        {ENOENT, false, {"no recording was made", "/t/T.WAV"}},
    };
    for (const Case& c : cases) {
        const std::string text =
            copyFailureText("/m/a.Wav", "/t/T.WAV", c.error, c.exists).toStdString();
        for (const char* m : c.mentions) EXPECT_NE(text.find(m), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace zb
