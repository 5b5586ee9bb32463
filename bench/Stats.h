// SPDX-License-Identifier: GPL-3.0-or-later
// Median and worst of a set of samples, and one table row per measure.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

struct Summary {
    double median = 0;
    double worst = 0;
};

inline Summary Summarise(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return {median, samples.back()};
}

// "| measure | runs | median | worst | target |"
inline void Row(const std::string& measure, std::size_t runs, const std::string& median, const std::string& worst,
                const std::string& target) {
    std::printf("| %s | %zu | %s | %s | %s |\n", measure.c_str(), runs, median.c_str(), worst.c_str(), target.c_str());
    std::fflush(stdout);
}

inline std::string Fixed(double value, const char* unit, int decimals = 2) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", decimals, value, unit);
    return buf;
}
