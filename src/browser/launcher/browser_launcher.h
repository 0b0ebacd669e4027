// Opens the web page window. The window itself lives in a module that is loaded on the
// first click, so the web engine costs nothing until the user asks for the page.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace zb {

class Form1;

class BrowserLauncher : public QObject {
    Q_OBJECT
public:
    explicit BrowserLauncher(Form1& form);

    void Command3_Click();
    // The web page window while it is loaded, else null.
    QWidget* window() const { return window_; }
    // Unloads the window if it is loaded.
    void unload();

private:
    Form1& form_;
    QPointer<QWidget> window_;
};

}  // namespace zb
