#include "stem_separator/median_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace fotivela::stem_separator {
namespace {

// Every odd size a model may use, on random values with ties, against a plain sort.
TEST(MedianNetwork, GivesTheMiddleValueOfEveryColumnForEveryOddCount)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> value(0, 9); // few distinct values: many ties
    constexpr int length = 67;
    for (int count = 1; count <= 41; count += 2) {
        const MedianNetwork network(count);
        std::vector<std::vector<float>> columns(static_cast<std::size_t>(count), std::vector<float>(length));
        for (auto& column : columns)
            for (float& v : column)
                v = static_cast<float>(value(random)) + (count > 20 ? 0.5f * static_cast<float>(value(random)) : 0.0f);
        std::vector<float> expected(length);
        for (int k = 0; k < length; ++k) {
            std::vector<float> values;
            for (const auto& column : columns)
                values.push_back(column[static_cast<std::size_t>(k)]);
            std::sort(values.begin(), values.end());
            expected[static_cast<std::size_t>(k)] = values[static_cast<std::size_t>(count / 2)];
        }
        std::vector<float*> pointers;
        for (auto& column : columns)
            pointers.push_back(column.data());
        std::vector<float> out(length);
        network.apply(pointers.data(), length, out.data());
        EXPECT_EQ(out, expected) << count << " values";
    }
    // Pruned to what the middle depends on: far fewer than a full sort of 17.
    EXPECT_LT(MedianNetwork(17).comparisons().size(), 80u);
}

} // namespace
} // namespace fotivela::stem_separator
