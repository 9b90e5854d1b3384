#pragma once

#include <algorithm>
#include <vector>

namespace ostrel::bench {

// The median of samples taken in turn with their reference: one sample a side says little on a
// machine that does other work meanwhile.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) {
        return 0;
    }
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace ostrel::bench
