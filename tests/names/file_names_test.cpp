#include "names/file_names.h"

#include <gtest/gtest.h>

#include <random>

namespace zb {
namespace {

// Any byte string survives the trip through a QString; UTF-8 reads as Qt reads it.
TEST(FileNames, EveryByteSurvivesAndUtf8ReadsAsQtReadsIt) {
    const QByteArray awkward[] = {
        "plain.wav",
        "\xc3\xa9t\xc3\xa9 \xe2\x99\xab \xf0\x9f\xa5\x81.wav",  // UTF-8 up to four bytes
        "latin1 \xe9t\xe9 \xff\xfe.wav",
        "\xc0\x80 overlong, \xed\xa0\x80 surrogate, \xf4\x90\x80\x80 beyond U+10FFFF",
        "truncated \xe2\x82",
        "\xed\xb2\x80",  // the bytes of an escaped byte's own code unit
    };
    for (const QByteArray& bytes : awkward)
        EXPECT_EQ(names::toBytes(names::fromBytes(bytes)), bytes) << bytes.toHex().constData();
    std::mt19937 random(7);
    for (int n = 0; n < 2000; ++n) {
        QByteArray bytes(static_cast<int>(random() % 12), '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 255 + 1);
        ASSERT_EQ(names::toBytes(names::fromBytes(bytes)), bytes) << bytes.toHex().constData();
    }
    EXPECT_EQ(names::fromBytes(awkward[1]), QString::fromUtf8(awkward[1]));
    EXPECT_FALSE(names::holdsRawBytes(names::fromBytes(awkward[1])));
    EXPECT_TRUE(names::holdsRawBytes(names::fromBytes(awkward[2])));
    EXPECT_EQ(names::shown(names::fromBytes("a\xff"
                                            "b")),
              QStringLiteral(u"a\uFFFDb"));
}

}  // namespace
}  // namespace zb
