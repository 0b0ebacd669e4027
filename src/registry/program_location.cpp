#include "registry/program_location.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <vector>

#include "names/file_names.h"

namespace zb::location {

QString LinkTarget(const QByteArray& linkPath) {
    // The length of a link's target is not known before reading it: grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink(linkPath.constData(), buffer.data(), buffer.size());
        if (n < 0)
            return QString();
        if (static_cast<size_t>(n) < buffer.size())
            return names::fromBytes(QByteArray(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

QString ExecutablePath() {
    return LinkTarget(QByteArrayLiteral("/proc/self/exe"));
}

QString PartFolder(const QString& executableDir, const QString& installedFromBin,
                   const QString& partFileName) {
    const QDir own(executableDir);
    if (QFileInfo::exists(own.filePath(partFileName)))
        return executableDir;
    const QString installed = QDir::cleanPath(own.filePath(installedFromBin));
    if (QFileInfo::exists(QDir(installed).filePath(partFileName)))
        return installed;
    return executableDir;
}

QString DataFolder(const QString& executableDir) {
    return PartFolder(executableDir, QStringLiteral(ZEMBROLA_DATA_FROM_BIN),
                      QStringLiteral("kit-1-kick.wav"));
}

QString ModuleFolder(const QString& executableDir) {
    return PartFolder(executableDir, QStringLiteral(ZEMBROLA_MODULE_FROM_BIN),
                      QStringLiteral(ZEMBROLA_BROWSER_MODULE));
}

}  // namespace zb::location
