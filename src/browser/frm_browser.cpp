#include "browser/frm_browser.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QResizeEvent>
#include <QStyle>
#include <QUrl>
#include <QWebEngineView>
#include <exception>

#include "browser/launcher/browser_rules.h"

namespace zb {

using browser::pixelsToTwips;
using browser::twipsToPixels;

const QString frmBrowser::kStartingAddress = QStringLiteral("qrc:/harmovale/index.html");

namespace {

// The load step runs every step even when an earlier one fails.
template <typename Step>
void ignoringErrors(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

QFont windowFont() {
    const QString family = QFontDatabase::hasFamily(QStringLiteral("Verdana"))
                               ? QStringLiteral("Verdana")
                               : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setPointSizeF(8.25);
    return font;
}

}  // namespace

frmBrowser::frmBrowser(QString startOverride) : startOverride_(std::move(startOverride)) {
    setObjectName(QStringLiteral("frmBrowser"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(windowFont());
    buildControls();
    resize(twipsToPixels(browser::kDesignClientWidth), twipsToPixels(browser::kDesignClientHeight));
}

void frmBrowser::buildControls() {
    // The address strip, its label and box and the toolbar are part of the window's make-up
    // but never shown: the user can neither type an address nor use the buttons.
    picAddress = new QWidget(this);
    picAddress->setObjectName(QStringLiteral("picAddress"));
    picAddress->setGeometry(0, 0, width(), twipsToPixels(browser::kAddressStripHeight));
    lblAddress = new QLabel(QStringLiteral("&Address:"), picAddress);
    lblAddress->setObjectName(QStringLiteral("lblAddress"));
    lblAddress->hide();
    cboAddress = new QComboBox(picAddress);
    cboAddress->setObjectName(QStringLiteral("cboAddress"));
    cboAddress->setEditable(true);
    cboAddress->hide();
    lblAddress->setBuddy(cboAddress);

    const std::array<QStyle::StandardPixmap, 6> pictures = {
        QStyle::SP_ArrowBack,     QStyle::SP_ArrowForward, QStyle::SP_BrowserStop,
        QStyle::SP_BrowserReload, QStyle::SP_DirHomeIcon,  QStyle::SP_FileDialogContentsView};
    const std::array<const char*, 6> names = {"Back",    "Forward", "Stop",
                                              "Refresh", "Home",    "Search"};
    tbToolBar = new QToolBar(this);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setIconSize(QSize(24, 24));
    for (size_t i = 0; i < names.size(); ++i) {
        imlIcons[i] = style()->standardIcon(pictures[i]);
        tbToolBar->addAction(imlIcons[i], QString::fromLatin1(names[i]));
    }
    tbToolBar->hide();

    brwWebBrowser = new QWebEngineView(this);
    brwWebBrowser->setObjectName(QStringLiteral("brwWebBrowser"));
    brwWebBrowser->move(twipsToPixels(browser::kViewLeft), twipsToPixels(browser::kViewTop));
    // The strip lies behind the page so that the page's upper edge stays readable.
    picAddress->lower();

    timTimer = new QTimer(this);
    timTimer->setObjectName(QStringLiteral("timTimer"));
    timTimer->setTimerType(Qt::PreciseTimer);
    timTimer->setInterval(5);
    connect(timTimer, &QTimer::timeout, this, &frmBrowser::timTimer_Timer);

    // The web engine must let go of its page while the application object still exists,
    // so a window still open when the program ends goes first.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { delete this; });

    connect(brwWebBrowser, &QWebEngineView::loadStarted, this, [this] { busy_ = true; });
    connect(brwWebBrowser, &QWebEngineView::loadFinished, this, [this](bool) {
        busy_ = false;
        brwWebBrowser_DownloadComplete();
    });
}

void frmBrowser::Form_Load() {
    ignoringErrors([this] { show(); });
    ignoringErrors([this] { Form_Resize(); });
    ignoringErrors(
        [this] { StartingAddress = startOverride_.isEmpty() ? kStartingAddress : startOverride_; });
    if (StartingAddress.isEmpty())
        return;
    ignoringErrors([this] { timTimer->start(); });
    ignoringErrors([this] {
        const QUrl url = QUrl::fromUserInput(StartingAddress);
        // Busy from the moment the navigation is asked for, so that the watcher's first
        // tick cannot see an idle view before the engine reports the start.
        busy_ = url.isValid();
        brwWebBrowser->load(url);
    });
}

void frmBrowser::Form_Resize() {
    const browser::TwipSize view =
        browser::webViewSize({pixelsToTwips(width()), pixelsToTwips(height())});
    brwWebBrowser->resize(twipsToPixels(view.width), twipsToPixels(view.height));
    picAddress->resize(width(), picAddress->height());
}

void frmBrowser::timTimer_Timer() {
    if (busy_) {
        setWindowTitle(QStringLiteral("Working..."));
    } else {
        timTimer->stop();
        setWindowTitle(brwWebBrowser->title());
    }
}

void frmBrowser::brwWebBrowser_DownloadComplete() {
    ignoringErrors([this] { setWindowTitle(brwWebBrowser->title()); });
}

void frmBrowser::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

}  // namespace zb
