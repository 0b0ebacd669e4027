// The real dialogs behind the program's one dialog interface (core/dialogs.h), and the
// rules they follow.
//
// Threads: UI thread only.
#pragma once

#include <QString>
#include <QStringList>

#include "core/dialogs.h"

class QWidget;

namespace zb {

// Qt name filters for a caller's filter text: "Description|pattern" pairs separated by
// "|" become "Description (pattern)" entries ("*.*" meaning every file, ";" between
// patterns); a text without "|" is taken as patterns alone. Empty input gives no filters.
QStringList qtNameFilters(const QString& callerFilter);
// The row in a list of `count` filters for a 1-based filter index; 0 and any index out
// of range give the first row.
int nameFilterRow(int filterIndex, int count);
// Message text as a label shows it: a carriage return and line feed become one line break.
QString displayText(const QString& text);

// The real dialogs: QMessageBox and QFileDialog.
class QtDialogs : public Dialogs {
public:
    MsgResult message(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                      MsgButtons buttons) override;
    OpenFileResult openFile(QWidget* parent, const OpenFileRequest& request) override;
    // Opens where the last save of this run went, else in the music folder, else at home.
    QString saveFile(QWidget* parent, const QString& title, const QString& filter) override;

private:
    QString lastSaveFolder_;
};

}  // namespace zb
