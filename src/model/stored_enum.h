#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace fotivela {

// Each enumeration with stored strings specialises StoredEnum with one table:
// its cases in declaration order, each with the string written to files.
template <class E>
struct StoredEnum;

template <class E>
constexpr std::string_view toStored(E value)
{
    return StoredEnum<E>::table[static_cast<std::size_t>(value)].second;
}

// Exact match against the table; older spellings are the decoders' business.
template <class E>
constexpr std::optional<E> fromStored(std::string_view text)
{
    for (const auto& [value, stored] : StoredEnum<E>::table)
        if (stored == text)
            return value;
    return std::nullopt;
}

template <class E>
constexpr auto allCases()
{
    constexpr auto& table = StoredEnum<E>::table;
    std::array<E, table.size()> cases{};
    for (std::size_t i = 0; i < table.size(); ++i)
        cases[i] = table[i].first;
    return cases;
}

} // namespace fotivela
