// The web page window on the real web engine, opened through the main window's button and
// pointed at a tiny HTTP server on 127.0.0.1 that the tests run themselves.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QHostAddress>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>

#include "browser/launcher/browser_launcher.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"

namespace zb {
namespace {

// The web engine is loaded after the application object exists, as in the program, which
// makes the shared context only then. On a display the real window system is used;
// offscreen works too, but only when asked for explicitly.
const bool kWebViewUsable = [] {
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (display && platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", "xcb");
    return display || platform == "offscreen";
}();

// Generous bound for the web engine to finish; a guard against hanging, not a measure.
constexpr int kPatience = 30000;

// Serves a few pages on 127.0.0.1; "/slow" is held back until release() while held.
class PageServer : public QObject {
public:
    PageServer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        connect(&server_, &QTcpServer::newConnection, this, &PageServer::accept);
    }

    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    int requests(const QString& path) const { return counts_.value(path); }
    int heldBack() const { return int(held_.size()); }
    void hold(bool on) { hold_ = on; }
    void release() {
        hold_ = false;
        for (const QPointer<QTcpSocket>& s : std::exchange(held_, {}))
            if (s)
                respond(s, QStringLiteral("/slow"));
    }

    static QString titleOf(const QString& path) {
        return path == QLatin1String("/slow") ? QStringLiteral("Slow Test Page")
                                              : QStringLiteral("Local Test Page");
    }

private:
    void accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            s->setParent(this);
            connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    }

    void read(QTcpSocket* s) {
        QByteArray& buf = buffers_[s];
        if (buf.isNull())
            buf = QByteArray("");
        buf += s->readAll();
        if (buf == "done" || !buf.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = buf.left(buf.indexOf("\r\n")).split(' ');
        buf = "done";
        const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
        ++counts_[path];
        if (hold_ && path == QLatin1String("/slow"))
            held_.append(s);
        else
            respond(s, path);
    }

    void respond(QTcpSocket* s, const QString& path) {
        const bool known = path == QLatin1String("/page") || path == QLatin1String("/slow");
        const QByteArray body =
            known ? QStringLiteral("<html><head><title>%1</title></head><body>hello</body></html>")
                        .arg(titleOf(path))
                        .toUtf8()
                  : QByteArray("not here");
        s->write((known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                 QByteArray("Content-Type: text/html; charset=utf-8\r\nConnection: close\r\n") +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        s->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QHash<QString, int> counts_;
    QList<QPointer<QTcpSocket>> held_;
    bool hold_ = false;
};

class BrowserWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kWebViewUsable)
            GTEST_SKIP() << "no display for the web engine";
        fx_ = std::make_unique<test::FormFixture>();
        ASSERT_TRUE(fx_->loadResult());
    }
    void TearDown() override {
        if (!fx_)
            return;
        fx_->form().browser().unload();
        test::pumpEvents();
        fx_.reset();
        test::pumpEvents();
    }

    Form1& form() { return fx_->form(); }
    BrowserLauncher& launcher() { return form().browser(); }

    QWidget* open(const QString& address) {
        launcher().setStartAddressOverride(address);
        form().Command3->click();
        return launcher().window();
    }

    static QWidget* view(QWidget* window) { return window->findChild<QWidget*>("brwWebBrowser"); }
    static QTimer* watcher(QWidget* window) { return window->findChild<QTimer*>("timTimer"); }
    static QString viewTitle(QWidget* window) { return view(window)->property("title").toString(); }

    static bool settled(QWidget* window) { return !watcher(window)->isActive(); }

    std::unique_ptr<test::FormFixture> fx_;
};

TEST_F(BrowserWindow, CaptionReadsWorkingWhileLoadingThenTheTitle) {
    PageServer server;
    server.hold(true);
    QWidget* w = open(server.url("/slow"));
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    EXPECT_TRUE(w->windowTitle().isEmpty());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->parentWidget(), nullptr);

    ASSERT_TRUE(QTest::qWaitFor([&] { return server.heldBack() == 1; }, kPatience));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->windowTitle() == "Working..."; }, kPatience));
    // Still waiting for the page: the watcher keeps the caption.
    QTest::qWait(50);
    EXPECT_EQ(w->windowTitle(), "Working...");
    EXPECT_TRUE(watcher(w)->isActive());

    server.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->windowTitle() == "Slow Test Page"; }, kPatience))
        << w->windowTitle().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience));
    EXPECT_EQ(w->windowTitle(), "Slow Test Page");
}

TEST_F(BrowserWindow, MakersPageShipsWithTheProgram) {
    QWidget* w = open({});
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience));
    EXPECT_EQ(w->windowTitle(), "Harmovale");
    EXPECT_EQ(view(w)->property("url").toUrl(), QUrl("qrc:/harmovale/index.html"));

    // The page is drawn, not only loaded: what the window system shows of the view holds
    // more than one colour (the web engine paints through the shared OpenGL context).
    QWidget* v = view(w);
    auto drawn = [&] {
        const QImage shot = v->screen()->grabWindow(v->winId()).toImage();
        if (shot.isNull())
            return false;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2)
                if (shot.pixel(x, y) != shot.pixel(0, 0))
                    return true;
        return false;
    };
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        EXPECT_TRUE(QTest::qWaitFor(drawn, kPatience));
        if (qEnvironmentVariableIsSet("ZB_SAVE_PAGE_SHOT"))
            v->screen()->grabWindow(v->winId()).save(qEnvironmentVariable("ZB_SAVE_PAGE_SHOT"));
    }
}

TEST_F(BrowserWindow, UnreachablePageShowsWhatTheViewReports) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();  // nobody answers on this port now

    QWidget* w = open(QStringLiteral("http://127.0.0.1:%1/gone").arg(port));
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience));
    EXPECT_NE(w->windowTitle(), "Working...");
    EXPECT_EQ(w->windowTitle(), viewTitle(w));
    std::cout << "[ info     ] caption for an unreachable page: \""
              << w->windowTitle().toStdString() << "\"\n";
}

TEST_F(BrowserWindow, DesignLayoutAndResizeRule) {
    PageServer server;
    QWidget* w = open(server.url("/page"));
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    EXPECT_EQ(w->size(), QSize(436, 342));
    EXPECT_EQ(view(w)->geometry(), QRect(3, 1, 429, 335));
    QWidget* strip = w->findChild<QWidget*>("picAddress");
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->geometry(), QRect(0, 0, 436, 45));
    for (const char* hidden : {"lblAddress", "cboAddress", "tbToolBar"}) {
        QWidget* c = w->findChild<QWidget*>(hidden);
        ASSERT_NE(c, nullptr) << hidden;
        EXPECT_FALSE(c->isVisible()) << hidden;
    }

    struct Case {
        QSize client;
        QRect view;
    };
    // 600 px = 9000 twips -> 8900 -> 593 px; a sliver of a window leaves the view empty.
    for (const Case& c : {Case{{600, 400}, {3, 1, 593, 393}}, Case{{5, 4}, {3, 1, 0, 0}}}) {
        w->resize(c.client);
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->size() == c.client; }, kPatience));
        EXPECT_EQ(view(w)->geometry(), c.view) << c.client.width();
        EXPECT_EQ(strip->width(), c.client.width());
    }
}

TEST_F(BrowserWindow, SecondClickShowsWithoutReloading) {
    PageServer server;
    QPointer<QWidget> w = open(server.url("/page"));
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience));
    EXPECT_EQ(w->windowTitle(), "Local Test Page");
    EXPECT_EQ(server.requests("/page"), 1);

    w->hide();
    form().Command3->click();
    EXPECT_EQ(launcher().window(), w.data());
    EXPECT_TRUE(w->isVisible());
    // A load step would have started the watcher at once.
    EXPECT_FALSE(watcher(w)->isActive());
    QTest::qWait(200);
    EXPECT_EQ(server.requests("/page"), 1);
    EXPECT_EQ(w->windowTitle(), "Local Test Page");
}

TEST_F(BrowserWindow, ClosingUnloadsAndTheNextClickLoadsAnew) {
    PageServer server;
    QPointer<QWidget> first = open(server.url("/page"));
    ASSERT_NE(first, nullptr) << launcher().lastError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(first); }, kPatience));

    first->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, kPatience));
    EXPECT_EQ(launcher().window(), nullptr);

    QPointer<QWidget> second = open(server.url("/page"));
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->windowTitle().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(second); }, kPatience));
    EXPECT_EQ(second->windowTitle(), "Local Test Page");
    EXPECT_EQ(server.requests("/page"), 2);
}

TEST_F(BrowserWindow, OtherWindowsUnloadedBySampleLoadAndUnloadOtherWindows) {
    const std::string wav = fx_->tempDir.toStdString() + "/kick.wav";
    ASSERT_TRUE(test::writeWav(wav, {}, test::sine(44100, 220.0, 44100, 1)));

    struct Case {
        const char* name;
        std::function<void(test::FormFixture&)> act;
    };
    const Case cases[] = {
        {"UnloadOtherWindows", [](test::FormFixture& fx) { fx.form().UnloadOtherWindows(); }},
        {"sample load",
         [&](test::FormFixture& fx) {
             fx.dialogs.openAnswers.push_back({QString::fromStdString(wav), 1});
             fx.form().cmdSound[0]->click();
         }},
    };
    PageServer server;
    form().show();
    for (const Case& c : cases) {
        QPointer<QWidget> w = open(server.url("/page"));
        ASSERT_NE(w, nullptr) << c.name;
        ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience)) << c.name;
        c.act(*fx_);
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.isNull(); }, kPatience)) << c.name;
        EXPECT_EQ(launcher().window(), nullptr) << c.name;
        EXPECT_TRUE(form().isVisible()) << c.name;
    }
}

TEST_F(BrowserWindow, OpenPageKeepsTheProgramRunningAfterTheMainWindowCloses) {
    // Runs the application's own event loop, which ends when the last window closes.
    ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    PageServer server;
    form().show();
    QPointer<QWidget> w = open(server.url("/page"));
    ASSERT_NE(w, nullptr) << launcher().lastError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(w); }, kPatience));

    QObject scope;
    int lastClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &scope, [&] { ++lastClosed; });
    bool ranAfterMainClosed = false;
    bool browserOpenThen = false;
    int lastClosedThen = -1;
    QTimer::singleShot(0, &scope, [&] {
        form().close();
        // Queued behind whatever the close posted: a quit would end the loop first.
        QMetaObject::invokeMethod(
            &scope,
            [&] {
                ranAfterMainClosed = true;
                browserOpenThen = w && w->isVisible();
                lastClosedThen = lastClosed;
                if (w)
                    w->close();
            },
            Qt::QueuedConnection);
    });
    QTimer::singleShot(kPatience, &scope, [] { QCoreApplication::exit(99); });
    const int rc = QCoreApplication::exec();

    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(form().unloaded());
    EXPECT_TRUE(ranAfterMainClosed);
    EXPECT_TRUE(browserOpenThen);
    EXPECT_EQ(lastClosedThen, 0);
    EXPECT_EQ(lastClosed, 1);
    test::pumpEvents();
    EXPECT_TRUE(w.isNull());
}

}  // namespace
}  // namespace zb
