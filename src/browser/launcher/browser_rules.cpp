#include "browser/launcher/browser_rules.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace zb::browser {

TwipSize webViewSize(TwipSize client) {
    return {std::max(0, client.width - kViewMargin), std::max(0, client.height - kViewMargin)};
}

int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

int pixelsToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

QStringList browserModuleCandidates(const QString& programDir, const QString& applicationDir,
                                    const QString& moduleFileName) {
    QStringList paths;
    for (const QString& dir : {programDir, applicationDir}) {
        if (dir.isEmpty())
            continue;
        const QString path = QDir::cleanPath(QDir(dir).filePath(moduleFileName));
        if (!paths.contains(path))
            paths.append(path);
    }
    return paths;
}

QList<EnvSetting> webEngineEnvironment(bool runningAsRoot, bool sandboxVariableSet) {
    QList<EnvSetting> settings;
    if (runningAsRoot && !sandboxVariableSet)
        settings.append({QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1")});
    return settings;
}

}  // namespace zb::browser
