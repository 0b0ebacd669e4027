// Names taken from a sample's full path.
//
// Threads: any (pure functions).
#pragma once

#include <QString>

namespace zb::voices {

// The sample name: the text after the last "/" of the path (the whole path when it has
// none).
QString SampleName(const QString& path);

// The path up to and including its last "/"; an empty text when the path has none.
QString DirectoryOfPath(const QString& path);

// The folder the open dialog starts in: the folder of the last chosen sample, or before
// any choice the program's own folder with a trailing "/".
QString InitialSampleDir(const QString& lastSampleDir, const QString& programDir);

}  // namespace zb::voices
