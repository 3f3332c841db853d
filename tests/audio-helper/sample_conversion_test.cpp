#include "sample_conversion.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "write_recorder.h"

namespace {

using lumory::audio::convertSamples;
using lumory::audio::pcmFromFloat;
using lumory::audio::testing::floatBytes;

TEST(SampleConversion, ClampsScalesAndTruncatesTowardZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        std::int16_t out;
    } cases[] = {
        {1.0f, 32767},     {-1.0f, -32767},   {1.5f, 32767},      {-2.0f, -32767},
        {inf, 32767},      {-inf, -32767},    {0.5f, 16383},      {-0.5f, -16383},
        {0.00002f, 0},     {-0.00002f, 0},    {0.0f, 0},          {-0.0f, 0},
        {0.99999f, 32766}, {-0.99999f, -32766},
    };
    for (const auto& c : cases) EXPECT_EQ(pcmFromFloat(c.in), c.out) << "input " << c.in;
}

TEST(SampleConversion, NotANumberGivesFullScale) {
    EXPECT_EQ(pcmFromFloat(std::numeric_limits<float>::quiet_NaN()), 32767);
    EXPECT_EQ(pcmFromFloat(-std::numeric_limits<float>::quiet_NaN()), 32767);
    EXPECT_EQ(pcmFromFloat(std::numeric_limits<float>::signaling_NaN()), 32767);
}

// Any float bit pattern must land in [-32767, 32767] without undefined conversion.
TEST(SampleConversion, ArbitraryBitPatternsStayInRange) {
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        std::uint32_t bits = random();
        float x;
        std::memcpy(&x, &bits, sizeof x);
        std::int16_t s = pcmFromFloat(x);
        ASSERT_GE(s, -32767) << bits;
        if (!std::isnan(x)) {
            ASSERT_FALSE((x > 0 && s < 0) || (x < 0 && s > 0)) << bits;
        }
    }
}

TEST(SampleConversion, BufferGivesOneSamplePerWholeFloat) {
    std::vector<std::byte> buffer(4096);
    EXPECT_EQ(convertSamples(buffer).size(), 1024u);

    std::vector<std::byte> six = floatBytes({0.5f, 0.25f});
    six.resize(6);
    std::vector<std::int16_t> one = convertSamples(six);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], 16383);

    EXPECT_TRUE(convertSamples(std::span(buffer).first(3)).empty());
    EXPECT_TRUE(convertSamples({}).empty());
}

}  // namespace
