// Plain rules of the web page window, shared by the window module and the launcher in the
// program: the layout in twips, the conversion to pixels, where the module is looked for
// and what the web engine needs from the environment before it starts.
//
// Threads: any (pure functions).
#pragma once

#include <QString>
#include <QStringList>

#include "core/twips.h"

namespace zb::browser {

// Design geometry of the window, in twips.
inline constexpr int kDesignClientWidth = 6540;
inline constexpr int kDesignClientHeight = 5130;
inline constexpr int kViewLeft = 45;
inline constexpr int kViewTop = 15;
inline constexpr int kAddressStripHeight = 675;
// The web view leaves this much of the client area free to its right and below.
inline constexpr int kViewMargin = 100;

struct TwipSize {
    int width = 0;
    int height = 0;
    bool operator==(const TwipSize&) const = default;
};

// Size of the web view for a client area of the given size (twips). The view keeps its
// left and top; a client area smaller than the margin (a minimized window) gives an empty
// view rather than a negative size.
TwipSize webViewSize(TwipSize client);

// Nearest whole pixel for a length in twips; halves round away from zero.
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);

// Paths at which the window module is looked for, best first, without duplicates: the
// program's own folder as the services report it, then the folder of the running
// executable (the two differ only when a caller gave a folder of its own).
QStringList browserModuleCandidates(const QString& programDir, const QString& applicationDir,
                                    const QString& moduleFileName);

// Environment the web engine needs before it is first loaded, as name/value pairs to set.
// Chromium refuses to run its sandbox as root; a value the user already set is kept.
struct EnvSetting {
    QString name;
    QString value;
    bool operator==(const EnvSetting&) const = default;
};
QList<EnvSetting> webEngineEnvironment(bool runningAsRoot, bool sandboxVariableSet);

}  // namespace zb::browser
