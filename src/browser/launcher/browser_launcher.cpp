// Placeholder until the web page window lands.
#include "browser/launcher/browser_launcher.h"

#include "shell/form1.h"

namespace zb {
BrowserLauncher::BrowserLauncher(Form1& form) : form_(form) {}
void BrowserLauncher::Command3_Click() {}
void BrowserLauncher::unload() {
    if (window_) window_->close();
}
}  // namespace zb
