#pragma once
// Medians and percentiles of the timings the benchmarks collect.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qvr::bench {

inline double mediana(std::vector<double> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

// The value below which a share `p` (0..1) of the timings lie.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

} // namespace qvr::bench
