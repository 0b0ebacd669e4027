// Opens the web page window. The window itself lives in a module that is loaded on the
// first click, so the web engine costs nothing until the user asks for the page.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace zb {

class Form1;

class BrowserLauncher : public QObject {
    Q_OBJECT
public:
    explicit BrowserLauncher(Form1& form);
    ~BrowserLauncher() override;

    // Loads the window if it is not loaded, then shows it (non-modal).
    void Command3_Click();
    // The web page window while it is loaded, else null.
    QWidget* window() const { return window_; }
    // Unloads the window if it is loaded.
    void unload();

    // Tests point the window at a page of their own; empty means the maker's page.
    void setStartAddressOverride(const QString& address) { startOverride_ = address; }
    // Why the last attempt to load the window failed; empty after a success.
    const QString& lastError() const { return lastError_; }

private:
    QWidget* loadWindow();

    Form1& form_;
    QPointer<QWidget> window_;
    QString startOverride_;
    QString lastError_;
};

}  // namespace zb
