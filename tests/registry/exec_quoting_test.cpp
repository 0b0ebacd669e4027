#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "glib_desktop_reader.h"
#include "registry/desktop_integration.h"
#include "registry/fileass.h"

namespace zb::fileass {
namespace {

struct QuotingCase {
    const char* path;      // UTF-8
    const char* expected;  // the Exec value as the file holds it; nullptr: cannot be carried
};

const QuotingCase kQuotingCases[] = {
    {"/usr/lib/zembrola/zembrola", R"("/usr/lib/zembrola/zembrola" %f)"},
    {"/home/a b/My Apps/zembrola", R"("/home/a b/My Apps/zembrola" %f)"},
    {"/tmp/it's \"quoted\"/zembrola", R"("/tmp/it's \\"quoted\\"/zembrola" %f)"},
    {"/tmp/$(touch pwned)/zembrola", R"("/tmp/\\$(touch pwned)/zembrola" %f)"},
    {"/tmp/`id`/zembrola", R"("/tmp/\\`id\\`/zembrola" %f)"},
    {"/tmp/back\\slash/zembrola", R"("/tmp/back\\\\slash/zembrola" %f)"},
    {"/tmp/100%/zembrola", R"("/tmp/100%%/zembrola" %f)"},
    {"/tmp/a;b&c|d>e<f*g?h#i~j(k)/zembrola", R"("/tmp/a;b&c|d>e<f*g?h#i~j(k)/zembrola" %f)"},
    {"/tmp/\xc3\xa9t\xc3\xa9/zembrola", "\"/tmp/\xc3\xa9t\xc3\xa9/zembrola\" %f"},
    {"/tmp/new\nline/zembrola", nullptr},
    {"/tmp/tab\there/zembrola", nullptr},
    {"/tmp/del\x7f/zembrola", nullptr},
    {"", nullptr},
};

TEST(ExecQuoting, ProgramPathsAreQuotedForTheDesktopEntry) {
    for (const auto& c : kQuotingCases) {
        const auto cls = SongDocumentClass(QString::fromUtf8(c.path));
        const auto exec = DesktopExec(cls);
        if (!c.expected) {
            EXPECT_FALSE(exec.has_value()) << c.path;
            EXPECT_FALSE(DesktopEntryText(cls).has_value()) << c.path;
        } else {
            ASSERT_TRUE(exec.has_value()) << c.path;
            EXPECT_EQ(exec->toStdString(), c.expected) << c.path;
        }
    }
}

TEST(ExecQuoting, StringValuesEscapeBackslashesAndLeadingBlanks) {
    EXPECT_EQ(EscapeDesktopString(QStringLiteral("a\\b")), QStringLiteral("a\\\\b"));
    EXPECT_EQ(EscapeDesktopString(QStringLiteral(" lead")), QStringLiteral("\\slead"));
    EXPECT_EQ(EscapeDesktopString(QStringLiteral("x\ny\tz\r")), QStringLiteral("x\\ny\\tz\\r"));
}

TEST(ExecQuoting, TheMimeCommentIsEscapedAsXml) {
    DocumentClass cls = SongDocumentClass(QStringLiteral("/x"));
    cls.description = QStringLiteral("A & <B> \"C\"");
    EXPECT_TRUE(MimePackageXml(cls).contains(
        QStringLiteral("<comment>A &amp; &lt;B&gt; &quot;C&quot;</comment>")));
}

// The entry as GLib reads it, which is what file managers run: the program path comes back
// as one argument exactly, and the document as the next one.
TEST(ExecQuoting, TheDesktopEntryParsesBackToTheRightArguments) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(home.filePath(QStringLiteral("no-tools"))));
    const std::string document = "/home/u/My Songs/take \"one\".zmbl";
    int checked = 0;
    for (const auto& c : kQuotingCases) {
        if (!c.expected)
            continue;
        // A real executable at the path, so the entry's TryExec holds.
        const QString exe = home.filePath(QStringLiteral("progs")) + QString::fromUtf8(c.path);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(exe).absolutePath())) << c.path;
        {
            QFile f(exe);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
        }
        QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString dataDir = home.filePath(QStringLiteral("share/zembrola"));
        RegisterSongDocumentType(dataDir, exe);

        const auto r = test::ReadDesktopEntry(
            home.filePath(QStringLiteral("share/applications/zembrola.desktop")).toStdString(),
            document);
        if (!r.available) {
            qputenv("PATH", savedPath);
            GTEST_SKIP() << "built without GLib";
        }
        ASSERT_TRUE(r.loaded) << c.path << ": " << r.error;
        EXPECT_EQ(r.argv, (std::vector<std::string>{exe.toStdString(), document})) << r.exec;
        EXPECT_EQ(r.tryExec, exe.toStdString());
        // GLib's loader looks the program up before it expands "%%", so it does not list
        // an entry whose program path holds a '%'; the arguments above are still right.
        if (!QString::fromUtf8(c.path).contains(QLatin1Char('%'))) {
            EXPECT_EQ(r.mimeTypes, std::vector<std::string>{"application/x-zembrola"}) << c.path;
        }
        ++checked;
    }
    qputenv("PATH", savedPath);
    EXPECT_EQ(checked, 9);
}

}  // namespace
}  // namespace zb::fileass
