#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela {

// A 128-bit identifier. Printed as 36 hyphenated upper-case hex characters;
// parsed from that form in either letter case and nothing else.
class Uuid {
public:
    constexpr Uuid() = default;
    explicit constexpr Uuid(const std::array<std::uint8_t, 16>& bytes) : m_bytes(bytes) {}

    // A fresh random (version 4) identifier.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return m_bytes; }
    bool isNil() const;

    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;
    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

} // namespace fotivela

template <>
struct std::hash<fotivela::Uuid> {
    std::size_t operator()(const fotivela::Uuid& id) const noexcept
    {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        for (int i = 0; i < 8; ++i) {
            a = (a << 8) | id.bytes()[static_cast<std::size_t>(i)];
            b = (b << 8) | id.bytes()[static_cast<std::size_t>(i + 8)];
        }
        return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};
