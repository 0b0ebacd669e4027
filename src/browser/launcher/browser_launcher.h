// Opens the web page window. The window itself lives in a module that is loaded on the
// first click, so the web engine costs nothing until the user asks for the page.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace zb {

class BrowserLauncher : public QObject {
    Q_OBJECT
public:
    // Wires the button (may be null) that opens the window; programDir is the folder of the
    // running executable, where the module is looked for first.
    BrowserLauncher(QPushButton* button, QString programDir);
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

    QString programDir_;
    QPointer<QWidget> window_;
    QString startOverride_;
    QString lastError_;
};

}  // namespace zb
