#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace fotivela {

// One property-list value: what the preferences file holds, in memory.
struct PlistValue {
    using Data = std::vector<std::uint8_t>;
    using Date = std::chrono::system_clock::time_point;
    using Array = std::vector<PlistValue>;
    using Dictionary = std::map<std::string, PlistValue>;

    std::variant<Data, std::string, bool, double, std::int64_t, Date, Array, Dictionary> value;

    PlistValue() = default;
    PlistValue(Data v) : value(std::move(v)) {}
    PlistValue(std::string v) : value(std::move(v)) {}
    PlistValue(const char* v) : value(std::string(v)) {}
    PlistValue(bool v) : value(v) {}
    PlistValue(double v) : value(v) {}
    PlistValue(std::int64_t v) : value(v) {}
    PlistValue(int v) : value(std::int64_t{v}) {}
    PlistValue(Date v) : value(v) {}
    PlistValue(Array v) : value(std::move(v)) {}
    PlistValue(Dictionary v) : value(std::move(v)) {}

    bool operator==(const PlistValue&) const = default;

    // The value when it holds that type; readers check the type and fall back to their own default.
    template <class T> const T* as() const { return std::get_if<T>(&value); }
};

// Parses a property list of any format libplist reads (binary or XML). Nothing when the bytes are
// not a property list.
std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes);

// Serialises a value as a binary property list (format version 1.0). Throws std::invalid_argument
// when a text or key is not well-formed UTF-8 or holds a NUL: it would not read back.
std::vector<std::uint8_t> binaryPropertyList(const PlistValue& value);

} // namespace fotivela
