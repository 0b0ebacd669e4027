// The class root the song document type is registered in: a small key/value store with
// the create/open/set/close calls of a system registry, kept as one file.
//
// Model: a tree of keys under one root (the class root). Key paths are 8-bit strings whose
// components are separated by '\'; components are compared case-insensitively (ASCII) and
// keep the spelling they were created with. A key holds named values; a value has a
// 32-bit type and any bytes as data. The empty name is the key's default value.
//
// Persistence: every change that succeeds is written to the file at once through
// QSaveFile (temporary file in the same folder, then rename), so a crash leaves the old or
// the new store, never a mix. Setting a value to what it already holds changes nothing and writes
// nothing. A change whose write fails is undone in memory and reports kErrorWriteFault, so the
// store in memory never claims more than the file holds. A missing, unreadable or damaged file
// reads as an empty store; it is replaced by the next successful change.
//
// File format (text, one record per line, '\n' line ends):
//   zembrola-classes 1            header: magic and format version
//   key "<path>"                  a key; keys appear parents first, in creation order
//   value "<name>" <type> "<data>"  a value of the key above it, in creation order
//   end                           trailer; a file without it counts as damaged
// Strings are written between double quotes with every byte outside '!'..'~' and every
// '%' and '"' written as %XX (two upper-case hex digits), so any bytes round-trip,
// newlines, quotes, NULs and non-UTF-8 included, and a record never spans lines.
//
// Threads: one thread at a time. Two processes writing the same file at once each keep
// their own view; the last rename wins, which is fine for entries rewritten at each start.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zb::fileass {

using Hkey = std::uintptr_t;

// The only root this store holds.
inline constexpr Hkey kClassesRoot = 0x80000000u;

// Result codes, with the values a registry caller knows.
inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorInvalidHandle = 6;
inline constexpr int32_t kErrorWriteFault = 29;
inline constexpr int32_t kErrorInvalidParameter = 87;

// Value types.
inline constexpr uint32_t kRegSz = 1;

// Options: only non-volatile keys exist here.
inline constexpr uint32_t kRegOptionNonVolatile = 0;

// Every right on a key; a handle's rights are not enforced here.
inline constexpr uint32_t kKeyAllSpecific = 0x003F;

// What a create did.
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// Longest key path component.
inline constexpr size_t kMaxKeyNameLength = 255;

struct StoredValue {
    std::string name;
    uint32_t type = 0;
    std::string data;  // raw bytes
    bool operator==(const StoredValue&) const = default;
};

struct StoredKey {
    std::string path;  // full path from the root, as created
    std::vector<StoredValue> values;
    bool operator==(const StoredKey&) const = default;
};

// The whole content of a store, in file order. Plain data so that the file format can be
// tested without any file.
struct StoreContent {
    std::vector<StoredKey> keys;
    bool operator==(const StoreContent&) const = default;
};

std::string SerializeStore(const StoreContent& content);
// nullopt when the text is not a complete store file.
std::optional<StoreContent> ParseStore(const std::string& text);

// Splits a key path at '\'; nullopt when a component is empty or too long.
std::optional<std::vector<std::string>> SplitKeyPath(const std::string& path);

class ClassStore {
public:
    // Reads the file now; later changes write it back.
    explicit ClassStore(std::string filePath);
    ~ClassStore();
    ClassStore(const ClassStore&) = delete;
    ClassStore& operator=(const ClassStore&) = delete;

    int32_t RegCreateKeyExA(Hkey root, const std::string& subKey, uint32_t reserved,
                            const char* className, uint32_t options, uint32_t samDesired,
                            const void* securityAttributes, Hkey* result, uint32_t* disposition);
    int32_t RegOpenKeyExA(Hkey root, const std::string& subKey, uint32_t options,
                          uint32_t samDesired, Hkey* result);
    int32_t RegSetValueExA(Hkey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t length);
    int32_t RegCloseKey(Hkey key);

    // Reading back, for diagnostics and tests; the program itself never reads.
    const StoreContent& content() const { return content_; }
    std::optional<StoredValue> value(const std::string& keyPath, const std::string& name) const;
    size_t openHandles() const { return handles_.size(); }
    const std::string& filePath() const { return filePath_; }

    // When set, every call appends one line ("create <path>", "open <path>",
    // "set <path> <name>", "close <path>", followed by " -> <code>") so the order of
    // operations can be checked.
    void setJournal(std::vector<std::string>* journal) { journal_ = journal; }

private:
    int findKey(const std::vector<std::string>& components) const;
    bool save(const StoreContent& candidate);
    void note(const std::string& line, int32_t code);

    std::string filePath_;
    StoreContent content_;
    std::map<Hkey, std::string> handles_;  // open handles and their keys' paths
    Hkey nextHandle_ = 0x1000;
    std::vector<std::string>* journal_ = nullptr;
};

}  // namespace zb::fileass
