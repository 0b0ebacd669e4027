#include "registry/class_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

namespace zb::fileass {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class ClassStoreTest : public ::testing::Test {
protected:
    std::string path() const { return dir.filePath("classes.reg").toStdString(); }

    Hkey create(ClassStore& store, const std::string& key, int32_t* code = nullptr) {
        Hkey h = 0;
        uint32_t disposition = 0;
        int32_t rc = store.RegCreateKeyExA(kClassesRoot, key, 0, nullptr, 0, kKeyAllSpecific,
                                           nullptr, &h, &disposition);
        if (code)
            *code = rc;
        return h;
    }
    int32_t set(ClassStore& store, Hkey key, const std::string& name, const std::string& data) {
        return store.RegSetValueExA(key, name, 0, kRegSz,
                                    reinterpret_cast<const uint8_t*>(data.data()),
                                    static_cast<uint32_t>(data.size()));
    }

    QTemporaryDir dir;
};

TEST(ClassStoreFormat, AnyBytesRoundTrip) {
    const std::string awkward[] = {
        std::string(),
        std::string("plain"),
        std::string("line\nbreak\r\n"),
        std::string("quote\" and %41 percent"),
        std::string("nul\0inside\0", 11),
        std::string("\xff\xfe non-UTF-8 \x80"),
        std::string("blank  and\ttab"),
        std::string("end\nvalue \"x\" 1 \"y\"\nend"),
    };
    for (const auto& bytes : awkward) {
        StoreContent content;
        content.keys.push_back(
            {"Top", {{"", kRegSz, bytes}, {bytes.empty() ? "n" : bytes, 7, "x"}}});
        content.keys.push_back({"Top\\Child", {}});
        std::string text = SerializeStore(content);
        // One record per line, however the bytes look.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
        auto parsed = ParseStore(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, content);
    }
}

TEST(ClassStoreFormat, TheFileReadsAsDocumented) {
    StoreContent content;
    content.keys.push_back({".zmbl", {{"", kRegSz, std::string("Zembrola.Document\0", 18)}}});
    EXPECT_EQ(SerializeStore(content),
              "zembrola-classes 1\n"
              "key \".zmbl\"\n"
              "value \"\" 1 \"Zembrola.Document%00\"\n"
              "end\n");
}

TEST(ClassStoreFormat, DamagedFilesAreRejected) {
    const char* damaged[] = {
        "",
        "zembrola-classes 1\n",                                               // no trailer
        "zembrola-classes 1\nkey \"a\"\n",                                    // cut short
        "zembrola-classes 1\nkey \"a\"\nend",                                 // last line unended
        "zembrola-classes 2\nend\n",                                          // unknown version
        "zembrola-classes 1\nvalue \"\" 1 \"x\"\nend\n",                      // value without key
        "zembrola-classes 1\nkey \"a\\b\"\nend\n",                            // child before parent
        "zembrola-classes 1\nkey \"a\"\nkey \"A\"\nend\n",                    // same key twice
        "zembrola-classes 1\nkey \"a\\\\b\"\nend\n",                          // empty component
        "zembrola-classes 1\nkey \"a b\"\nend\n",                             // raw blank
        "zembrola-classes 1\nkey \"a%4\"\nend\n",                             // short escape
        "zembrola-classes 1\nkey \"a%G0\"\nend\n",                            // bad escape
        "zembrola-classes 1\nkey \"a\"\nvalue \"\" x \"y\"\nend\n",           // bad type
        "zembrola-classes 1\nkey \"a\"\nvalue \"\" 4294967296 \"y\"\nend\n",  // type too big
        "zembrola-classes 1\nkey \"a\" junk\nend\n",                          // trailing text
        "zembrola-classes 1\nfrobnicate\nend\n",                              // unknown record
    };
    for (const char* text : damaged) EXPECT_FALSE(ParseStore(text).has_value()) << text;
    EXPECT_TRUE(ParseStore("zembrola-classes 1\nend\n").has_value());
}

TEST(ClassStoreFormat, KeyPathsSplitAtBackslash) {
    EXPECT_EQ(SplitKeyPath("a\\b\\c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(SplitKeyPath("").has_value());
    EXPECT_FALSE(SplitKeyPath("\\a").has_value());
    EXPECT_FALSE(SplitKeyPath("a\\").has_value());
    EXPECT_FALSE(SplitKeyPath("a\\\\b").has_value());
    EXPECT_TRUE(SplitKeyPath(std::string(255, 'k')).has_value());
    EXPECT_FALSE(SplitKeyPath(std::string(256, 'k')).has_value());
}

TEST_F(ClassStoreTest, CreatingANestedPathCreatesEveryMissingKeyParentsFirst) {
    ClassStore store(path());
    int32_t rc = -1;
    Hkey h = create(store, "A\\B\\C", &rc);
    EXPECT_EQ(rc, kErrorSuccess);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(store.RegCloseKey(h), kErrorSuccess);

    ClassStore reread(path());
    std::vector<std::string> keys;
    for (const auto& k : reread.content().keys) keys.push_back(k.path);
    EXPECT_EQ(keys, (std::vector<std::string>{"A", "A\\B", "A\\B\\C"}));
}

TEST_F(ClassStoreTest, CreateReportsWhetherTheKeyWasNew) {
    ClassStore store(path());
    uint32_t disposition = 0;
    Hkey h = 0;
    ASSERT_EQ(store.RegCreateKeyExA(kClassesRoot, "Key", 0, nullptr, 0, kKeyAllSpecific, nullptr,
                                    &h, &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegCreatedNewKey);
    store.RegCloseKey(h);
    // Names compare without regard to case and keep their first spelling.
    ASSERT_EQ(store.RegCreateKeyExA(kClassesRoot, "KEY\\sub", 0, nullptr, 0, kKeyAllSpecific,
                                    nullptr, &h, &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegCreatedNewKey);
    store.RegCloseKey(h);
    ASSERT_EQ(store.RegCreateKeyExA(kClassesRoot, "key", 0, nullptr, 0, kKeyAllSpecific, nullptr,
                                    &h, &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    store.RegCloseKey(h);
    ASSERT_EQ(store.content().keys.size(), 2u);
    EXPECT_EQ(store.content().keys[1].path, "Key\\sub");
    EXPECT_EQ(store.openHandles(), 0u);
}

TEST_F(ClassStoreTest, OpeningAMissingKeyFailsAndWritesNothing) {
    ClassStore store(path());
    std::vector<std::string> journal;
    store.setJournal(&journal);
    Hkey h = 123;
    EXPECT_EQ(store.RegOpenKeyExA(kClassesRoot, "Missing", 0, kKeyAllSpecific, &h),
              kErrorFileNotFound);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(set(store, h, "", std::string("x\0", 2)), kErrorInvalidHandle);
    EXPECT_TRUE(store.content().keys.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path())));
    EXPECT_EQ(journal, (std::vector<std::string>{"open Missing -> 2", "set ?  -> 6"}));
}

TEST_F(ClassStoreTest, ValuesPersistAndAreOverwritten) {
    {
        ClassStore store(path());
        Hkey h = create(store, "K");
        EXPECT_EQ(set(store, h, "", std::string("first\0", 6)), kErrorSuccess);
        EXPECT_EQ(set(store, h, "Other", "\n\"\xff"), kErrorSuccess);
        EXPECT_EQ(set(store, h, "", std::string("second\0", 7)), kErrorSuccess);
        store.RegCloseKey(h);
    }
    ClassStore reread(path());
    ASSERT_TRUE(reread.value("k", "").has_value());
    EXPECT_EQ(reread.value("k", "")->data, std::string("second\0", 7));
    EXPECT_EQ(reread.value("K", "other")->data, "\n\"\xff");
    EXPECT_EQ(reread.content().keys[0].values.size(), 2u);
}

TEST_F(ClassStoreTest, ArgumentsAreCheckedAsARegistryWould) {
    ClassStore store(path());
    Hkey h = 0;
    struct Case {
        const char* what;
        int32_t code;
        int32_t expected;
    };
    const Case cases[] = {
        {"unknown root",
         store.RegCreateKeyExA(0x80000001u, "K", 0, nullptr, 0, kKeyAllSpecific, nullptr, &h,
                               nullptr),
         kErrorInvalidHandle},
        {"reserved not zero",
         store.RegCreateKeyExA(kClassesRoot, "K", 1, nullptr, 0, kKeyAllSpecific, nullptr, &h,
                               nullptr),
         kErrorInvalidParameter},
        {"volatile key",
         store.RegCreateKeyExA(kClassesRoot, "K", 0, nullptr, 1, kKeyAllSpecific, nullptr, &h,
                               nullptr),
         kErrorInvalidParameter},
        {"empty path",
         store.RegCreateKeyExA(kClassesRoot, "", 0, nullptr, 0, kKeyAllSpecific, nullptr, &h,
                               nullptr),
         kErrorInvalidParameter},
        {"no result",
         store.RegCreateKeyExA(kClassesRoot, "K", 0, nullptr, 0, kKeyAllSpecific, nullptr, nullptr,
                               nullptr),
         kErrorInvalidParameter},
        {"open with options", store.RegOpenKeyExA(kClassesRoot, "K", 1, kKeyAllSpecific, &h),
         kErrorInvalidParameter},
        {"close unknown", store.RegCloseKey(999), kErrorInvalidHandle},
    };
    for (const auto& c : cases) EXPECT_EQ(c.code, c.expected) << c.what;
    EXPECT_TRUE(store.content().keys.empty());
}

TEST_F(ClassStoreTest, ADamagedFileReadsEmptyAndIsReplaced) {
    WriteFile(path(), "zembrola-classes 1\nkey \"K\"\n");  // cut off mid-write
    ClassStore store(path());
    EXPECT_TRUE(store.content().keys.empty());
    store.RegCloseKey(create(store, "New"));
    EXPECT_EQ(ReadFile(path()), "zembrola-classes 1\nkey \"New\"\nend\n");
}

TEST_F(ClassStoreTest, AFailedWriteChangesNothing) {
    // A regular file where the folder should be: nothing below it can be written, even
    // for root (a folder's mode bits do not stop root).
    const std::string blocker = dir.filePath("blocker").toStdString();
    WriteFile(blocker, "not a folder");
    ClassStore store(blocker + "/classes.reg");
    std::vector<std::string> journal;
    store.setJournal(&journal);
    int32_t rc = 0;
    Hkey h = create(store, "K", &rc);
    EXPECT_EQ(rc, kErrorWriteFault);
    EXPECT_EQ(h, 0u);
    EXPECT_TRUE(store.content().keys.empty());
    EXPECT_EQ(store.RegOpenKeyExA(kClassesRoot, "K", 0, kKeyAllSpecific, &h), kErrorFileNotFound);
    EXPECT_EQ(ReadFile(blocker), "not a folder");
    EXPECT_EQ(store.openHandles(), 0u);
}

TEST_F(ClassStoreTest, WritesLeaveNoTemporaryFilesBehind) {
    ClassStore store(path());
    Hkey h = create(store, "K\\L");
    set(store, h, "", "v");
    store.RegCloseKey(h);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("classes.reg")});
    struct stat st {};
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace zb::fileass
