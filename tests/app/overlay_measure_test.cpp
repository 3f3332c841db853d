// The overlay benchmark's readings: a wrong one gives a plausible but false lag, so each is
// checked against streams and pictures whose answer is known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "overlay_measure.h"

namespace lumory::bench {
namespace {

using namespace std::chrono_literals;

std::string pcm(const std::vector<int16_t>& samples) {
    std::string bytes;
    for (int16_t sample : samples) {
        auto value = static_cast<uint16_t>(sample);
        bytes.push_back(char(value & 0xff));
        bytes.push_back(char(value >> 8));
    }
    return bytes;
}

TEST(SoundOnsetsTest, FindsEachBurstOnceAfterEnoughQuietWhateverTheChunking) {
    const auto t0 = OverlayClock::time_point{};
    // A burst at the very start, then a gap too short to end it, then a real second burst;
    // negative samples are as loud as positive ones.
    std::vector<int16_t> samples(3, 0);
    samples.insert(samples.end(), {12000, -12000, 12000});
    samples.insert(samples.end(), 5, 0);
    samples.push_back(-9000);  // within the first burst: only 5 quiet samples before it
    samples.insert(samples.end(), 10, 100);
    samples.push_back(-9000);
    std::string bytes = pcm(samples);

    SoundOnsets whole(8);
    whole.consume(bytes.data(), bytes.size(), t0);
    ASSERT_EQ(whole.onsets().size(), 2u);

    // Three bytes at a time splits every other sample between two reads; each read is stamped
    // with its own time, so the stamps tell where each onset was seen.
    SoundOnsets split(8);
    for (size_t offset = 0; offset < bytes.size(); offset += 3) {
        split.consume(bytes.data() + offset, std::min<size_t>(3, bytes.size() - offset),
                      t0 + std::chrono::milliseconds(offset));
    }
    ASSERT_EQ(split.onsets().size(), 2u);
    // Sample 3 is bytes 6-7, read with offset 6; sample 22 is bytes 44-45, completed by the read
    // at offset 45.
    EXPECT_EQ(split.onsets()[0], t0 + 6ms);
    EXPECT_EQ(split.onsets()[1], t0 + 45ms);
}

TEST(SoundOnsetsTest, QuietNoiseBelowTheThresholdIsNoOnset) {
    std::string bytes = pcm(std::vector<int16_t>(100, -3000));
    SoundOnsets onsets(8);
    onsets.consume(bytes.data(), bytes.size(), OverlayClock::time_point{});
    EXPECT_TRUE(onsets.onsets().empty());
}

TEST(DelaysAfterBurstsTest, PairsEachOnsetWithTheBurstBeforeItAndCountsEachBurstOnce) {
    const auto t0 = OverlayClock::time_point{};
    std::vector<OverlayClock::time_point> started = {t0 + 100ms, t0 + 1000ms, t0 + 2000ms};
    // Before any burst (ignored), burst 1 at 30 ms, an echo of burst 1 (ignored), nothing for
    // burst 2, burst 3 at 45 ms.
    std::vector<OverlayClock::time_point> onsets = {t0 + 50ms, t0 + 130ms, t0 + 600ms,
                                                    t0 + 2045ms};
    EXPECT_EQ(delaysAfterBursts(started, onsets), (std::vector<double>{30, 45}));
}

TEST(PercentileTest, NearestRankOverUnsortedValues) {
    std::vector<double> values;
    for (int value = 20; value >= 1; --value) values.push_back(value);
    EXPECT_EQ(percentile(values, 0.5), 11);
    EXPECT_EQ(percentile(values, 0.95), 19);
    EXPECT_EQ(percentile(values, 1.0), 20);
    EXPECT_TRUE(std::isnan(percentile({}, 0.95)));
}

TEST(OverlayPicturesTest, FindsTheMeterRowAndTheLiveDot) {
    const int width = 10, height = 4;
    std::vector<uint32_t> quiet(width * height, 0x1e1e22);
    std::vector<uint32_t> loud = quiet;
    for (int column = 0; column < 7; ++column) loud[2 * width + column] = 0x33d17a;  // the bar
    loud[1 * width + 4] = 0xffffff;                                                   // a digit
    auto row = busiestRow(loud, quiet, width);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->first, 2);
    EXPECT_EQ(row->second, 7);
    EXPECT_EQ(differingPixels(loud, quiet), 8);
    EXPECT_FALSE(busiestRow(quiet, quiet, width));
    EXPECT_FALSE(busiestRow(loud, std::vector<uint32_t>(5), width));

    // A red dot in the left half (another control) does not count; the one on the right does.
    std::vector<uint32_t> bar(width * height, 0xf6f5f4);
    bar[1 * width + 1] = bar[2 * width + 1] = 0xe01b24;
    EXPECT_FALSE(redDotCentre(bar, width, 2));
    for (int y : {1, 2}) {
        for (int x : {7, 8}) bar[y * width + x] = 0xe01b24;
    }
    auto dot = redDotCentre(bar, width, 4);
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->first, 7);  // (7 + 8) / 2, rounded down
    EXPECT_EQ(dot->second, 1);
}

}  // namespace
}  // namespace lumory::bench
