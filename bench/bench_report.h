#pragma once

// One machine-readable line per figure, which bench/run gathers into its table:
//   bench-figure <TAB> name <TAB> unit <TAB> samples <TAB> baseline samples
// Samples are comma-separated; "-" when a figure has no baseline.

#include <cstdio>
#include <string>
#include <vector>

namespace lumory::bench {

inline std::string joinedSamples(const std::vector<double>& samples) {
    if (samples.empty()) return "-";
    std::string text;
    char number[64];
    for (double sample : samples) {
        std::snprintf(number, sizeof number, "%s%.6g", text.empty() ? "" : ",", sample);
        text += number;
    }
    return text;
}

inline void reportFigure(const std::string& name, const std::string& unit,
                         const std::vector<double>& samples,
                         const std::vector<double>& baseline = {}) {
    std::printf("bench-figure\t%s\t%s\t%s\t%s\n", name.c_str(), unit.c_str(),
                joinedSamples(samples).c_str(), joinedSamples(baseline).c_str());
    std::fflush(stdout);
}

}  // namespace lumory::bench
