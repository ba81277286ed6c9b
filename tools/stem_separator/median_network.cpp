#include "median_network.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace fotivela::stem_separator {

MedianNetwork::MedianNetwork(int count) : m_count(count)
{
    if (count < 1 || count % 2 == 0)
        throw std::invalid_argument("median network needs an odd count");
    int size = 1;
    while (size < count)
        size *= 2;
    // The full sorting network for the next power of two. Positions from `count` up
    // hold +infinity in thought, so a comparison that touches one changes nothing.
    std::vector<std::pair<int, int>> sorting;
    for (int p = 1; p < size; p *= 2)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j + k < size; j += 2 * k)
                for (int i = 0; i < std::min(k, size - j - k); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p) && i + j + k < count)
                        sorting.emplace_back(i + j, i + j + k);
    // Walking back from the middle position, keep what it depends on.
    std::set<int> needed{count / 2};
    for (auto it = sorting.rbegin(); it != sorting.rend(); ++it)
        if (needed.contains(it->first) || needed.contains(it->second)) {
            needed.insert(it->first);
            needed.insert(it->second);
            m_comparisons.push_back(*it);
        }
    std::reverse(m_comparisons.begin(), m_comparisons.end());
}

void MedianNetwork::apply(float* const* columns, int length, float* out) const
{
    for (const auto& [a, b] : m_comparisons) {
        float* low = columns[a];
        float* high = columns[b];
        for (int k = 0; k < length; ++k) {
            const float x = low[k];
            const float y = high[k];
            low[k] = std::min(x, y);
            high[k] = std::max(x, y);
        }
    }
    const float* middle = columns[m_count / 2];
    std::copy(middle, middle + length, out);
}

} // namespace fotivela::stem_separator
