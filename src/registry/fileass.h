// Registration of the song document type (.zmbl) at every start.
//
// The class root is the file store of class_store.h, kept as `classes.reg` in the data
// folder. From the same document class the desktop learns about the type: a MIME package
// and a desktop entry in the XDG data home (the data folder's parent), so file managers
// offer the program for .zmbl files; where an installed desktop entry already starts this
// executable (a package), that entry serves and no per-user files are written.
//
// Text becomes registry bytes through Qt's 8-bit file-name encoding (UTF-8 on Linux), so a
// path is stored with the bytes the file system has for it. A string value (REG_SZ) is
// those bytes plus one NUL, and its length counts the NUL.
//
// Threads: UI thread, once during start-up.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "registry/class_store.h"

namespace zb::fileass {

inline constexpr const char* kSongExtension = ".zmbl";
inline constexpr const char* kSongClass = "Zembrola.Document";
inline constexpr const char* kSongClassDescription = "Zembrola Document";
inline constexpr const char* kOpenCommandKey = "Zembrola.Document\\shell\\open\\command";
inline constexpr const char* kStoreFileName = "classes.reg";

// Writes the three class keys and their default values, then the desktop integration.
// Never fails: every error is swallowed so start-up goes on.
void RegisterSongDocumentType(const QString& dataDir, const QString& executablePath);

// Creates (or opens) the key and closes it again. Results are not examined.
void CreateClassKey(ClassStore& store, const QString& keyPath, Hkey root);
// Opens the key under the class root, writes the value, closes the key. When the key
// cannot be opened nothing is written.
void SetClassKeyValue(ClassStore& store, const QString& keyPath, const QString& valueName,
                      const QString& data, uint32_t type);

// The six steps against a store; RegisterSongDocumentType runs them on the data folder's.
void RegisterInStore(ClassStore& store, const QString& executablePath);

// The 8-bit form of registry text, and the bytes of a REG_SZ value (text, then one NUL).
std::string ToRegistryBytes(const QString& text);
std::string EncodeRegSz(const QString& text);

// The executable, a blank, and the file argument placeholder; the path is not quoted.
QString OpenCommand(const QString& executablePath);

QString StorePathFor(const QString& dataDir);

}  // namespace zb::fileass
