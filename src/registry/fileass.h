// Registration of the song document type (.zmbl) at every start.
//
// Threads: UI thread, once during start-up.
#pragma once

#include <QString>

namespace zb::fileass {

// Writes the three class keys and their default values, then the desktop integration.
// Never fails: every error is swallowed so start-up goes on.
void RegisterSongDocumentType(const QString& dataDir, const QString& executablePath);

}  // namespace zb::fileass
