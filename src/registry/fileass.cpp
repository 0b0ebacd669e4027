// Placeholder until the document type registration lands.
#include "registry/fileass.h"

namespace zb::fileass {
void RegisterSongDocumentType(const QString&, const QString&) {}
}  // namespace zb::fileass
