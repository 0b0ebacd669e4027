#include "names/file_names.h"

namespace zb::names {

namespace {

constexpr char16_t kRawBase = 0xDC00;  // raw byte b (>= 0x80) is kRawBase + b

bool isRawUnit(char16_t u) {
    return u >= 0xDC80 && u <= 0xDCFF;
}

// Length of the valid UTF-8 sequence at `s` (and its code point), or 0 when the bytes there
// are not one: overlong forms, surrogates and code points above U+10FFFF are refused.
int sequenceAt(const unsigned char* s, qsizetype left, char32_t& cp) {
    const unsigned char b = s[0];
    int len = 0;
    char32_t min = 0;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < len)
        return 0;
    for (int k = 1; k < len; ++k) {
        if ((s[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

}  // namespace

QString fromBytes(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        char32_t cp = 0;
        const int len = sequenceAt(s + i, n - i, cp);
        if (len == 0) {
            out.append(QChar(static_cast<char16_t>(kRawBase + s[i])));
            ++i;
            continue;
        }
        out.append(QString::fromUcs4(&cp, 1));
        i += len;
    }
    return out;
}

QByteArray toBytes(const QString& name) {
    QByteArray out;
    out.reserve(name.size());
    qsizetype from = 0;  // start of the run of ordinary text not yet written
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        // A raw byte stands alone: a surrogate pair is never one.
        if (!isRawUnit(u) || (i > 0 && name.at(i - 1).isHighSurrogate()))
            continue;
        out.append(QStringView(name).mid(from, i - from).toUtf8());
        out.append(static_cast<char>(u - kRawBase));
        from = i + 1;
    }
    out.append(QStringView(name).mid(from).toUtf8());
    return out;
}

QString shown(const QString& name) {
    QString out = name;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (isRawUnit(out.at(i).unicode()) && !(i > 0 && out.at(i - 1).isHighSurrogate()))
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

bool holdsRawBytes(const QString& name) {
    return shown(name) != name;
}

}  // namespace zb::names
