// Cost of turning delivered float buffers into PCM, per sample, against copying the same bytes.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../bench_report.h"
#include "sample_conversion.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Work>
double nanosecondsPerSample(std::size_t samplesPerRound, int rounds, Work work) {
    auto start = Clock::now();
    for (int r = 0; r < rounds; ++r) work();
    std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    return elapsed.count() / (double(samplesPerRound) * rounds);
}

}  // namespace

int main() {
    // One 20 ms buffer at 24 kHz, the size the helper receives.
    const std::size_t samples = 480;
    std::vector<float> input(samples);
    for (std::size_t i = 0; i < samples; ++i) input[i] = 1.2f * std::sin(0.05f * float(i));
    std::vector<std::byte> bytes(samples * sizeof(float));
    std::memcpy(bytes.data(), input.data(), bytes.size());
    const int rounds = 200000;

    volatile std::int16_t sink = 0;
    std::vector<std::byte> copy(bytes.size());
    auto baseline = [&] {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        sink = static_cast<std::int16_t>(copy[7]);
    };
    auto convert = [&] {
        std::vector<std::int16_t> pcm = lumory::audio::convertSamples(bytes);
        sink = pcm[7];
    };
    for (int warm = 0; warm < 1000; ++warm) {
        baseline();
        convert();
    }
    double copyCost = nanosecondsPerSample(samples, rounds, baseline);
    double convertCost = nanosecondsPerSample(samples, rounds, convert);
    std::printf("conversion: %.3f ns/sample (with the buffer's allocation)\n", convertCost);
    std::printf("baseline copy of the same floats: %.3f ns/sample\n", copyCost);
    std::printf("ratio conversion/copy: %.2f\n", convertCost / copyCost);
    lumory::bench::reportFigure("audio sample conversion", "ns per sample", {convertCost},
                                {copyCost});
    std::printf("share of one core at 24000 samples/s: %.5f %%\n", convertCost * 24000 / 1e7);
    return 0;
}
