#pragma once

#include <utility>
#include <vector>

namespace fotivela::stem_separator {

// The median of a fixed, odd number of values by a compare-exchange network
// (Batcher's odd-even merge sort, cut down to the comparisons the middle value
// depends on). Run element by element over whole arrays, it has no branches
// and vectorises, which makes median filtering of spectra cheap.
class MedianNetwork {
public:
    explicit MedianNetwork(int count);

    int count() const { return m_count; }
    const std::vector<std::pair<int, int>>& comparisons() const { return m_comparisons; }

    // out[k] = the median of columns[0][k] … columns[count - 1][k], for k < length.
    // Reorders the columns' values.
    void apply(float* const* columns, int length, float* out) const;

private:
    int m_count;
    std::vector<std::pair<int, int>> m_comparisons;
};

} // namespace fotivela::stem_separator
