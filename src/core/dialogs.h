// Every modal question, message and file dialog of the program goes through this one
// narrow interface, so tests can answer them. The window's QtDialogs shows the real ones.
//
// Threads: UI thread only.
#pragma once

#include <QString>

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

}  // namespace zb
