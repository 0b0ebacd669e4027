#include "registry/fileass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "registry/desktop_integration.h"

namespace zb::fileass {
namespace {

std::string Sz(const char* text) {
    return std::string(text) + '\0';
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A start in a temporary XDG data home. PATH points at an empty folder so that no
// database tool runs against the temporary folder.
class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(home.filePath(QStringLiteral("no-tools"))));
        xdg = home.filePath(QStringLiteral("share"));
        dataDir = xdg + QStringLiteral("/zembrola");
    }
    void TearDown() override { qputenv("PATH", savedPath); }

    std::string storeFile() const { return ToRegistryBytes(StorePathFor(dataDir)); }

    QTemporaryDir home;
    QByteArray savedPath;
    QString xdg;
    QString dataDir;
};

TEST_F(RegisterTest, WritesTheThreeEntriesAsEightBitTextWithOneNul) {
    const QString exe = QStringLiteral("/opt/Zem Brola/bin/zembrola");
    RegisterSongDocumentType(dataDir, exe);

    ClassStore store(storeFile());
    struct Expected {
        const char* key;
        std::string data;
    };
    const Expected expected[] = {
        {".zmbl", Sz("Zembrola.Document")},
        {"Zembrola.Document", Sz("Zembrola Document")},
        {"Zembrola.Document\\shell\\open\\command", Sz("/opt/Zem Brola/bin/zembrola %1")},
    };
    for (const auto& e : expected) {
        auto v = store.value(e.key, "");
        ASSERT_TRUE(v.has_value()) << e.key;
        EXPECT_EQ(v->name, "");
        EXPECT_EQ(v->type, kRegSz);
        EXPECT_EQ(v->data, e.data) << e.key;  // the length counts the NUL
    }
    std::vector<std::string> keys;
    for (const auto& k : store.content().keys) keys.push_back(k.path);
    EXPECT_EQ(keys,
              (std::vector<std::string>{".zmbl", "Zembrola.Document", "Zembrola.Document\\shell",
                                        "Zembrola.Document\\shell\\open",
                                        "Zembrola.Document\\shell\\open\\command"}));
}

TEST_F(RegisterTest, StepsRunInOrderAndEveryHandleIsClosedWithinItsCall) {
    ASSERT_TRUE(QDir().mkpath(dataDir));
    ClassStore store(storeFile());
    std::vector<std::string> journal;
    store.setJournal(&journal);
    RegisterInStore(store, QStringLiteral("/usr/lib/zembrola/zembrola"));
    const std::vector<std::string> expected = {
        "create .zmbl -> 0",
        "close .zmbl -> 0",
        "open .zmbl -> 0",
        "set .zmbl  -> 0",
        "close .zmbl -> 0",
        "create Zembrola.Document\\shell\\open\\command -> 0",
        "close Zembrola.Document\\shell\\open\\command -> 0",
        "open Zembrola.Document -> 0",
        "set Zembrola.Document  -> 0",
        "close Zembrola.Document -> 0",
        "open Zembrola.Document\\shell\\open\\command -> 0",
        "set Zembrola.Document\\shell\\open\\command  -> 0",
        "close Zembrola.Document\\shell\\open\\command -> 0",
    };
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(store.openHandles(), 0u);
}

TEST_F(RegisterTest, NonAsciiPathsKeepTheirFileSystemBytes) {
    RegisterSongDocumentType(dataDir, QStringLiteral("/home/j\u00f6rg/\u00e9t\u00e9/zembrola"));
    ClassStore store(storeFile());
    auto v = store.value("Zembrola.Document\\shell\\open\\command", "");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->data, Sz("/home/j\xc3\xb6rg/\xc3\xa9t\xc3\xa9/zembrola %1"));
    EXPECT_EQ(v->data.size(), 30u);  // bytes, not characters, plus the NUL
}

TEST_F(RegisterTest, ValuesChangedBySomeoneElseAreOverwrittenAtTheNextStart) {
    const QString exe = QStringLiteral("/usr/lib/zembrola/zembrola");
    RegisterSongDocumentType(dataDir, exe);
    {
        // Someone points the type elsewhere and edits the desktop files.
        ClassStore store(storeFile());
        for (const char* key : {".zmbl", "Zembrola.Document\\shell\\open\\command"}) {
            Hkey h = 0;
            ASSERT_EQ(store.RegOpenKeyExA(kClassesRoot, key, 0, kKeyAllSpecific, &h),
                      kErrorSuccess);
            const std::string other = Sz("Other.Program");
            store.RegSetValueExA(h, "", 0, 7, reinterpret_cast<const uint8_t*>(other.data()),
                                 static_cast<uint32_t>(other.size()));
            store.RegCloseKey(h);
        }
    }
    const QString desktop = xdg + QStringLiteral("/applications/zembrola.desktop");
    const QString mime = xdg + QStringLiteral("/mime/packages/zembrola.xml");
    const QByteArray desktopBefore = ReadAll(desktop);
    const QByteArray mimeBefore = ReadAll(mime);
    WriteAll(desktop, "[Desktop Entry]\nExec=other %f\n");
    WriteAll(mime, "<mime-info/>");

    RegisterSongDocumentType(dataDir, exe);
    ClassStore store(storeFile());
    EXPECT_EQ(store.value(".zmbl", "")->data, Sz("Zembrola.Document"));
    EXPECT_EQ(store.value(".zmbl", "")->type, kRegSz);
    EXPECT_EQ(store.value("Zembrola.Document\\shell\\open\\command", "")->data,
              Sz("/usr/lib/zembrola/zembrola %1"));
    EXPECT_EQ(ReadAll(desktop), desktopBefore);
    EXPECT_EQ(ReadAll(mime), mimeBefore);
}

TEST_F(RegisterTest, AStartWithEverythingInPlaceRewritesNothing) {
    const QString exe = QStringLiteral("/usr/lib/zembrola/zembrola");
    RegisterSongDocumentType(dataDir, exe);
    struct stat before {};
    ASSERT_EQ(stat(storeFile().c_str(), &before), 0);
    RegisterSongDocumentType(dataDir, exe);
    struct stat after {};
    ASSERT_EQ(stat(storeFile().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // every write replaces the file
}

TEST_F(RegisterTest, ADamagedStoreIsRewritten) {
    ASSERT_TRUE(QDir().mkpath(dataDir));
    WriteAll(StorePathFor(dataDir), QByteArray("\x00\x01garbage", 9));
    RegisterSongDocumentType(dataDir, QStringLiteral("/x/zembrola"));
    ClassStore store(storeFile());
    EXPECT_EQ(store.content().keys.size(), 5u);
}

TEST_F(RegisterTest, WritesTheMimePackageAndTheDesktopEntry) {
    RegisterSongDocumentType(dataDir, QStringLiteral("/opt/My Apps/zembrola"));
    EXPECT_EQ(ReadAll(xdg + QStringLiteral("/mime/packages/zembrola.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-zembrola\">\n"
              "    <comment>Zembrola Document</comment>\n"
              "    <glob pattern=\"*.zmbl\"/>\n"
              "  </mime-type>\n"
              "</mime-info>\n");
    const QString entry =
        QString::fromUtf8(ReadAll(xdg + QStringLiteral("/applications/zembrola.desktop")));
    const QStringList lines = entry.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.first(), QStringLiteral("[Desktop Entry]"));
    for (const char* line :
         {"Type=Application", "Name=Zembrola", "MimeType=application/x-zembrola;",
          "Exec=\"/opt/My Apps/zembrola\" %f", "TryExec=/opt/My Apps/zembrola"}) {
        EXPECT_TRUE(lines.contains(QString::fromLatin1(line))) << line << "\n"
                                                               << entry.toStdString();
    }
}

TEST_F(RegisterTest, WithoutWriteAccessEveryStepFailsSilently) {
    // The data folder lies below a regular file, so no step can create or write anything
    // there, even when the tests run as root (for whom a folder's mode bits mean nothing).
    const QString blocker = home.filePath(QStringLiteral("blocker"));
    WriteAll(blocker, "a file, not a folder");
    const QString blockedData = blocker + QStringLiteral("/share/zembrola");

    RegisterSongDocumentType(blockedData, QStringLiteral("/usr/lib/zembrola/zembrola"));

    EXPECT_EQ(ReadAll(blocker), "a file, not a folder");
    EXPECT_FALSE(QFileInfo::exists(blockedData));
    ClassStore store(ToRegistryBytes(StorePathFor(blockedData)));
    std::vector<std::string> journal;
    store.setJournal(&journal);
    RegisterInStore(store, QStringLiteral("/usr/lib/zembrola/zembrola"));
    EXPECT_TRUE(store.content().keys.empty());
    // Every step still ran; no value was written because no key could be opened.
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& l) { return l.rfind("set", 0) == 0; }),
              0);
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& l) { return l.rfind("open", 0) == 0; }),
              3);
}

TEST_F(RegisterTest, AReadOnlyDataFolderLeavesItUnchanged) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes through mode 0555; the regular-file case covers this";
    }
    ASSERT_TRUE(QDir().mkpath(dataDir));
    ASSERT_TRUE(QFile::setPermissions(dataDir, QFile::ReadOwner | QFile::ExeOwner));
    RegisterSongDocumentType(dataDir, QStringLiteral("/usr/lib/zembrola/zembrola"));
    EXPECT_TRUE(QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    QFile::setPermissions(dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(RegisterTest, TheMimeDatabaseToolAcceptsThePackage) {
    const QString tool =
        QStandardPaths::findExecutable(QStringLiteral("update-mime-database"),
                                       QString::fromLocal8Bit(savedPath).split(QLatin1Char(':')));
    if (tool.isEmpty())
        GTEST_SKIP() << "update-mime-database is not installed";
    RegisterSongDocumentType(dataDir, QStringLiteral("/usr/lib/zembrola/zembrola"));
    QProcess p;
    p.start(tool, {xdg + QStringLiteral("/mime")});
    ASSERT_TRUE(p.waitForFinished(-1));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString globs = QString::fromUtf8(ReadAll(xdg + QStringLiteral("/mime/globs2")));
    EXPECT_TRUE(globs.contains(QStringLiteral(":application/x-zembrola:*.zmbl")))
        << globs.toStdString();
    EXPECT_TRUE(QFileInfo::exists(xdg + QStringLiteral("/mime/application/x-zembrola.xml")));
}

// A packaged program brings its own entry; a per-user one would only hide it.
TEST_F(RegisterTest, AnInstalledEntryForThisProgramReplacesThePerUserFiles) {
    const QString prefix = home.filePath(QStringLiteral("My Prefix"));
    const QString exe = prefix + QStringLiteral("/bin/zembrola");
    const QString other = home.filePath(QStringLiteral("other-zembrola"));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/share/applications")));
    WriteAll(exe, "#!/bin/sh\n");
    WriteAll(other, "#!/bin/sh\n");
    WriteAll(prefix + QStringLiteral("/share/applications/zembrola.desktop"),
             "[Desktop Entry]\nType=Application\nName=Zembrola\n"
             "Exec=\"" +
                 QFile::encodeName(exe) + "\" %f\n");
    const QString userEntry = xdg + QStringLiteral("/applications/zembrola.desktop");
    const QString userMime = xdg + QStringLiteral("/mime/packages/zembrola.xml");
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(prefix + QStringLiteral("/share")));

    // A deleted build's entry goes, and so does the MIME package it wrote.
    RegisterSongDocumentType(dataDir, QStringLiteral("/gone/build/zembrola"));
    ASSERT_TRUE(QFileInfo::exists(userEntry));
    RegisterSongDocumentType(dataDir, exe);
    EXPECT_FALSE(QFileInfo::exists(userEntry));
    EXPECT_FALSE(QFileInfo::exists(userMime));
    // The class entries are written all the same.
    ClassStore store(storeFile());
    EXPECT_EQ(store.value("Zembrola.Document\\shell\\open\\command", "")->data,
              EncodeRegSz(exe + QStringLiteral(" %1")));
    // Another program that still exists keeps its claim.
    RegisterSongDocumentType(dataDir, other);
    RegisterSongDocumentType(dataDir, exe);
    EXPECT_EQ(EntryProgram(QString::fromUtf8(ReadAll(userEntry)), {}), other);
    // An installed entry of another program does not serve this one.
    RegisterSongDocumentType(dataDir, exe + QStringLiteral("-copy"));
    EXPECT_EQ(EntryProgram(QString::fromUtf8(ReadAll(userEntry)), {}),
              exe + QStringLiteral("-copy"));
    qputenv("XDG_DATA_DIRS", savedDirs);
}

TEST(EntryProgram, TryExecElseTheFirstArgumentOfExec) {
    auto onPath = [](const QString& name) { return QStringLiteral("/usr/bin/") + name; };
    EXPECT_EQ(EntryProgram("[Desktop Entry]\nExec=zembrola %f\n", onPath), "/usr/bin/zembrola");
    EXPECT_EQ(EntryProgram("[Desktop Entry]\nExec=\"/a b/z\\\\\\\\x\" %f\n", onPath), "/a b/z\\x");
    EXPECT_EQ(EntryProgram("[Desktop Entry]\nTryExec=/t/z\nExec=z %f\n", onPath), "/t/z");
    EXPECT_EQ(EntryProgram("[Other]\nExec=/o/z\n", onPath), "");
}

TEST(XdgDataHome, IsTheParentOfTheDataFolder) {
    EXPECT_EQ(XdgDataHomeOf(QStringLiteral("/home/u/.local/share/zembrola")),
              QStringLiteral("/home/u/.local/share"));
    EXPECT_EQ(XdgDataHomeOf(QStringLiteral("/home/u/.local/share/zembrola/")),
              QStringLiteral("/home/u/.local/share"));
    EXPECT_EQ(XdgDataHomeOf(QStringLiteral("/x//y/../share/zembrola")), QStringLiteral("/x/share"));
}

TEST(RefreshCommands, RunOnlyTheToolsThatAreInstalledAndNeeded) {
    auto both = [](const QString& name) { return QStringLiteral("/usr/bin/") + name; };
    auto none = [](const QString&) { return QString(); };
    auto mimeOnly = [](const QString& name) {
        return name == QStringLiteral("update-mime-database") ? QStringLiteral("/bin/umd")
                                                              : QString();
    };
    const QString home = QStringLiteral("/h/My Share");
    const QStringList mime = {QStringLiteral("/usr/bin/update-mime-database"),
                              QStringLiteral("/h/My Share/mime")};
    const QStringList desk = {QStringLiteral("/usr/bin/update-desktop-database"),
                              QStringLiteral("/h/My Share/applications")};
    EXPECT_EQ(RefreshCommands(home, true, true, both), (QList<QStringList>{mime, desk}));
    EXPECT_EQ(RefreshCommands(home, false, true, both), (QList<QStringList>{desk}));
    EXPECT_EQ(RefreshCommands(home, true, false, both), (QList<QStringList>{mime}));
    EXPECT_TRUE(RefreshCommands(home, false, false, both).isEmpty());
    EXPECT_TRUE(RefreshCommands(home, true, true, none).isEmpty());
    EXPECT_EQ(
        RefreshCommands(home, true, true, mimeOnly),
        (QList<QStringList>{{QStringLiteral("/bin/umd"), QStringLiteral("/h/My Share/mime")}}));
}

// Stand-in tools that do nothing, so the decision about what to refresh can be followed.
class IntegrationRefreshTest : public RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        const QString bin = home.filePath(QStringLiteral("bin"));
        ASSERT_TRUE(QDir().mkpath(bin));
        for (const char* tool : {"update-mime-database", "update-desktop-database"}) {
            const QString p = bin + QLatin1Char('/') + QLatin1String(tool);
            WriteAll(p, "#!/bin/sh\nexit 0\n");
            QFile::setPermissions(p, QFile::ReadOwner | QFile::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(bin));
        // The test command keeps real refreshes out of test runs; these tools are stand-ins.
        savedNoRefresh = qgetenv("ZEMBROLA_NO_DESKTOP_REFRESH");
        qunsetenv("ZEMBROLA_NO_DESKTOP_REFRESH");
    }
    void TearDown() override {
        if (!savedNoRefresh.isEmpty())
            qputenv("ZEMBROLA_NO_DESKTOP_REFRESH", savedNoRefresh);
        RegisterTest::TearDown();
    }
    QByteArray savedNoRefresh;
    QStringList toolsRun(const QList<QStringList>& commands) {
        QStringList names;
        for (const auto& c : commands) names << QFileInfo(c.front()).fileName();
        return names;
    }
    const DocumentClass cls = SongDocumentClass(QStringLiteral("/usr/lib/zembrola/zembrola"));
};

TEST_F(IntegrationRefreshTest, RefreshesWhenSomethingChangedOrACacheIsMissing) {
    const QStringList both = {QStringLiteral("update-mime-database"),
                              QStringLiteral("update-desktop-database")};
    EXPECT_EQ(toolsRun(IntegrateWithDesktop(xdg, cls)), both);
    // Nothing changed, but the caches are still missing.
    EXPECT_EQ(toolsRun(IntegrateWithDesktop(xdg, cls)), both);
    // Up-to-date caches: nothing to do.
    WriteAll(xdg + QStringLiteral("/mime/mime.cache"), "cache");
    WriteAll(xdg + QStringLiteral("/applications/mimeinfo.cache"), "cache");
    EXPECT_TRUE(IntegrateWithDesktop(xdg, cls).isEmpty());
    // Someone edits the desktop entry: it is rewritten and only its database refreshed.
    WriteAll(xdg + QStringLiteral("/applications/zembrola.desktop"), "edited");
    EXPECT_EQ(toolsRun(IntegrateWithDesktop(xdg, cls)),
              QStringList{QStringLiteral("update-desktop-database")});
}

TEST_F(IntegrationRefreshTest, AProgramPathADesktopEntryCannotCarryLeavesTheEntryAlone) {
    const DocumentClass odd = SongDocumentClass(QStringLiteral("/tmp/new\nline/zembrola"));
    EXPECT_EQ(toolsRun(IntegrateWithDesktop(xdg, odd)),
              QStringList{QStringLiteral("update-mime-database")});
    EXPECT_FALSE(QFileInfo::exists(xdg + QStringLiteral("/applications/zembrola.desktop")));
    // The registry value itself keeps the path as it is.
    ASSERT_TRUE(QDir().mkpath(dataDir));
    ClassStore store(storeFile());
    RegisterInStore(store, QStringLiteral("/tmp/new\nline/zembrola"));
    EXPECT_EQ(store.value("Zembrola.Document\\shell\\open\\command", "")->data,
              Sz("/tmp/new\nline/zembrola %1"));
}

}  // namespace
}  // namespace zb::fileass
