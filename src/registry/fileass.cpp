#include "registry/fileass.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "names/file_names.h"
#include "registry/desktop_integration.h"

namespace zb::fileass {

namespace {
// Every right on the key itself: query, set, create subkey, enumerate, notify, link.
constexpr uint32_t kAccessMask = 0x3F;
}  // namespace

std::string ToRegistryBytes(const QString& text) {
    return names::toBytes(text).toStdString();
}

std::string EncodeRegSz(const QString& text) {
    std::string bytes = ToRegistryBytes(text);
    bytes.push_back('\0');
    return bytes;
}

QString OpenCommand(const QString& executablePath) {
    return executablePath + QStringLiteral(" %1");
}

QString StorePathFor(const QString& dataDir) {
    return dataDir + QLatin1Char('/') + QLatin1String(kStoreFileName);
}

void CreateClassKey(ClassStore& store, const QString& keyPath, Hkey root) {
    Hkey key = 0;
    uint32_t disposition = 0;
    store.RegCreateKeyExA(root, ToRegistryBytes(keyPath), 0, nullptr, kRegOptionNonVolatile,
                          kAccessMask, nullptr, &key, &disposition);
    store.RegCloseKey(key);
}

void SetClassKeyValue(ClassStore& store, const QString& keyPath, const QString& valueName,
                      const QString& data, uint32_t type) {
    Hkey key = 0;
    if (store.RegOpenKeyExA(kClassesRoot, ToRegistryBytes(keyPath), 0, kAccessMask, &key) !=
        kErrorSuccess) {
        return;
    }
    const std::string bytes = type == kRegSz ? EncodeRegSz(data) : ToRegistryBytes(data);
    store.RegSetValueExA(key, ToRegistryBytes(valueName), 0, type,
                         reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
    store.RegCloseKey(key);
}

void RegisterInStore(ClassStore& store, const QString& executablePath) {
    const QString extension = QLatin1String(kSongExtension);
    const QString cls = QLatin1String(kSongClass);
    const QString commandKey = QLatin1String(kOpenCommandKey);

    CreateClassKey(store, extension, kClassesRoot);
    SetClassKeyValue(store, extension, QString(), cls, kRegSz);
    CreateClassKey(store, commandKey, kClassesRoot);
    SetClassKeyValue(store, cls, QString(), QLatin1String(kSongClassDescription), kRegSz);
    // Without its program the command would open nothing; the key stays without a value.
    if (!executablePath.isEmpty())
        SetClassKeyValue(store, commandKey, QString(), OpenCommand(executablePath), kRegSz);
}

void RegisterSongDocumentType(const QString& dataDir, const QString& executablePath) {
    // The program works the same without any of this, so nothing here may stop start-up.
    try {
        QDir().mkpath(dataDir);
        {
            ClassStore store(ToRegistryBytes(StorePathFor(dataDir)));
            RegisterInStore(store, executablePath);
        }
        const QString xdgDataHome = XdgDataHomeOf(dataDir);
        QStringList systemDataDirs =
            QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
        systemDataDirs.removeAll(QDir::cleanPath(xdgDataHome));
        IntegrateWithDesktop(xdgDataHome, SongDocumentClass(executablePath), systemDataDirs);
    } catch (...) {
    }
}

}  // namespace zb::fileass
