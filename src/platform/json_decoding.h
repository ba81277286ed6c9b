#pragma once

#include "platform/error.h"
#include "platform/uuid.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace fotivela {

// Where a value lies in the document, kept as a chain on the stack and
// turned into text ("audio.beatMarkers[3].kind") only when decoding fails.
class JsonPath {
public:
    JsonPath() = default;

    JsonPath member(std::string_view key) const { return JsonPath(this, key, npos); }
    JsonPath element(std::size_t index) const { return JsonPath(this, {}, index); }
    std::string toString() const;

private:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    JsonPath(const JsonPath* parent, std::string_view key, std::size_t index)
        : m_parent(parent), m_key(key), m_index(index)
    {
    }

    const JsonPath* m_parent = nullptr;
    std::string_view m_key;
    std::size_t m_index = npos;
};

// The document cannot be read as the record it should hold. The whole
// decode fails with it; no partial record results.
class JsonDecodingError : public Error {
public:
    enum class Kind { dataCorrupted, keyNotFound, valueNotFound, typeMismatch };

    JsonDecodingError(Kind kind, std::string path, std::string detail);
    // A failure whose user message is given as it stands.
    JsonDecodingError(std::string path, std::string detail, const std::string& userMessage);

    Kind kind() const { return m_kind; }
    const std::string& path() const { return m_path; }
    const std::string& detail() const { return m_detail; }

private:
    Kind m_kind = Kind::dataCorrupted;
    std::string m_path;
    std::string m_detail;
};

// Containers nested deeper than this are refused before the tree is built.
inline constexpr int jsonMaximumNestingDepth = 512;

// Parses one JSON text strictly (RFC 8259, valid UTF-8, one value, at most
// jsonMaximumNestingDepth levels of nesting).
nlohmann::json parseFotivelaJson(std::string_view text);

[[noreturn]] void throwJsonTypeMismatch(const JsonPath& path, std::string_view expected);
[[noreturn]] void throwJsonDataCorrupted(const JsonPath& path, std::string detail);

// Readers of single values: each checks the JSON type and the value's form.
bool readJsonBool(const nlohmann::json& j, const JsonPath& path);
std::int64_t readJsonInt64(const nlohmann::json& j, const JsonPath& path);
double readJsonDouble(const nlohmann::json& j, const JsonPath& path);
const std::string& readJsonString(const nlohmann::json& j, const JsonPath& path);
Uuid readJsonUuid(const nlohmann::json& j, const JsonPath& path);
std::chrono::system_clock::time_point readJsonDate(const nlohmann::json& j, const JsonPath& path);
std::filesystem::path readJsonFileUrl(const nlohmann::json& j, const JsonPath& path);
const nlohmann::json::array_t& readJsonArray(const nlohmann::json& j, const JsonPath& path);

// Values in the program's written forms.
nlohmann::json jsonUuid(const Uuid& id);
nlohmann::json jsonDate(std::chrono::system_clock::time_point date); // throws JsonEncodingError out of range
nlohmann::json jsonFileUrl(const std::filesystem::path& path);

template <class Read>
using JsonReadResult = std::decay_t<std::invoke_result_t<Read, const nlohmann::json&, const JsonPath&>>;

// One JSON object being read: required keys must hold a value, optional keys
// may be missing or null, unknown keys are ignored.
class JsonObjectReader {
public:
    JsonObjectReader(const nlohmann::json& j, const JsonPath& path);

    // The value of a key; nullptr when it is missing or null.
    const nlohmann::json* find(std::string_view key) const;

    template <class Read>
    JsonReadResult<Read> required(std::string_view key, Read&& read) const
    {
        const auto found = m_object.find(key);
        if (found == m_object.end())
            throwMissing(key, false);
        if (found->second.is_null())
            throwMissing(key, true);
        const JsonPath child = m_path.member(key);
        return read(found->second, child);
    }

    template <class Read>
    std::optional<JsonReadResult<Read>> optional(std::string_view key, Read&& read) const
    {
        const auto* value = find(key);
        if (!value)
            return std::nullopt;
        const JsonPath child = m_path.member(key);
        return read(*value, child);
    }

    template <class Read, class Fallback>
    JsonReadResult<Read> optionalOr(std::string_view key, Read&& read, Fallback&& fallback) const
    {
        const auto* value = find(key);
        if (!value)
            return JsonReadResult<Read>(std::forward<Fallback>(fallback));
        const JsonPath child = m_path.member(key);
        return read(*value, child);
    }

    const JsonPath& path() const { return m_path; }

private:
    [[noreturn]] void throwMissing(std::string_view key, bool isNull) const;

    const nlohmann::json::object_t& m_object;
    JsonPath m_path;
};

// A JSON array read element by element.
template <class Read>
std::vector<JsonReadResult<Read>> readJsonList(const nlohmann::json& j, const JsonPath& path, Read&& read)
{
    const auto& array = readJsonArray(j, path);
    std::vector<JsonReadResult<Read>> result;
    result.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i)
        result.push_back(read(array[i], path.element(i)));
    return result;
}

// A set written as an array; a repeated member reads as one.
template <class Read>
std::set<JsonReadResult<Read>> readJsonSet(const nlohmann::json& j, const JsonPath& path, Read&& read)
{
    const auto& array = readJsonArray(j, path);
    std::set<JsonReadResult<Read>> result;
    for (std::size_t i = 0; i < array.size(); ++i)
        result.insert(read(array[i], path.element(i)));
    return result;
}

// A dictionary whose keys are not text, written as a flat array of
// alternating key and value. A later repeat of a key replaces the earlier.
template <class ReadKey, class ReadValue>
std::map<JsonReadResult<ReadKey>, JsonReadResult<ReadValue>>
readJsonFlatDictionary(const nlohmann::json& j, const JsonPath& path, ReadKey&& readKey, ReadValue&& readValue)
{
    const auto& array = readJsonArray(j, path);
    if (array.size() % 2 != 0)
        throwJsonDataCorrupted(path, "el diccionario termina dentro de un par clave-valor");
    std::map<JsonReadResult<ReadKey>, JsonReadResult<ReadValue>> result;
    for (std::size_t i = 0; i < array.size(); i += 2) {
        auto key = readKey(array[i], path.element(i));
        result.insert_or_assign(std::move(key), readValue(array[i + 1], path.element(i + 1)));
    }
    return result;
}

// A dictionary keyed by text, written as an object.
template <class ReadValue>
std::map<std::string, JsonReadResult<ReadValue>> readJsonTextDictionary(const nlohmann::json& j,
                                                                        const JsonPath& path, ReadValue&& readValue)
{
    if (!j.is_object())
        throwJsonTypeMismatch(path, "un objeto");
    std::map<std::string, JsonReadResult<ReadValue>> result;
    for (const auto& [key, value] : j.get_ref<const nlohmann::json::object_t&>())
        result.emplace_hint(result.end(), key, readValue(value, path.member(key)));
    return result;
}

// A list of numbers as a JSON array of numbers.
std::vector<double> readJsonDoubleList(const nlohmann::json& j, const JsonPath& path);
nlohmann::json jsonDoubleList(const std::vector<double>& values);

} // namespace fotivela
