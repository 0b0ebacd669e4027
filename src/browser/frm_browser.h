// The web page window: a small separate window with an embedded web view that opens on the
// maker's page. While the page loads its caption reads "Working...", afterwards the page's
// title. It lives in the browser module so that the web engine is loaded only when the
// user first asks for the page.
//
// Threads: UI thread only.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <QToolBar>
#include <QWidget>
#include <array>

class QWebEngineView;

namespace zb {

class frmBrowser : public QWidget {
    Q_OBJECT
public:
    // The maker's page. It ships inside the module, so it shows without a network.
    static const QString kStartingAddress;

    // startOverride, when not empty, replaces the maker's page as the start address; only
    // tests use it, to point the window at a server of their own.
    explicit frmBrowser(QString startOverride = {});

    // The load step: show, lay out, navigate to the start address.
    void Form_Load();
    void Form_Resize();
    void timTimer_Timer();
    void brwWebBrowser_DownloadComplete();

    QString StartingAddress;

    // --- Controls, by their names ---
    QWebEngineView* brwWebBrowser = nullptr;
    QTimer* timTimer = nullptr;
    QWidget* picAddress = nullptr;
    QLabel* lblAddress = nullptr;
    QComboBox* cboAddress = nullptr;
    QToolBar* tbToolBar = nullptr;
    std::array<QIcon, 6> imlIcons;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    // The view's busy flag: set when a navigation is asked for, cleared when it ends.
    bool busy_ = false;
    QString startOverride_;
};

}  // namespace zb
