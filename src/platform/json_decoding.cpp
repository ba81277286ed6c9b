#include "platform/json_decoding.h"

#include "platform/file_url.h"
#include "platform/iso8601_date.h"
#include "platform/json_encoder.h"

#include <cmath>
#include <limits>

namespace fotivela {

namespace {

constexpr std::string_view missingDataMessage = "No se han podido leer los datos porque faltan.";
constexpr std::string_view badFormatMessage = "No se han podido leer los datos porque no tienen el formato correcto.";

std::string userMessage(JsonDecodingError::Kind kind, const std::string& path, const std::string& detail)
{
    const bool missing =
        kind == JsonDecodingError::Kind::keyNotFound || kind == JsonDecodingError::Kind::valueNotFound;
    std::string message(missing ? missingDataMessage : badFormatMessage);
    message += " (";
    if (!path.empty()) {
        message += path;
        message += ": ";
    }
    message += detail;
    message += ')';
    return message;
}

// Refuses nesting past the limit in one pass over the bytes, so that no
// later walk of the tree can run out of stack.
void checkNestingDepth(std::string_view text)
{
    int depth = 0;
    bool inString = false;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char c = *p++;
        if (inString) {
            if (c == '\\')
                ++p;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > jsonMaximumNestingDepth)
                throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, "",
                                        "demasiados niveles anidados de listas u objetos");
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
}

std::string_view typeName(const nlohmann::json& j)
{
    switch (j.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return "un booleano";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
        return "un número";
    case nlohmann::json::value_t::string:
        return "un texto";
    case nlohmann::json::value_t::array:
        return "una lista";
    case nlohmann::json::value_t::object:
        return "un objeto";
    default:
        return "otro valor";
    }
}

[[noreturn]] void throwTypeMismatch(const nlohmann::json& j, const JsonPath& path, std::string_view expected)
{
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path.toString(),
                            "se esperaba " + std::string(expected) + " y se encontró " + std::string(typeName(j)));
}

} // namespace

std::string JsonPath::toString() const
{
    std::vector<const JsonPath*> chain;
    for (const JsonPath* p = this; p && p->m_parent; p = p->m_parent)
        chain.push_back(p);
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const JsonPath& p = **it;
        if (p.m_index != npos) {
            text += '[';
            text += std::to_string(p.m_index);
            text += ']';
        } else {
            if (!text.empty())
                text += '.';
            text += p.m_key;
        }
    }
    return text;
}

JsonDecodingError::JsonDecodingError(Kind kind, std::string path, std::string detail)
    : Error(userMessage(kind, path, detail)), m_kind(kind), m_path(std::move(path)), m_detail(std::move(detail))
{
}

JsonDecodingError::JsonDecodingError(std::string path, std::string detail, const std::string& message)
    : Error(message), m_kind(Kind::dataCorrupted), m_path(std::move(path)), m_detail(std::move(detail))
{
}

nlohmann::json parseFotivelaJson(std::string_view text)
{
    checkNestingDepth(text);
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& e) {
        throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, "",
                                "el texto no es JSON válido cerca del byte " + std::to_string(e.byte));
    } catch (const nlohmann::json::exception&) {
        // A number too large for a 64-bit float.
        throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, "",
                                "el texto tiene un número que no se puede representar");
    }
}

void throwJsonTypeMismatch(const JsonPath& path, std::string_view expected)
{
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path.toString(),
                            "se esperaba " + std::string(expected));
}

void throwJsonDataCorrupted(const JsonPath& path, std::string detail)
{
    throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, path.toString(), std::move(detail));
}

bool readJsonBool(const nlohmann::json& j, const JsonPath& path)
{
    if (!j.is_boolean())
        throwTypeMismatch(j, path, "un booleano");
    return j.get_ref<const nlohmann::json::boolean_t&>();
}

std::int64_t readJsonInt64(const nlohmann::json& j, const JsonPath& path)
{
    switch (j.type()) {
    case nlohmann::json::value_t::number_integer:
        return j.get_ref<const nlohmann::json::number_integer_t&>();
    case nlohmann::json::value_t::number_unsigned: {
        const auto value = j.get_ref<const nlohmann::json::number_unsigned_t&>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throwJsonDataCorrupted(path, "el número no cabe en un entero de 64 bits");
        return static_cast<std::int64_t>(value);
    }
    case nlohmann::json::value_t::number_float: {
        // "3.0" or "3e2" is an integer written another way; 3.5 is not.
        const double value = j.get_ref<const nlohmann::json::number_float_t&>();
        if (!std::isfinite(value) || value != std::trunc(value) || value < -9223372036854775808.0 ||
            value >= 9223372036854775808.0)
            throwJsonDataCorrupted(path, "el número no cabe en un entero de 64 bits");
        return static_cast<std::int64_t>(value);
    }
    default:
        throwTypeMismatch(j, path, "un número entero");
    }
}

double readJsonDouble(const nlohmann::json& j, const JsonPath& path)
{
    switch (j.type()) {
    case nlohmann::json::value_t::number_float: {
        const double value = j.get_ref<const nlohmann::json::number_float_t&>();
        if (!std::isfinite(value))
            throwJsonDataCorrupted(path, "el número no se puede representar");
        return value;
    }
    case nlohmann::json::value_t::number_integer:
        return static_cast<double>(j.get_ref<const nlohmann::json::number_integer_t&>());
    case nlohmann::json::value_t::number_unsigned:
        return static_cast<double>(j.get_ref<const nlohmann::json::number_unsigned_t&>());
    default:
        throwTypeMismatch(j, path, "un número");
    }
}

const std::string& readJsonString(const nlohmann::json& j, const JsonPath& path)
{
    if (!j.is_string())
        throwTypeMismatch(j, path, "un texto");
    return j.get_ref<const nlohmann::json::string_t&>();
}

Uuid readJsonUuid(const nlohmann::json& j, const JsonPath& path)
{
    const auto& text = readJsonString(j, path);
    const auto id = Uuid::parse(text);
    if (!id)
        throwJsonDataCorrupted(path, "UUID no válido «" + text + "»");
    return *id;
}

std::chrono::system_clock::time_point readJsonDate(const nlohmann::json& j, const JsonPath& path)
{
    const auto& text = readJsonString(j, path);
    const auto date = parseIso8601Date(text);
    if (!date)
        throwJsonDataCorrupted(path, "fecha no válida «" + text + "»; se esperaba la forma ISO 8601");
    return *date;
}

std::filesystem::path readJsonFileUrl(const nlohmann::json& j, const JsonPath& path)
{
    const auto& text = readJsonString(j, path);
    auto result = pathFromFileUrl(text);
    if (!result)
        throwJsonDataCorrupted(path, "URL de archivo no válida «" + text + "»");
    return std::move(*result);
}

const nlohmann::json::array_t& readJsonArray(const nlohmann::json& j, const JsonPath& path)
{
    if (!j.is_array())
        throwTypeMismatch(j, path, "una lista");
    return j.get_ref<const nlohmann::json::array_t&>();
}

std::vector<double> readJsonDoubleList(const nlohmann::json& j, const JsonPath& path)
{
    const auto& array = readJsonArray(j, path);
    std::vector<double> values;
    values.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        const auto& element = array[i];
        if (element.is_number_float()) {
            const double value = element.get_ref<const nlohmann::json::number_float_t&>();
            if (std::isfinite(value)) {
                values.push_back(value);
                continue;
            }
        }
        values.push_back(readJsonDouble(element, path.element(i)));
    }
    return values;
}

nlohmann::json jsonDoubleList(const std::vector<double>& values)
{
    nlohmann::json::array_t array;
    array.reserve(values.size());
    for (const double value : values)
        array.emplace_back(value);
    return nlohmann::json(std::move(array));
}

nlohmann::json jsonUuid(const Uuid& id)
{
    return id.toString();
}

nlohmann::json jsonDate(std::chrono::system_clock::time_point date)
{
    auto text = formatIso8601Date(date);
    if (text.empty())
        throw JsonEncodingError("fecha fuera del intervalo de años 0000 a 9999");
    return text;
}

nlohmann::json jsonFileUrl(const std::filesystem::path& path)
{
    return fileUrlString(path);
}

JsonObjectReader::JsonObjectReader(const nlohmann::json& j, const JsonPath& path)
    : m_object(j.is_object() ? j.get_ref<const nlohmann::json::object_t&>()
                             : (throwTypeMismatch(j, path, "un objeto"), j.get_ref<const nlohmann::json::object_t&>())),
      m_path(path)
{
}

const nlohmann::json* JsonObjectReader::find(std::string_view key) const
{
    const auto found = m_object.find(key);
    if (found == m_object.end() || found->second.is_null())
        return nullptr;
    return &found->second;
}

void JsonObjectReader::throwMissing(std::string_view key, bool isNull) const
{
    const JsonPath child = m_path.member(key);
    if (isNull)
        throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, child.toString(),
                                "la clave obligatoria es null");
    throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, child.toString(), "falta la clave obligatoria");
}

} // namespace fotivela
