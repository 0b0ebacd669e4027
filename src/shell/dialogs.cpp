#include "shell/dialogs.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include "shell/raw_name_rows.h"

namespace zb {

namespace {

QString qtPatterns(const QString& patterns) {
    QStringList out;
    for (QString p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        p = p.trimmed();
        // Names without an extension are files too.
        if (p == QLatin1String("*.*"))
            p = QStringLiteral("*");
        if (!p.isEmpty())
            out.append(p);
    }
    return out.join(QLatin1Char(' '));
}

// The path a name typed in `folder` stands for: absolute as typed, "~" for the home folder,
// anything else inside the folder.
QString typedPath(const QString& folder, const QString& typed) {
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
        return QDir::homePath() + typed.mid(1);
    if (QDir::isAbsolutePath(typed))
        return typed;
    return QDir(folder).filePath(typed);
}

// Qt's own file dialog reads a double quote in its name field as the start of a list of
// quoted names, so `saved/q"uote` would become `uote` in whatever folder it shows. A name
// holding a quote is taken as typed instead (an open dialog falls back to Qt's reading when
// no such file exists, so a quoted name still opens).
class FileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    // The accepted file: the name taken as typed, else Qt's choice.
    QString chosen() const {
        if (!typed_.isEmpty())
            return typed_;
        const QStringList files = selectedFiles();
        return files.isEmpty() ? QString() : files.front();
    }

    // An open dialog also lists the files whose names are not UTF-8 (Qt leaves them out),
    // and opens them by their bytes.
    void listRawNames() {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"));
        auto* tree = findChild<QAbstractItemView*>(QStringLiteral("treeView"));
        if (!edit || !list || !tree)
            return;  // a desktop's own dialog
        rows_ = new RawNameRows(this);
        setProxyModel(rows_);
        for (QAbstractItemView* view : {list, tree}) {
            view->installEventFilter(this);
            view->viewport()->installEventFilter(this);
        }
        // Qt's handlers run first (they were connected first): the dialog takes no name for
        // such a row and disables Open for a name it cannot find; these put both right.
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [=, this] {
            const QModelIndexList rows = list->selectionModel()->selectedRows();
            if (rows.size() == 1 && rows_->isRawRow(rows.front()) && !edit->hasFocus())
                edit->setText(rows.front().data().toString());
            enableOpenForRawName();
        });
        connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this,
                &FileDialog::enableOpenForRawName);
        connect(edit, &QLineEdit::textChanged, this, &FileDialog::enableOpenForRawName);
        connect(this, &QFileDialog::filterSelected, rows_,
                [this] { QTimer::singleShot(0, rows_, &RawNameRows::refresh); });
        rows_->refresh();
    }

    void accept() override {
        typed_.clear();
        // Only Qt's own dialog has the field; a desktop's dialog returns whole paths.
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (const QString raw = rawPathTyped(); !raw.isEmpty()) {
            typed_ = raw;
            QDialog::accept();
            return;
        }
        if (!edit || !edit->text().contains(QLatin1Char('"'))) {
            QFileDialog::accept();
            return;
        }
        const QString path = typedPath(directory().absolutePath(), edit->text());
        const QFileInfo info(path);
        if (info.isDir()) {
            setDirectory(path);
            edit->clear();
            return;
        }
        if (acceptMode() == AcceptOpen && !info.isFile()) {
            QFileDialog::accept();
            return;
        }
        typed_ = path;
        QDialog::accept();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Qt takes a double click or Return on a row its model does not know for a way to
        // the top of the file system; on such a row they open the file.
        auto* view = qobject_cast<QAbstractItemView*>(watched);
        if (!view && watched->parent())
            view = qobject_cast<QAbstractItemView*>(watched->parent());
        QModelIndex row;
        if (view && event->type() == QEvent::MouseButtonDblClick && watched == view->viewport())
            row = view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        else if (view && event->type() == QEvent::KeyPress && watched == view) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                row = view->currentIndex();
        }
        if (rows_ && rows_->isRawRow(row)) {
            const QModelIndex first = row.siblingAtColumn(0);
            view->selectionModel()->select(
                first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(first.data().toString());
            accept();
            return true;
        }
        return QFileDialog::eventFilter(watched, event);
    }

private:
    // The path of the not-UTF-8 file named in the name field, when no file Qt can see has
    // that name: the selected row first, as two such names may show alike.
    QString rawPathTyped() const {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"));
        if (!rows_ || !edit || !list || acceptMode() != AcceptOpen)
            return {};
        const QString text = edit->text();
        if (text.isEmpty() || QFileInfo::exists(typedPath(directory().absolutePath(), text)))
            return {};
        const QModelIndexList selected = list->selectionModel()->selectedRows();
        if (selected.size() == 1 && rows_->isRawRow(selected.front()) &&
            selected.front().data().toString() == text)
            return rows_->pathOf(selected.front());
        return rows_->pathOf(rows_->rowNamed(text));
    }

    void enableOpenForRawName() {
        auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QPushButton* open = box ? box->button(QDialogButtonBox::Open) : nullptr;
        if (open && !rawPathTyped().isEmpty())
            open->setEnabled(true);
    }

    QString typed_;
    RawNameRows* rows_ = nullptr;
};

}  // namespace

QStringList qtNameFilters(const QString& callerFilter) {
    QStringList filters;
    if (callerFilter.trimmed().isEmpty())
        return filters;
    if (!callerFilter.contains(QLatin1Char('|'))) {
        filters.append(qtPatterns(callerFilter));
        return filters;
    }
    const QStringList parts = callerFilter.split(QLatin1Char('|'));
    for (int k = 0; k + 1 < parts.size(); k += 2) {
        const QString description = parts[k].trimmed();
        const QString patterns = qtPatterns(parts[k + 1]);
        if (patterns.isEmpty())
            continue;
        // A description that shows its patterns in parentheses gets them rewritten, as
        // Qt reads the patterns from there.
        const int open = description.lastIndexOf(QLatin1Char('('));
        if (description.endsWith(QLatin1Char(')')) && open >= 0) {
            const QString name = description.left(open).trimmed();
            filters.append(name.isEmpty() ? patterns
                                          : QStringLiteral("%1 (%2)").arg(name, patterns));
            continue;
        }
        filters.append(description.isEmpty()
                           ? patterns
                           : QStringLiteral("%1 (%2)").arg(description, patterns));
    }
    return filters;
}

int nameFilterRow(int filterIndex, int count) {
    if (filterIndex < 1 || filterIndex > count)
        return 0;
    return filterIndex - 1;
}

QString displayText(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

MsgResult QtDialogs::message(QWidget* parent, const QString& text, const QString& caption,
                             MsgIcon icon, MsgButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    switch (icon) {
        case MsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    if (buttons == MsgButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        case QMessageBox::Cancel:
            return MsgResult::Cancel;
        default:
            return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }
}

OpenFileResult QtDialogs::openFile(QWidget* parent, const OpenFileRequest& request) {
    FileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The program only ever asks for a file that exists (and shows no read-only box).
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters[nameFilterRow(request.filterIndex, filters.size())]);
    }
    if (!request.initialDir.isEmpty())
        dialog.setDirectory(request.initialDir);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    dialog.listRawNames();

    OpenFileResult result;
    result.filterIndex = request.filterIndex;
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().isEmpty())
        return result;
    result.fileName = dialog.chosen();
    const int row = filters.indexOf(dialog.selectedNameFilter());
    result.filterIndex = row >= 0 ? row + 1 : 1;
    return result;
}

QString QtDialogs::saveFile(QWidget* parent, const QString& title, const QString& filter) {
    FileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The take is written under the chosen name plus ".Wav" and never over an existing file,
    // so a question about replacing the chosen name would ask about the wrong file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = qtNameFilters(filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    // As desktop save dialogs do: where the last save of this run went, else the music
    // folder, else home; never the working folder, which is often the program's own.
    QString start = lastSaveFolder_;
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        start = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (start.isEmpty() || !QFileInfo(start).isDir())
            start = QDir::homePath();
    }
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString chosen = dialog.chosen();
    if (!chosen.isEmpty())
        lastSaveFolder_ = QFileInfo(chosen).absolutePath();
    return chosen;
}

}  // namespace zb
