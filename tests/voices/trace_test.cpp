#include "voices/trace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <random>

#include "support/wav_fixtures.h"

namespace zb::voices {
namespace {

std::vector<std::byte> bytesOf(size_t size, std::initializer_list<std::pair<size_t, uint8_t>> set) {
    std::vector<std::byte> b(size, std::byte{0x55});
    for (auto [at, v] : set) b[at] = std::byte{v};
    return b;
}

TEST(TraceValuesTest, RecordsFromOffset5504UntilTheReadThatMeetsTheEnd) {
    const struct {
        const char* what;
        std::vector<std::byte> bytes;
        std::vector<int16_t> expected;
    } cases[] = {
        {"empty file", {}, {0}},
        {"ends before the first record", bytesOf(5504, {}), {0}},
        {"one byte of the last read: the rest reads as zero",
         bytesOf(5505, {{5504, 0x34}}),
         {0x34}},
        {"two bytes of the last read", bytesOf(5506, {{5504, 0x34}, {5505, 0x12}}), {0x1234}},
        {"one whole record, then a read that finds nothing",
         bytesOf(5504 + 128, {{5504, 0xFF}, {5505, 0xFF}}),
         {-1, 0}},
        {"whole record and a partial one",
         bytesOf(5504 + 130, {{5504, 0x00}, {5505, 0x80}, {5632, 0xFF}, {5633, 0x7F}}),
         {-32768, 32767}},
        {"three records and ten bytes",
         bytesOf(5504 + 3 * 128 + 10, {{5504, 1},
                                       {5505, 0},
                                       {5632, 2},
                                       {5633, 0},
                                       {5760, 3},
                                       {5761, 0},
                                       {5888, 4},
                                       {5889, 0}}),
         {1, 2, 3, 4}},
    };
    for (const auto& c : cases) EXPECT_EQ(TraceValuesFromBytes(c.bytes), c.expected) << c.what;
}

TEST(TracePointsTest, FloatGeometryOfTheSpecifiedSteps) {
    const int16_t values[] = {1000, -2000, 500};
    const TraceGeometry g = TracePoints(values, 7335.0f, 255.0f);
    EXPECT_EQ(g.lo, -2000);
    EXPECT_EQ(g.hi, 1000);
    EXPECT_FLOAT_EQ(g.step, 7335.0f / 47.0f);
    EXPECT_FLOAT_EQ(g.scale, 3000.0f / 127.5f);
    ASSERT_EQ(g.points.size(), 4);
    // The first line starts at (100, H/2); x then starts from 0.
    EXPECT_EQ(g.points[0], QPointF(100.0, 127.5));
    const float step = 7335.0f / 47.0f;
    const float expectX[] = {step, step + step, step + step + step};
    const float expectY[] = {170.0f, 42.5f, 148.75f};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(g.points[k + 1].x(), static_cast<double>(expectX[k])) << k;
        EXPECT_FLOAT_EQ(static_cast<float>(g.points[k + 1].y()), expectY[k]) << k;
    }
}

TEST(TracePointsTest, NoNonZeroValueDrawsTheCentreLine) {
    const int16_t zeros[] = {0, 0, 0, 0, 0};
    const TraceGeometry g = TracePoints(zeros, 7335.0f, 255.0f);
    EXPECT_EQ(g.scale, 0.0f);
    ASSERT_EQ(g.points.size(), 6);
    for (const QPointF& p : g.points) EXPECT_EQ(p.y(), 127.5);
    EXPECT_FLOAT_EQ(static_cast<float>(g.points.back().x()), 5 * 7335.0f / 49.0f);
}

TEST(TracePointsTest, OnlyNegativeValuesScaleByTheirDistanceFromZero) {
    const int16_t values[] = {-100, -50};
    const TraceGeometry g = TracePoints(values, 100.0f, 100.0f);
    EXPECT_EQ(g.hi, 0);
    EXPECT_EQ(g.lo, -100);
    EXPECT_FLOAT_EQ(g.scale, 2.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(g.points[1].y()), 0.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(g.points[2].y()), 25.0f);
}

class TraceFileTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(TraceFileTest, FileReadingMatchesTheByteRuleAcrossChunkBoundaries) {
    std::mt19937 rng(7);
    // Sizes around the 1 MiB chunk boundary and the record boundary.
    const size_t sizes[] = {0,
                            100,
                            5504,
                            5505,
                            5504 + 1048576,
                            5504 + 1048576 + 1,
                            5504 + 1048576 - 1,
                            5504 + 2 * 1048576 + 129,
                            3'000'017};
    for (size_t size : sizes) {
        std::vector<std::byte> bytes(size);
        for (auto& b : bytes) b = std::byte(rng() & 0xFF);
        const QString p = path(QString("f%1.wav").arg(size));
        test::writeBytes(p.toStdString(),
                         std::string(reinterpret_cast<const char*>(bytes.data()), size));
        EXPECT_EQ(ReadTraceValues(p), TraceValuesFromBytes(bytes)) << size;
    }
}

TEST_F(TraceFileTest, WhatCannotBeReadTracesLikeAnEmptyFile) {
    const std::vector<int16_t> empty{0};
    EXPECT_EQ(ReadTraceValues(path("missing.wav")), empty);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.wav"));
    EXPECT_EQ(ReadTraceValues(path("folder.wav")), empty);
    // A pipe must not block the window.
    const QString fifo = path("pipe.wav");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(ReadTraceValues(fifo), empty);
}

TEST_F(TraceFileTest, GeneratedSampleTracesItsSamplesAtEvery64thFrame) {
    // Mono 16-bit: the 44-byte header puts byte 5504 at frame 2730, and a record spans 64
    // frames.
    const int64_t frames = 2730 + 64 * 10 + 5;
    std::vector<float> samples(frames);
    for (int64_t f = 0; f < frames; ++f)
        samples[f] = ((f % 64) == 42 ? 0.5f : 0.0f) - static_cast<float>(f % 3) * 0.01f;
    const QString p = path(QString::fromUtf8("generated kick \u00e4.wav"));
    ASSERT_TRUE(test::writeWav(QFile::encodeName(p).toStdString(), {}, samples));
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_EQ(bytes.size(), 44 + 2 * frames) << "expected a canonical header";

    std::vector<int16_t> expected;
    for (int64_t frame = 2730; frame < frames; frame += 64) {
        int16_t v;
        std::memcpy(&v, bytes.constData() + 44 + 2 * frame, 2);
        expected.push_back(v);
    }
    // The last record is partial (5 frames = 10 bytes): its value still comes from the file.
    EXPECT_EQ(expected.size(), 11u);
    const std::vector<int16_t> values = ReadTraceValues(p);
    EXPECT_EQ(values, expected);
    EXPECT_NE(values.front(), 0);

    const TraceGeometry g = TracePoints(values, 7335.0f, 255.0f);
    ASSERT_EQ(g.points.size(), 12);
    const float step = 7335.0f / (44.0f + 11.0f);
    float x = 0.0f;
    for (size_t k = 0; k < values.size(); ++k) {
        x = x + step;
        EXPECT_EQ(g.points[qsizetype(k) + 1],
                  QPointF(x, static_cast<float>(values[k]) / g.scale + 127.5f))
            << k;
    }
}

}  // namespace
}  // namespace zb::voices
