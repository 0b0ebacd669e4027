// The freedesktop side of the song document type: a shared-mime-info package and a desktop
// entry in the XDG data home, written from the registered document class, and the refresh
// of the databases that file managers read.
//
// Threads: UI thread, during start-up.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace zb::fileass {

inline constexpr const char* kSongMimeType = "application/x-zembrola";
inline constexpr const char* kMimePackageName = "zembrola.xml";
inline constexpr const char* kDesktopFileName = "zembrola.desktop";

struct DocumentClass {
    QString extension;    // ".zmbl"
    QString className;    // "Zembrola.Document"
    QString description;  // "Zembrola Document"
    QString openCommand;  // the executable, unquoted, then " %1"
};

DocumentClass SongDocumentClass(const QString& executablePath);

// The XDG data home that holds the data folder (its parent).
QString XdgDataHomeOf(const QString& dataDir);

// One argument of a desktop entry's Exec key, quoted and escaped for the file: nullopt when
// the text cannot be carried (empty, control characters such as a newline, broken UTF-16).
std::optional<QString> QuoteExecArgument(const QString& argument);
// The Exec value for a class: its program quoted, then the single-file field code.
std::optional<QString> DesktopExec(const DocumentClass& cls);
// A value of type string as the desktop file holds it (backslash escapes).
QString EscapeDesktopString(const QString& text);

QString MimePackageXml(const DocumentClass& cls);
std::optional<QString> DesktopEntryText(const DocumentClass& cls);

// The commands that refresh the databases; a tool that findTool cannot find (empty result)
// is left out. Each entry is an argument vector, the tool's full path first.
QList<QStringList> RefreshCommands(const QString& xdgDataHome, bool refreshMime,
                                   bool refreshDesktop,
                                   const std::function<QString(const QString&)>& findTool);

// The program that a desktop entry starts: its TryExec, else the first word of its Exec,
// with the file's escapes and the quoting undone; a bare name is looked up with findTool.
// Empty when the entry names none.
QString EntryProgram(const QString& entryText,
                     const std::function<QString(const QString&)>& findTool);

// Whether an installed desktop entry (applications/zembrola.desktop under one of the
// system data folders) starts this very executable file.
bool InstalledEntryServes(const QStringList& systemDataDirs, const QString& executablePath);

// The per-user files are written only when no installed entry serves the program: a
// packaged program brings its own, and a per-user entry of the same name would hide it.
// Then a per-user entry of this program, or of one that no longer exists, is removed.
// Otherwise writes the files that differ from what they should be. Either way refreshes
// the databases when something changed or a cache is missing or older. Returns the
// commands it started.
QList<QStringList> IntegrateWithDesktop(const QString& xdgDataHome, const DocumentClass& cls,
                                        const QStringList& systemDataDirs = {});

}  // namespace zb::fileass
