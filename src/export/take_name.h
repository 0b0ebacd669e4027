// Naming of export takes: the file name made from the local date and time, the folder the
// takes live in, the name a saved copy gets, and the choice of a name no file holds yet.
//
// Threads: any; every function here is pure apart from takeFolder's default.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace zb {

// The local date and time rendered with the pattern "MMDDYYYYHH24MISSAMPM" followed by
// ".WAV": month, day, year, hour on the 12-hour clock (01 to 12), the literal "24", the
// minute without a leading zero, the literal "I", seconds, and "AM" or "PM".
// 15 March 2002 15:05:09 gives "0315200203245I09PM.WAV".
QString takeFileName(const QDateTime& when);

// The folder takes are written to: <dataDir>/takes/ (with the trailing slash).
QString takeFolder(const QString& dataDir);

// The first of name, <stem>_2<ext>, <stem>_3<ext>, ... for which taken() is false, so that a
// take never lands on a file that is already there (two exports within one second, or a
// take left behind by an earlier run).
QString freeTakeName(const QString& name, const std::function<bool(const QString&)>& taken);

// The file a saved take is copied to: the chosen name with ".Wav" appended, always.
QString savedCopyName(const QString& chosen);

// True when takePath names a take (blanks around it do not count) that was not saved.
bool hasUnsavedTake(const QString& takePath, bool takeSaved);

}  // namespace zb
