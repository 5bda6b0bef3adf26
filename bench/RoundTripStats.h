// Summary of a set of round-trip times.
#pragma once

#include <cstdint>
#include <vector>

struct RoundTripStats {
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
};

// Sorts the samples (nanoseconds) in place.
RoundTripStats summarize(std::vector<int64_t>& samplesNs);
