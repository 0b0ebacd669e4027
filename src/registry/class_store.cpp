#include "registry/class_store.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <fstream>
#include <sstream>

namespace zb::fileass {

namespace {

constexpr const char* kMagic = "zembrola-classes 1";

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool SameName(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

std::string JoinPath(const std::vector<std::string>& components, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += '\\';
        path += components[i];
    }
    return path;
}

std::string Quote(const std::string& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c < '!' || c > '~' || c == '%' || c == '"') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads one quoted string at `pos`; advances past it.
std::optional<std::string> Unquote(const std::string& line, size_t& pos) {
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '%') {
            if (pos + 2 >= line.size())
                return std::nullopt;
            int hi = HexDigit(line[pos + 1]);
            int lo = HexDigit(line[pos + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
        } else if (c < '!' || c > '~') {
            return std::nullopt;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

bool Expect(const std::string& line, size_t& pos, char c) {
    if (pos >= line.size() || line[pos] != c)
        return false;
    ++pos;
    return true;
}

std::optional<uint32_t> ReadType(const std::string& line, size_t& pos) {
    size_t start = pos;
    uint64_t v = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        v = v * 10 + static_cast<uint64_t>(line[pos] - '0');
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
        ++pos;
    }
    if (pos == start)
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

}  // namespace

std::optional<std::vector<std::string>> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    for (const auto& p : parts) {
        if (p.empty() || p.size() > kMaxKeyNameLength)
            return std::nullopt;
    }
    return parts;
}

std::string SerializeStore(const StoreContent& content) {
    std::string out = std::string(kMagic) + "\n";
    for (const auto& key : content.keys) {
        out += "key " + Quote(key.path) + "\n";
        for (const auto& v : key.values) {
            out += "value " + Quote(v.name) + " " + std::to_string(v.type) + " " + Quote(v.data) +
                   "\n";
        }
    }
    out += "end\n";
    return out;
}

std::optional<StoreContent> ParseStore(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            return std::nullopt;  // every record ends its line
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.size() < 2 || lines.front() != kMagic || lines.back() != "end")
        return std::nullopt;

    StoreContent content;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        size_t pos = 0;
        if (line.rfind("key ", 0) == 0) {
            pos = 4;
            auto path = Unquote(line, pos);
            if (!path || pos != line.size() || !SplitKeyPath(*path))
                return std::nullopt;
            for (const auto& k : content.keys) {
                if (SameName(k.path, *path))
                    return std::nullopt;
            }
            content.keys.push_back(StoredKey{*path, {}});
        } else if (line.rfind("value ", 0) == 0) {
            if (content.keys.empty())
                return std::nullopt;
            pos = 6;
            auto name = Unquote(line, pos);
            if (!name || !Expect(line, pos, ' '))
                return std::nullopt;
            auto type = ReadType(line, pos);
            if (!type || !Expect(line, pos, ' '))
                return std::nullopt;
            auto data = Unquote(line, pos);
            if (!data || pos != line.size())
                return std::nullopt;
            auto& values = content.keys.back().values;
            for (const auto& v : values) {
                if (SameName(v.name, *name))
                    return std::nullopt;
            }
            values.push_back(StoredValue{*name, *type, *data});
        } else {
            return std::nullopt;
        }
    }
    // Parents come before their children.
    for (const auto& k : content.keys) {
        auto parts = *SplitKeyPath(k.path);
        for (size_t n = 1; n < parts.size(); ++n) {
            std::string parent = JoinPath(parts, n);
            bool found = std::any_of(content.keys.begin(), content.keys.end(),
                                     [&](const StoredKey& o) { return SameName(o.path, parent); });
            if (!found)
                return std::nullopt;
        }
    }
    return content;
}

ClassStore::ClassStore(std::string filePath) : filePath_(std::move(filePath)) {
    std::ifstream in(filePath_, std::ios::binary);
    if (!in)
        return;
    std::ostringstream text;
    text << in.rdbuf();
    if (auto parsed = ParseStore(text.str()))
        content_ = std::move(*parsed);
}

ClassStore::~ClassStore() = default;

int ClassStore::findKey(const std::vector<std::string>& components) const {
    std::string wanted = Lower(JoinPath(components, components.size()));
    for (size_t i = 0; i < content_.keys.size(); ++i) {
        if (Lower(content_.keys[i].path) == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

bool ClassStore::save(const StoreContent& candidate) {
    const std::string text = SerializeStore(candidate);
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(filePath_)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Readable by everyone, whatever the umask, as the desktop's own databases are.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
        static_cast<qint64>(text.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void ClassStore::note(const std::string& line, int32_t code) {
    if (journal_)
        journal_->push_back(line + " -> " + std::to_string(code));
}

int32_t ClassStore::RegCreateKeyExA(Hkey root, const std::string& subKey, uint32_t reserved,
                                    const char* /*className*/, uint32_t options,
                                    uint32_t /*samDesired*/, const void* /*securityAttributes*/,
                                    Hkey* result, uint32_t* disposition) {
    // The class string, the access rights and security attributes have no meaning in a file
    // store that only this program writes; they are accepted and ignored.
    auto finish = [&](int32_t code) {
        note("create " + subKey, code);
        return code;
    };
    if (result)
        *result = 0;
    if (root != kClassesRoot)
        return finish(kErrorInvalidHandle);
    if (!result || reserved != 0 || options != kRegOptionNonVolatile) {
        return finish(kErrorInvalidParameter);
    }
    auto parts = SplitKeyPath(subKey);
    if (!parts)
        return finish(kErrorInvalidParameter);

    int existing = findKey(*parts);
    uint32_t how = kRegOpenedExistingKey;
    if (existing < 0) {
        StoreContent candidate = content_;
        for (size_t n = 1; n <= parts->size(); ++n) {
            std::vector<std::string> prefix(parts->begin(), parts->begin() + n);
            std::string wanted = Lower(JoinPath(prefix, n));
            bool found = std::any_of(candidate.keys.begin(), candidate.keys.end(),
                                     [&](const StoredKey& k) { return Lower(k.path) == wanted; });
            if (!found) {
                // Keep the spelling of the parents that exist already.
                std::string spelled;
                if (n > 1) {
                    std::string parentWanted = Lower(JoinPath(prefix, n - 1));
                    for (const auto& k : candidate.keys) {
                        if (Lower(k.path) == parentWanted)
                            spelled = k.path + "\\";
                    }
                }
                candidate.keys.push_back(StoredKey{spelled + prefix.back(), {}});
            }
        }
        if (!save(candidate))
            return finish(kErrorWriteFault);
        content_ = std::move(candidate);
        existing = findKey(*parts);
        how = kRegCreatedNewKey;
    }
    Hkey h = nextHandle_++;
    handles_[h] = content_.keys[static_cast<size_t>(existing)].path;
    *result = h;
    if (disposition)
        *disposition = how;
    return finish(kErrorSuccess);
}

int32_t ClassStore::RegOpenKeyExA(Hkey root, const std::string& subKey, uint32_t options,
                                  uint32_t /*samDesired*/, Hkey* result) {
    auto finish = [&](int32_t code) {
        note("open " + subKey, code);
        return code;
    };
    if (result)
        *result = 0;
    if (root != kClassesRoot)
        return finish(kErrorInvalidHandle);
    if (!result || options != 0)
        return finish(kErrorInvalidParameter);
    auto parts = SplitKeyPath(subKey);
    if (!parts)
        return finish(kErrorInvalidParameter);
    int existing = findKey(*parts);
    if (existing < 0)
        return finish(kErrorFileNotFound);
    Hkey h = nextHandle_++;
    handles_[h] = content_.keys[static_cast<size_t>(existing)].path;
    *result = h;
    return finish(kErrorSuccess);
}

int32_t ClassStore::RegSetValueExA(Hkey key, const std::string& valueName, uint32_t reserved,
                                   uint32_t type, const uint8_t* data, uint32_t length) {
    auto it = handles_.find(key);
    std::string path = it == handles_.end() ? std::string("?") : it->second;
    auto finish = [&](int32_t code) {
        note("set " + path + " " + valueName, code);
        return code;
    };
    if (it == handles_.end())
        return finish(kErrorInvalidHandle);
    if (reserved != 0 || (length > 0 && !data))
        return finish(kErrorInvalidParameter);

    StoreContent candidate = content_;
    auto parts = *SplitKeyPath(path);
    auto& values = candidate.keys[static_cast<size_t>(findKey(parts))].values;
    std::string bytes(reinterpret_cast<const char*>(data), length);
    auto v = std::find_if(values.begin(), values.end(),
                          [&](const StoredValue& s) { return SameName(s.name, valueName); });
    if (v == values.end()) {
        values.push_back(StoredValue{valueName, type, bytes});
    } else {
        v->type = type;
        v->data = bytes;
    }
    // The same value again needs no write; every start sets the same entries.
    if (candidate == content_)
        return finish(kErrorSuccess);
    if (!save(candidate))
        return finish(kErrorWriteFault);
    content_ = std::move(candidate);
    return finish(kErrorSuccess);
}

int32_t ClassStore::RegCloseKey(Hkey key) {
    auto it = handles_.find(key);
    if (it == handles_.end()) {
        note("close ?", kErrorInvalidHandle);
        return kErrorInvalidHandle;
    }
    std::string path = it->second;
    handles_.erase(it);
    note("close " + path, kErrorSuccess);
    return kErrorSuccess;
}

std::optional<StoredValue> ClassStore::value(const std::string& keyPath,
                                             const std::string& name) const {
    auto parts = SplitKeyPath(keyPath);
    if (!parts)
        return std::nullopt;
    int k = findKey(*parts);
    if (k < 0)
        return std::nullopt;
    for (const auto& v : content_.keys[static_cast<size_t>(k)].values) {
        if (SameName(v.name, name))
            return v;
    }
    return std::nullopt;
}

}  // namespace zb::fileass
