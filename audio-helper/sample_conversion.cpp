#include "sample_conversion.h"

#include <bit>
#include <cstring>

#if defined(__FAST_MATH__)
#error "fast math changes how NaN converts; build this file without -ffast-math"
#endif

namespace lumory::audio {

std::vector<std::int16_t> convertSamples(std::span<const std::byte> floats) {
    const std::size_t count = floats.size() / sizeof(float);
    std::vector<std::int16_t> samples(count);
    const std::byte* source = floats.data();
    for (std::size_t i = 0; i < count; ++i) {
        float x;
        // The server's buffers carry no alignment promise for float reads.
        std::memcpy(&x, source + i * sizeof(float), sizeof x);
        std::int16_t sample = pcmFromFloat(x);
        if constexpr (std::endian::native == std::endian::big) {
            sample = static_cast<std::int16_t>(__builtin_bswap16(static_cast<std::uint16_t>(sample)));
        }
        samples[i] = sample;
    }
    return samples;
}

}  // namespace lumory::audio
