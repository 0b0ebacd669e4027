// Sample paths a user (or a downloaded kit) may hand the open dialog: blanks, quotes, new
// lines, shell syntax, non-UTF-8 bytes, a 255-byte name and a path close to PATH_MAX. Each
// must load into the real window like any other sample, show its name, and leave every
// other file alone; none of it may ever be run by a shell.
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "names/file_names.h"
#include "shell/sequencer.h"
#include "shell/voices.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"
#include "voices/sample_path.h"

namespace zb {
namespace {

// Every entry below a folder, by its raw bytes, recursively.
void listTree(const std::string& dir, std::set<std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        out.insert(path);
        if (e->d_type == DT_DIR)
            listTree(path, out);
    }
    ::closedir(d);
}

// A deep folder of 200-byte names, so that folder + "/" + name is `total` bytes long.
std::string deepFolder(const std::string& base, size_t total, size_t nameBytes) {
    std::string dir = base;
    while (dir.size() + 201 + 1 + nameBytes <= total) dir += "/" + std::string(200, 'd');
    const size_t rest = total - nameBytes - 1 - dir.size() - 1;
    if (rest > 0)
        dir += "/" + std::string(rest, 'e');
    return dir;
}

struct NameCase {
    const char* what;
    std::string name;   // file name bytes
    bool deep = false;  // below a folder that brings the path to PATH_MAX - 1 bytes
};

TEST(HostileSampleNames, LoadShowTheirNameAndTouchNothingElse) {
    const NameCase cases[] = {
        {"blanks", "  my kick  .wav"},
        {"quotes", "it's a \"quoted\" kick.wav"},
        {"new line", "two\nlines.wav"},
        {"command substitution", "$(touch pwned).wav"},
        {"back quotes", "`touch pwned2`.wav"},
        {"shell operators", "a;b&c|d>e<f*g?h#i~j(k)!l.wav"},
        {"leading dash", "-rf .wav"},
        {"backslash and percent", "back\\slash 100%f.wav"},
        {"UTF-8", "\xc3\xa9t\xc3\xa9 \xe2\x99\xab.wav"},
        {"non-UTF-8 bytes", "latin1 \xe9t\xe9 \xff\xfe.wav"},
        {"NAME_MAX", std::string(NAME_MAX - 4, 'k') + ".wav"},
        {"PATH_MAX", std::string(60, 'p') + ".wav", true},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::FormFixture fx;
        const std::string base = QFile::encodeName(fx.tempDir).toStdString();
        std::string dir = base;
        if (c.deep) {
            dir = deepFolder(base, PATH_MAX - 1, c.name.size());
            ASSERT_TRUE(QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(dir))));
        }
        const std::string path = dir + "/" + c.name;
        ASSERT_LE(path.size(), size_t{PATH_MAX - 1});
        ASSERT_TRUE(test::writeWav(path, {}, test::sine(4410, 441.0, 44100, 1)))
            << "the test could not write its sample";
        std::set<std::string> before;
        listTree(QFile::encodeName(fx.tempDir.section('/', 0, -2)).toStdString(), before);

        // The open dialog hands the name over with every byte kept.
        const QString chosen = names::fromBytes(path);
        fx.dialogs.openAnswers.push_back({chosen, 1});
        fx.form().cmdSound[0]->click();
        test::pumpEvents();

        ASSERT_NE(fx.form().session().voices[0].mainBuffer, nullptr) << "the sample did not load";
        EXPECT_TRUE(fx.dialogs.messages.empty());
        EXPECT_EQ(fx.form().lblFile[0]->text(), names::shown(voices::SampleName(chosen)));
        EXPECT_EQ(fx.form().txtCaption[0]->text(), names::shown(voices::SampleName(chosen)));
        EXPECT_TRUE(fx.form().waveform[0]->hasPicture());
        EXPECT_EQ(fx.form().voicesCtl().lastSampleDir, voices::DirectoryOfPath(chosen));
        // It plays.
        fx.form().cmdPlay->click();
        fx.form().sequencer().timBpm_Timer();  // the first event of a run plays nothing
        fx.form().sequencer().timBpm_Timer();
        const std::vector<float> out = fx.render(2048);
        float peak = 0;
        for (float s : out) peak = std::max(peak, std::abs(s));
        EXPECT_GT(peak, 0.1f);
        fx.form().cmdStop->click();

        // Nothing was created, changed or removed anywhere around it.
        std::set<std::string> after;
        listTree(QFile::encodeName(fx.tempDir.section('/', 0, -2)).toStdString(), after);
        EXPECT_EQ(after, before);
        EXPECT_FALSE(QFile::exists("pwned"));
        EXPECT_FALSE(QFile::exists("pwned2"));
    }
}

}  // namespace
}  // namespace zb
