#include "registry/program_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "registry/class_store.h"
#include "registry/desktop_integration.h"
#include "registry/fileass.h"

namespace zb::location {
namespace {

void Touch(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST(ProgramLocation, PartsBesideTheExecutableElseInTheInstalledFolder) {
    QTemporaryDir tmp;
    const QString bin = tmp.filePath(QStringLiteral("usr/bin"));
    const QString share = tmp.filePath(QStringLiteral("usr/share/zembrola"));
    const QString kit = QStringLiteral("kit-1-kick.wav");
    ASSERT_TRUE(QDir().mkpath(bin));
    EXPECT_EQ(PartFolder(bin, QStringLiteral("../share/zembrola"), kit), bin);
    Touch(share + QLatin1Char('/') + kit);
    EXPECT_EQ(PartFolder(bin, QStringLiteral("../share/zembrola"), kit), share);
    Touch(bin + QLatin1Char('/') + kit);  // a build tree keeps everything together
    EXPECT_EQ(PartFolder(bin, QStringLiteral("../share/zembrola"), kit), bin);
}

// Qt names no executable at all in such a folder; the open command then had no program.
TEST(ProgramLocation, AFolderNameThatIsNotUtf8StillGivesAPathButNoDesktopEntry) {
    EXPECT_EQ(ExecutablePath(), QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    QTemporaryDir tmp;
    const QByteArray link = QFile::encodeName(tmp.filePath(QStringLiteral("exe")));
    ASSERT_EQ(symlink("/opt/x\xff\xfe/zembrola", link.constData()), 0);
    const QString path = LinkTarget(link);
    EXPECT_TRUE(path.startsWith(QStringLiteral("/opt/x")) &&
                path.endsWith(QStringLiteral("/zembrola")))
        << path.toStdString();
    EXPECT_FALSE(fileass::DesktopEntryText(fileass::SongDocumentClass(path)));
    EXPECT_TRUE(LinkTarget(link + "-missing").isEmpty());

    // Without a program the open command key gets no value.
    fileass::ClassStore store(
        QFile::encodeName(tmp.filePath(QStringLiteral("classes.reg"))).toStdString());
    fileass::RegisterInStore(store, QString());
    EXPECT_FALSE(store.value(fileass::kOpenCommandKey, ""));
    EXPECT_TRUE(store.value(".zmbl", ""));
}

}  // namespace
}  // namespace zb::location
