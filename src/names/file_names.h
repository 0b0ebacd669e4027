// File names are bytes on Linux and need not be UTF-8. Qt decodes them as UTF-8 and turns
// each byte it cannot read into a replacement character, so such a name cannot be found
// again. These functions keep every byte: a byte that is not part of valid UTF-8 becomes
// the lone surrogate U+DC80 + (byte - 0x80) in the QString, and goes back to the same byte.
// Valid UTF-8 decodes exactly as Qt decodes it.
//
// Threads: any (pure functions).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace zb::names {

QString fromBytes(QByteArrayView bytes);
QByteArray toBytes(const QString& name);

// The name as a label can show it: every kept byte becomes U+FFFD.
QString shown(const QString& name);

// True when the name holds bytes that are not UTF-8.
bool holdsRawBytes(const QString& name);

}  // namespace zb::names
