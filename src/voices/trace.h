// The trace of a sample: values taken from the file's bytes in 128-byte records, and the
// polyline they make in the waveform strip.
//
// Threads: any.
#pragma once

#include <QPointF>
#include <QString>
#include <QVector>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zb::voices {

// Records are 128 bytes, numbered from 1; the trace starts at record 44.
inline constexpr int64_t kTraceRecordBytes = 128;
inline constexpr int64_t kTraceFirstRecord = 44;
inline constexpr int64_t kTraceFirstOffset = (kTraceFirstRecord - 1) * kTraceRecordBytes;  // 5504

// One value per record read, from byte offsets 5504, 5632, ...: the record's first two
// bytes as a signed 16-bit little-endian number. Reading goes on until a read meets the end
// of the file (a record that is not complete); that read is the last one and counts. Bytes
// past the end read as zero, so the last read gives its first two bytes when the file still
// holds them and 0 otherwise. A file of up to 5504 bytes therefore gives exactly one 0.
std::vector<int16_t> TraceValuesFromBytes(std::span<const std::byte> bytes);

// The same values read from a file in large chunks. A path that cannot be opened as a
// regular file (gone, unreadable, a pipe) reads like an empty file; it never blocks.
std::vector<int16_t> ReadTraceValues(const QString& path);

struct TraceGeometry {
    int16_t lo = 0;
    int16_t hi = 0;
    float step = 0;
    float scale = 0;
    QVector<QPointF> points;  // the polyline, first point (100, H / 2)
};

// The polyline for a strip of width w and height h (drawing units), all arithmetic in
// 32-bit float: n = 44 + count, step = w / n, scale = (hi - lo) / (h / 2) with lo and hi
// the extremes of 0 and the values. The line starts at (100, h / 2); then x starts from 0
// and each value v adds the point (x + step, v / scale + h / 2), stopping after the first
// point with x > w. With no non-zero value the scale is 0 and the line runs flat along the
// centre.
TraceGeometry TracePoints(std::span<const int16_t> values, float w, float h);

}  // namespace zb::voices
