#include "RoundTripStats.h"

#include <algorithm>
#include <cmath>

namespace {

// Nearest rank: the smallest sample with at least `fraction` of all at or below it.
double rankUs(const std::vector<int64_t>& sorted, double fraction) {
    const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    const size_t index = rank == 0 ? 0 : rank - 1;
    return static_cast<double>(sorted[std::min(index, sorted.size() - 1)]) / 1000.0;
}

}  // namespace

RoundTripStats summarize(std::vector<int64_t>& samplesNs) {
    RoundTripStats stats;
    if (samplesNs.empty()) return stats;
    std::sort(samplesNs.begin(), samplesNs.end());
    stats.medianUs = rankUs(samplesNs, 0.5);
    stats.p99Us = rankUs(samplesNs, 0.99);
    stats.maxUs = static_cast<double>(samplesNs.back()) / 1000.0;
    return stats;
}
