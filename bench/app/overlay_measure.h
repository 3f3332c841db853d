#pragma once

// What the overlay benchmark reads off its streams and the screen: where a burst of sound starts
// in 16-bit PCM, which burst an onset belongs to, and where the meter is in two pictures of the
// overlay. Kept apart from the display and the sound server so each can be checked on its own.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumory::bench {

using OverlayClock = std::chrono::steady_clock;

// The first loud sample of each burst in a stream of signed 16-bit little-endian mono samples
// that arrives in chunks of any size: loud after at least `quietSamples` quiet ones.
class SoundOnsets {
public:
    explicit SoundOnsets(std::size_t quietSamples, int loudAbove = 3000)
        : quietSamples_(quietSamples), loudAbove_(loudAbove), quietRun_(quietSamples) {}

    void consume(const char* data, std::size_t size, OverlayClock::time_point now) {
        pending_.append(data, size);
        std::size_t whole = pending_.size() / 2 * 2;
        for (std::size_t index = 0; index < whole; index += 2) {
            auto value = static_cast<int16_t>(static_cast<uint8_t>(pending_[index]) |
                                              (static_cast<uint8_t>(pending_[index + 1]) << 8));
            if (std::abs(int(value)) > loudAbove_) {
                if (quietRun_ >= quietSamples_) onsets_.push_back(now);
                quietRun_ = 0;
            } else {
                ++quietRun_;
            }
        }
        // A sample split between two chunks is decoded once its second byte arrives.
        pending_.erase(0, whole);
    }

    const std::vector<OverlayClock::time_point>& onsets() const { return onsets_; }

private:
    std::size_t quietSamples_;
    int loudAbove_;
    std::size_t quietRun_;
    std::string pending_;
    std::vector<OverlayClock::time_point> onsets_;
};

// Each onset's delay in ms after the last burst started before it (`started` in time order);
// onsets before the first burst are not delays of any burst. One onset per burst at most: a
// later onset of the same burst would be an echo, not its lag.
inline std::vector<double> delaysAfterBursts(const std::vector<OverlayClock::time_point>& started,
                                             const std::vector<OverlayClock::time_point>& onsets) {
    std::vector<double> delays;
    std::vector<bool> taken(started.size(), false);
    for (auto onset : onsets) {
        auto played = std::upper_bound(started.begin(), started.end(), onset);
        if (played == started.begin()) continue;
        std::size_t burst = std::size_t(played - started.begin()) - 1;
        if (taken[burst]) continue;
        taken[burst] = true;
        delays.push_back(std::chrono::duration<double, std::milli>(onset - started[burst]).count());
    }
    return delays;
}

// The nearest-rank percentile (`share` from 0 to 1); NaN for no values.
inline double percentile(std::vector<double> values, double share) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * double(values.size() - 1) + 0.5)];
}

inline int differingPixels(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return int(std::max(a.size(), b.size()));
    int count = 0;
    for (std::size_t index = 0; index < a.size(); ++index) count += a[index] != b[index];
    return count;
}

// The row of two same-sized pictures (0xRRGGBB, row after row) where they differ in most pixels,
// with that count: the meter's bar, between a picture with sound and one without.
inline std::optional<std::pair<int, int>> busiestRow(const std::vector<uint32_t>& loud,
                                                      const std::vector<uint32_t>& quiet,
                                                      int width) {
    if (width <= 0 || loud.size() != quiet.size() || loud.size() % std::size_t(width) != 0)
        return std::nullopt;
    int best = -1, bestCount = 0;
    const int height = int(loud.size() / std::size_t(width));
    for (int row = 0; row < height; ++row) {
        int count = 0;
        for (int column = 0; column < width; ++column) {
            std::size_t index = std::size_t(row) * width + column;
            count += loud[index] != quiet[index];
        }
        if (count > bestCount) {
            bestCount = count;
            best = row;
        }
    }
    if (best < 0) return std::nullopt;
    return std::make_pair(best, bestCount);
}

// The centre of the strongly red pixels in the right half of a picture (`width` wide): the dot
// of the page's "Live" button, the only such red in its top bar. Nothing below `least` pixels.
inline std::optional<std::pair<int, int>> redDotCentre(const std::vector<uint32_t>& pixels,
                                                        int width, int least = 4) {
    if (width <= 0) return std::nullopt;
    long sumX = 0, sumY = 0, count = 0;
    const int height = int(pixels.size() / std::size_t(width));
    for (int row = 0; row < height; ++row) {
        for (int column = width / 2; column < width; ++column) {
            uint32_t pixel = pixels[std::size_t(row) * width + column];
            int red = int(pixel >> 16) & 0xff;
            int green = int(pixel >> 8) & 0xff;
            int blue = int(pixel) & 0xff;
            if (red > 190 && green < 70 && blue < 80) {
                sumX += column;
                sumY += row;
                ++count;
            }
        }
    }
    if (count < least) return std::nullopt;
    return std::make_pair(int(sumX / count), int(sumY / count));
}

}  // namespace lumory::bench
