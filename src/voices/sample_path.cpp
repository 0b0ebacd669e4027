#include "voices/sample_path.h"

namespace zb::voices {

QString SampleName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return path.mid(slash + 1);
}

QString DirectoryOfPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString InitialSampleDir(const QString& lastSampleDir, const QString& programDir) {
    if (!lastSampleDir.isEmpty())
        return lastSampleDir;
    // The folder comes without a trailing "/"; a root folder "/" already has one.
    return programDir.endsWith(u'/') ? programDir : programDir + u'/';
}

}  // namespace zb::voices
