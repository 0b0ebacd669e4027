// The real message boxes and file dialogs, driven while they are up, and the plain rules
// behind them (filter translation, filter index, line breaks, fonts, icon).
#include "shell/dialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QtTest/QTest>

#include "names/file_names.h"
#include "shell/look.h"
#include "support/form_fixture.h"

namespace zb {
namespace {

TEST(DialogRulesTest, NameFilters) {
    const std::pair<QString, QStringList> cases[] = {
        {"Wave Files (*.wav)|*.wav", {"Wave Files (*.wav)"}},
        {"*.WAV", {"*.WAV"}},
        {"Wave Files (*.wav)|*.wav|All Files (*.*)|*.*", {"Wave Files (*.wav)", "All Files (*)"}},
        {"Sounds|*.wav;*.aif", {"Sounds (*.wav *.aif)"}},
        {"Old (*.snd)|*.wav", {"Old (*.wav)"}},
        {"", {}},
        {"Broken|", {}},
    };
    for (const auto& [caller, expected] : cases) {
        EXPECT_EQ(qtNameFilters(caller), expected) << caller.toStdString();
    }
}

TEST(DialogRulesTest, FilterIndexIsOneBased) {
    struct Case {
        int index, count, row;
    };
    for (const Case c : {Case{0, 2, 0}, Case{1, 2, 0}, Case{2, 2, 1}, Case{3, 2, 0}, Case{-4, 2, 0},
                         Case{1, 0, 0}}) {
        EXPECT_EQ(nameFilterRow(c.index, c.count), c.row) << c.index << "/" << c.count;
    }
}

TEST(DialogRulesTest, TwoLineMessageShowsAsTwoLines) {
    EXPECT_EQ(displayText("Could not initialize DirectSound.\r\nThis sample will exit."),
              "Could not initialize DirectSound.\nThis sample will exit.");
    EXPECT_EQ(displayText("plain"), "plain");
}

TEST(DialogRulesTest, PanelFontAndIcon) {
    EXPECT_EQ(look::panelFontFamily({"Arial", "Verdana"}), "Verdana");
    EXPECT_EQ(look::panelFontFamily({"Arial", "DejaVu Sans"}), "DejaVu Sans");
    EXPECT_EQ(look::panelFontFamily({}), "DejaVu Sans");
    EXPECT_EQ(look::windowFontFamily({"DejaVu Sans Condensed", "Verdana"}), "Verdana");
    EXPECT_EQ(look::windowFontFamily({"Noto Sans", "DejaVu Sans Condensed"}), "DejaVu Sans");
    EXPECT_EQ(look::windowFontPoints([](double pt) { return pt <= 7.0; }), 7.0);
    EXPECT_EQ(look::windowFontPoints([](double) { return true; }), 8.25);
    EXPECT_EQ(look::windowFontPoints([](double) { return false; }), 6.0);
    EXPECT_EQ(look::px(11535), 769);
    EXPECT_EQ(look::px(6255), 417);
    EXPECT_EQ(look::px(855), 57);

    test::ensureApp();
    const QImage icon = look::windowIconImage();
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_FALSE(icon.hasAlphaChannel());
    QSet<QRgb> colours;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) colours.insert(icon.pixel(x, y) | 0xff000000u);
    const QSet<QRgb> palette = {look::kBackground, look::kField, look::kFace, look::kLabel};
    EXPECT_EQ(colours, palette);
}

// Runs `inspect` on the modal window once it is up.
void whenModal(std::function<void(QWidget*)> inspect) {
    QTimer::singleShot(0, [inspect] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        inspect(modal);
        // A failed expectation must not leave the test waiting on an open dialog.
        if (auto* d = qobject_cast<QDialog*>(modal); d && d->isVisible())
            d->reject();
    });
}

TEST(QtDialogsTest, MessageBoxes) {
    test::ensureApp();
    QtDialogs dialogs;
    struct Case {
        QString text, caption;
        MsgIcon icon;
        MsgButtons buttons;
        QMessageBox::Icon qtIcon;
        QMessageBox::StandardButtons qtButtons;
        QMessageBox::StandardButton press;
        MsgResult result;
    };
    const Case cases[] = {
        {"Couldn't open the mixer.", "Zembrola", MsgIcon::None, MsgButtons::Ok, QMessageBox::NoIcon,
         QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok},
        {"Could not initialize DirectSound.\r\nThis sample will exit.", "Exiting...",
         MsgIcon::Information, MsgButtons::Ok, QMessageBox::Information, QMessageBox::Ok,
         QMessageBox::Ok, MsgResult::Ok},
        {"Question?", "WAV Recorder", MsgIcon::None, MsgButtons::YesNoCancel, QMessageBox::NoIcon,
         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No, MsgResult::No},
        {"Question?", "WAV Recorder", MsgIcon::None, MsgButtons::YesNoCancel, QMessageBox::NoIcon,
         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
         MsgResult::Yes},
        {"Too short", "Couldn't load", MsgIcon::Error, MsgButtons::Ok, QMessageBox::Critical,
         QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.toStdString());
        bool seen = false;
        whenModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->windowTitle(), c.caption);
            EXPECT_EQ(box->text(), displayText(c.text));
            EXPECT_EQ(box->icon(), c.qtIcon);
            EXPECT_EQ(box->standardButtons(), c.qtButtons);
            box->button(c.press)->click();
        });
        EXPECT_EQ(dialogs.message(nullptr, c.text, c.caption, c.icon, c.buttons), c.result);
        EXPECT_TRUE(seen);
    }
}

TEST(QtDialogsTest, OpenDialogStartsWhereAskedAndReadsTheFilterBack) {
    test::ensureApp();
    QTemporaryDir dir;
    const QString wav = QDir(dir.path()).filePath("kick.wav");
    QFile(wav).open(QIODevice::WriteOnly);
    QtDialogs dialogs;
    OpenFileRequest request;
    request.flags = 0x1004;
    request.filterIndex = 2;
    request.filter = "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*";
    request.initialDir = dir.path();

    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(d->nameFilters(), QStringList({"Wave Files (*.wav)", "All Files (*)"}));
        EXPECT_EQ(d->selectedNameFilter(), "All Files (*)");
        EXPECT_EQ(QDir(d->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
        d->selectNameFilter("Wave Files (*.wav)");
        d->selectFile(wav);
        static_cast<QDialog*>(d)->accept();
    });
    const OpenFileResult r = dialogs.openFile(nullptr, request);
    EXPECT_EQ(QFileInfo(r.fileName).canonicalFilePath(), QFileInfo(wav).canonicalFilePath());
    EXPECT_EQ(r.filterIndex, 1);

    whenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    request.filterIndex = 0;
    const OpenFileResult cancelled = dialogs.openFile(nullptr, request);
    EXPECT_TRUE(cancelled.fileName.isEmpty());
}

TEST(QtDialogsTest, SaveDialogTitleFilterAndName) {
    test::ensureApp();
    QTemporaryDir dir;
    const QString target = QDir(dir.path()).filePath("mytake");
    QtDialogs dialogs;
    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "Save Wave File");
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(d->nameFilters(), QStringList({"*.WAV"}));
        d->selectFile(target);
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_EQ(dialogs.saveFile(nullptr, "Save Wave File", "*.WAV"), target);

    whenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_TRUE(dialogs.saveFile(nullptr, "Save Wave File", "*.WAV").isEmpty());
}

// Qt's dialog reads a double quote in its name field as the start of a list of quoted names;
// the path typed is the one taken. The save dialog starts in the music folder, then where
// the last save went.
TEST(QtDialogsTest, NamesWithQuotesAreTakenAsTyped) {
    test::ensureApp();
    QTemporaryDir dir;
    const QString saved = dir.filePath("sa\"ved"), sample = saved + "/q\"uote.wav";
    ASSERT_TRUE(QDir(dir.path()).mkpath("home/Music") && QDir().mkpath(saved));
    QFile(sample).open(QIODevice::WriteOnly);
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(dir.filePath("home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QtDialogs dialogs;
    QString startedIn;
    auto typeAndAccept = [&startedIn](const QString& text) {
        whenModal([text, &startedIn](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            startedIn = d->directory().absolutePath();
            d->findChild<QLineEdit*>("fileNameEdit")->setText(text);
            static_cast<QDialog*>(d)->accept();
        });
    };
    typeAndAccept(saved + "/q\"uote");
    EXPECT_EQ(dialogs.saveFile(nullptr, "Save Wave File", "*.WAV").toStdString(),
              (saved + "/q\"uote").toStdString());
    EXPECT_EQ(startedIn, music);
    typeAndAccept("next");
    EXPECT_EQ(dialogs.saveFile(nullptr, "Save Wave File", "*.WAV"), saved + "/next");
    EXPECT_EQ(startedIn, saved);
    typeAndAccept("q\"uote.wav");
    OpenFileRequest request;
    request.initialDir = saved;
    EXPECT_EQ(dialogs.openFile(nullptr, request).fileName.toStdString(), sample.toStdString());
    qputenv("HOME", oldHome);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

// Files whose names are not UTF-8 (Qt's listing leaves them out) are listed under names
// with replacement characters and open by their bytes, by a double click or by the name.
TEST(QtDialogsTest, NamesThatAreNotUtf8AreListedAndOpenByTheirBytes) {
    test::ensureApp();
    QTemporaryDir dir;
    const QByteArray folder = names::toBytes(dir.path());
    for (const char* name : {"/good.wav", "/bad\xff.wav", "/bad\xff.txt", "/.hidden\xff.wav"})
        ::close(::open((folder + name).constData(), O_CREAT | O_WRONLY, 0644));
    QtDialogs dialogs;
    OpenFileRequest request;
    request.filter = "Wave Files (*.wav)|*.wav";
    request.filterIndex = 1;
    request.initialDir = dir.path();
    const QString shown = QStringLiteral(u"bad\uFFFD.wav");

    auto openWith = [&](std::function<void(QFileDialog*, QAbstractItemView*, QModelIndex)> act) {
        whenModal([&](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            auto* list = d->findChild<QAbstractItemView*>("listView");
            QStringList raw;
            QModelIndex bad;
            const QModelIndex root = list->rootIndex();
            for (int r = 0; r < list->model()->rowCount(root); ++r) {
                const QModelIndex row = list->model()->index(r, 0, root);
                if (row.data().toString().contains(QChar::ReplacementCharacter))
                    raw.append(row.data().toString()), bad = row;
            }
            EXPECT_EQ(raw, QStringList{shown});
            if (bad.isValid())
                act(d, list, bad);
        });
        return names::toBytes(dialogs.openFile(nullptr, request).fileName);
    };
    EXPECT_EQ(openWith([](QFileDialog*, QAbstractItemView* list, QModelIndex bad) {
                  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                                     list->visualRect(bad).center());
              }),
              folder + "/bad\xff.wav");
    EXPECT_EQ(openWith([&](QFileDialog* d, QAbstractItemView*, QModelIndex) {
                  auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
                  edit->setText(shown);
                  QTest::keyClick(edit, Qt::Key_Return);
              }),
              folder + "/bad\xff.wav");
}

}  // namespace
}  // namespace zb
