#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumory::audio {

// The fixed float-to-PCM rule: clamp to [-1, 1] (NaN counts as 1), scale by 32767 in float
// arithmetic, truncate toward zero. Never yields -32768.
inline std::int16_t pcmFromFloat(float x) {
    float c = x < 1.0f ? x : 1.0f;
    if (c < -1.0f) c = -1.0f;
    float y = c * 32767.0f;
    return static_cast<std::int16_t>(y);
}

// Converts a delivered buffer of native float samples; trailing bytes short of a whole float are
// ignored. Returns the little-endian 16-bit samples, exactly one per whole float.
std::vector<std::int16_t> convertSamples(std::span<const std::byte> floats);

}  // namespace lumory::audio
