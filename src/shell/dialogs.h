// Every modal question, message and file dialog of the program goes through this one
// narrow interface, so tests can answer them. QtDialogs shows the real ones.
//
// Threads: UI thread only.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace zb {

enum class MsgIcon { None, Information, Error };
enum class MsgButtons { Ok, YesNoCancel };
enum class MsgResult { Ok, Yes, No, Cancel };

struct OpenFileRequest {
    int flags = 0;
    int filterIndex = 0;
    QString filter;  // "Description (*.ext)|*.ext" pairs, as the caller writes them
    QString fileName;
    QString initialDir;
};

struct OpenFileResult {
    QString fileName;  // empty when the user cancelled
    int filterIndex = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MsgResult message(QWidget* parent, const QString& text, const QString& caption,
                              MsgIcon icon, MsgButtons buttons) = 0;
    virtual OpenFileResult openFile(QWidget* parent, const OpenFileRequest& request) = 0;
    // Returns the chosen name, or an empty text when cancelled.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& filter) = 0;
};

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
