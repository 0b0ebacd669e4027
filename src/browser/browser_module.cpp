// Entry point of the browser module: the program resolves this by name after loading the
// module, so the web engine is linked only into this library.
#include <QString>
#include <QWidget>
#include <QtGlobal>

#include "browser/frm_browser.h"

// Creates the web page window as a top-level window (it must keep the program running
// after the main window closes) and runs its load step. startOverride (UTF-8, may be null)
// replaces the start address; only tests pass one.
extern "C" Q_DECL_EXPORT QWidget* zembrola_create_browser(const char* startOverride) {
    auto* window = new zb::frmBrowser(startOverride ? QString::fromUtf8(startOverride) : QString());
    window->Form_Load();
    return window;
}
