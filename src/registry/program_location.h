// Where the running program and its parts are: the executable as the kernel names it, and
// the folders of the demo kit and the web page module, in a build tree (all beside the
// executable) or installed (bin/, share/zembrola/, lib/zembrola/ under one prefix).
//
// Threads: any; they only read the file system.
#pragma once

#include <QByteArray>
#include <QString>

namespace zb::location {

// The target of a symbolic link, decoded from the file system's bytes, so that a folder
// name that is not valid UTF-8 still gives a path (with U+FFFD for the bytes it cannot
// show); empty when the link cannot be read.
QString LinkTarget(const QByteArray& linkPath);
// The running executable: LinkTarget("/proc/self/exe").
QString ExecutablePath();

// The folder that holds `partFileName`: the executable's own folder when it is there, else
// `installedFromBin` (relative to the executable's folder) when it is there, else the
// executable's own folder.
QString PartFolder(const QString& executableDir, const QString& installedFromBin,
                   const QString& partFileName);
// The demo kit's folder, where the first load dialog opens.
QString DataFolder(const QString& executableDir);
// The web page module's folder.
QString ModuleFolder(const QString& executableDir);

}  // namespace zb::location
