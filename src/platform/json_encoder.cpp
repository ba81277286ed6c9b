#include "platform/json_encoder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fotivela {

namespace {

constexpr int maximumDepth = 512;
constexpr double largestExactInteger = 9007199254740992.0; // 2^53

class Writer {
public:
    explicit Writer(std::string& out) : m_out(out) {}

    void value(const nlohmann::json& j, int depth)
    {
        using Type = nlohmann::json::value_t;
        switch (j.type()) {
        case Type::null:
            m_out.append("null");
            return;
        case Type::boolean:
            m_out.append(j.get_ref<const nlohmann::json::boolean_t&>() ? "true" : "false");
            return;
        case Type::number_integer:
            integer(j.get_ref<const nlohmann::json::number_integer_t&>());
            return;
        case Type::number_unsigned:
            integer(j.get_ref<const nlohmann::json::number_unsigned_t&>());
            return;
        case Type::number_float:
            number(j.get_ref<const nlohmann::json::number_float_t&>());
            return;
        case Type::string:
            string(j.get_ref<const nlohmann::json::string_t&>());
            return;
        case Type::array:
            array(j.get_ref<const nlohmann::json::array_t&>(), depth + 1);
            return;
        case Type::object:
            object(j.get_ref<const nlohmann::json::object_t&>(), depth + 1);
            return;
        case Type::binary:
            // Bytes are written as Base64 text, slashes escaped like any other string.
            string(base64(j.get_binary()));
            return;
        case Type::discarded:
            break;
        }
        throw JsonEncodingError("valor sin forma JSON");
    }

    void number(double d)
    {
        if (!std::isfinite(d))
            throw JsonEncodingError("número no finito");
        appendFotivelaJsonNumber(m_out, d);
    }

private:
    template <class Int>
    void integer(Int v)
    {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
        m_out.append(buffer, result.ptr);
    }

    static std::string base64(const std::vector<std::uint8_t>& bytes)
    {
        static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text;
        text.reserve((bytes.size() + 2) / 3 * 4);
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
            std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
            if (count > 1)
                group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
            if (count > 2)
                group |= bytes[i + 2];
            for (std::size_t k = 0; k < 4; ++k)
                text.push_back(k <= count ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
        }
        return text;
    }

    void indent(int level) { m_out.append(static_cast<std::size_t>(level) * 2, ' '); }

    void array(const nlohmann::json::array_t& a, int depth)
    {
        if (depth >= maximumDepth)
            throw JsonEncodingError("demasiados niveles anidados");
        m_out.append("[\n");
        bool first = true;
        for (const auto& element : a) {
            if (!first)
                m_out.append(",\n");
            first = false;
            indent(depth);
            value(element, depth);
        }
        m_out.push_back('\n');
        indent(depth - 1);
        m_out.push_back(']');
    }

    void object(const nlohmann::json::object_t& o, int depth)
    {
        if (depth >= maximumDepth)
            throw JsonEncodingError("demasiados niveles anidados");
        m_out.append("{\n");
        bool first = true;
        // object_t is a std::map: its iteration order is the byte order of the keys.
        for (const auto& [key, element] : o) {
            if (!first)
                m_out.append(",\n");
            first = false;
            indent(depth);
            string(key);
            m_out.append(" : ");
            value(element, depth);
        }
        m_out.push_back('\n');
        indent(depth - 1);
        m_out.push_back('}');
    }

    // Length of the valid UTF-8 sequence starting at p, or 0.
    static std::size_t validSequenceLength(const unsigned char* p, const unsigned char* end)
    {
        const unsigned char c = *p;
        const auto remaining = static_cast<std::size_t>(end - p);
        auto continuation = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
            return i < remaining && p[i] >= lo && p[i] <= hi;
        };
        if (c >= 0xC2 && c <= 0xDF)
            return continuation(1) ? 2 : 0;
        if (c == 0xE0)
            return continuation(1, 0xA0) && continuation(2) ? 3 : 0;
        if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
            return continuation(1) && continuation(2) ? 3 : 0;
        if (c == 0xED)
            return continuation(1, 0x80, 0x9F) && continuation(2) ? 3 : 0;
        if (c == 0xF0)
            return continuation(1, 0x90) && continuation(2) && continuation(3) ? 4 : 0;
        if (c >= 0xF1 && c <= 0xF3)
            return continuation(1) && continuation(2) && continuation(3) ? 4 : 0;
        if (c == 0xF4)
            return continuation(1, 0x80, 0x8F) && continuation(2) && continuation(3) ? 4 : 0;
        return 0;
    }

    void string(std::string_view s)
    {
        static constexpr char hex[] = "0123456789abcdef";
        m_out.push_back('"');
        const auto* begin = reinterpret_cast<const unsigned char*>(s.data());
        const auto* end = begin + s.size();
        const auto* mark = begin;
        auto flush = [&](const unsigned char* upTo) {
            m_out.append(reinterpret_cast<const char*>(mark), static_cast<std::size_t>(upTo - mark));
        };
        for (const auto* p = begin; p < end;) {
            const unsigned char c = *p;
            if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\' && c != '/') {
                ++p;
                continue;
            }
            if (c >= 0x80) {
                const auto length = validSequenceLength(p, end);
                if (length != 0) {
                    p += length;
                    continue;
                }
                flush(p);
                m_out.append("\xEF\xBF\xBD");
                mark = ++p;
                continue;
            }
            flush(p);
            switch (c) {
            case '"':
                m_out.append("\\\"");
                break;
            case '\\':
                m_out.append("\\\\");
                break;
            case '/':
                m_out.append("\\/");
                break;
            case '\b':
                m_out.append("\\b");
                break;
            case '\f':
                m_out.append("\\f");
                break;
            case '\n':
                m_out.append("\\n");
                break;
            case '\r':
                m_out.append("\\r");
                break;
            case '\t':
                m_out.append("\\t");
                break;
            default:
                m_out.append("\\u00");
                m_out.push_back(hex[c >> 4]);
                m_out.push_back(hex[c & 0x0F]);
                break;
            }
            mark = ++p;
        }
        flush(end);
        m_out.push_back('"');
    }

    std::string& m_out;
};

} // namespace

JsonEncodingError::JsonEncodingError(const std::string& detail)
    : Error("No se pudieron codificar los datos (" + detail + ")."), m_detail(detail)
{
}

void appendFotivelaJsonNumber(std::string& out, double d)
{
    if (d == 0) {
        // Negative zero too: "-0" reads back as the integer 0, so writing it
        // would make the text change on every save without a change of value.
        out.push_back('0');
        return;
    }
    char buffer[40];
    const double magnitude = std::fabs(d);
    std::to_chars_result result;
    if (magnitude <= largestExactInteger && d == std::trunc(d))
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(d));
    else if (magnitude >= 0.0001 && magnitude <= largestExactInteger)
        result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::fixed);
    else
        result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
    out.append(buffer, result.ptr);
}

void appendFotivelaJson(std::string& out, const nlohmann::json& value)
{
    const auto size = out.size();
    try {
        Writer(out).value(value, 0);
    } catch (...) {
        out.resize(size);
        throw;
    }
}

std::string encodeFotivelaJson(const nlohmann::json& value)
{
    std::string out;
    Writer(out).value(value, 0);
    return out;
}

} // namespace fotivela
