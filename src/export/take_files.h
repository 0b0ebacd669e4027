// File operations on takes: a copy that can never replace an existing file, a deletion that
// treats a missing file as done, and the text that tells the user a save did not happen.
//
// Threads: any.
#pragma once

#include <QString>

namespace zb {

struct CopyResult {
    bool ok = false;
    int error = 0;  // errno of the step that failed; 0 on success
};

// Copies source to target. The target is created exclusively (O_EXCL), so an existing file
// or link of that name is never touched; a partly written target is removed again.
CopyResult copyWithoutOverwrite(const QString& source, const QString& target);

// Deletes the file. A file that is already gone counts as deleted. Returns false only for
// another failure, which callers may ignore.
bool removeTakeFile(const QString& path);

// True when anything (file, directory, link, even a dangling one) holds the path.
bool pathTaken(const QString& path);

// A folder for takes that only this user can enter, with its trailing "/":
// runtimeDir/zembrola-takes/ when the runtime folder is the user's own, else `earlier` when
// it is still such a folder, else a new one made below tempDir. Never a folder reached
// through a link, nor one another user owns or may enter. Empty when none can be had.
QString privateTakeFolder(const QString& runtimeDir, const QString& tempDir,
                          const QString& earlier);

// The message shown when a take could not be copied to target; error is the copy's errno,
// takeExists whether the take file is there at all.
QString copyFailureText(const QString& target, const QString& takePath, int error, bool takeExists);

}  // namespace zb
