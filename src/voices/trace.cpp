#include "voices/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>

#include "names/file_names.h"

namespace zb::voices {

namespace {

int16_t valueAt(std::span<const std::byte> bytes, size_t offset) {
    const auto byteAt = [&](size_t o) -> uint16_t {
        return o < bytes.size() ? std::to_integer<uint16_t>(bytes[o]) : 0;
    };
    return static_cast<int16_t>(byteAt(offset) | (byteAt(offset + 1) << 8));
}

// Appends the values of the records starting in `chunk`, whose first byte is a record
// start. Returns false once the read that meets the end has been taken.
bool takeRecords(std::span<const std::byte> chunk, bool endOfFile, std::vector<int16_t>& out) {
    size_t at = 0;
    for (; at + kTraceRecordBytes <= chunk.size(); at += kTraceRecordBytes)
        out.push_back(valueAt(chunk, at));
    if (!endOfFile)
        return true;
    out.push_back(valueAt(chunk, at));
    return false;
}

// Reads until `buffer` is full or the file ends; -1 on a read error.
ssize_t readFully(int fd, std::byte* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, buffer + got, size - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

std::vector<int16_t> TraceValuesFromBytes(std::span<const std::byte> bytes) {
    std::vector<int16_t> values;
    const size_t first = static_cast<size_t>(kTraceFirstOffset);
    if (bytes.size() > first)
        values.reserve((bytes.size() - first) / kTraceRecordBytes + 1);
    takeRecords(bytes.size() > first ? bytes.subspan(first) : std::span<const std::byte>(), true,
                values);
    return values;
}

std::vector<int16_t> ReadTraceValues(const QString& path) {
    std::vector<int16_t> values;
    // Non-blocking open so a pipe named like a sample cannot stall the window; only
    // regular files are read.
    const int fd = ::open(names::toBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::lseek(fd, kTraceFirstOffset, SEEK_SET) != kTraceFirstOffset) {
        if (fd >= 0)
            ::close(fd);
        values.push_back(0);
        return values;
    }
    if (st.st_size > kTraceFirstOffset)
        values.reserve(static_cast<size_t>((st.st_size - kTraceFirstOffset) / kTraceRecordBytes) +
                       1);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    // Whole records per chunk, so every chunk starts on a record.
    constexpr size_t kChunk = 8192 * kTraceRecordBytes;  // 1 MiB
    std::vector<std::byte> buffer(kChunk);
    for (;;) {
        const ssize_t got = readFully(fd, buffer.data(), kChunk);
        // A read error ends the file where it happened.
        const size_t size = got < 0 ? 0 : static_cast<size_t>(got);
        if (!takeRecords(std::span<const std::byte>(buffer.data(), size), size < kChunk, values))
            break;
    }
    ::close(fd);
    return values;
}

TraceGeometry TracePoints(std::span<const int16_t> values, float w, float h) {
    TraceGeometry g;
    for (int16_t v : values) {
        g.lo = std::min(g.lo, v);
        g.hi = std::max(g.hi, v);
    }
    const float n = 44.0f + static_cast<float>(values.size());
    const float half = h / 2.0f;
    g.step = w / n;
    g.scale = static_cast<float>(g.hi - g.lo) / half;
    // Without a non-zero value there is nothing to scale by: draw the centre line.
    const bool flat = !(g.scale > 0.0f);

    g.points.reserve(static_cast<qsizetype>(values.size()) + 1);
    g.points.append(QPointF(100.0f, half));
    float x = 0.0f;
    for (int16_t v : values) {
        x = x + g.step;
        const float y = flat ? half : static_cast<float>(v) / g.scale + half;
        g.points.append(QPointF(x, y));
        if (x > w)
            break;
    }
    return g;
}

}  // namespace zb::voices
