#include "platform/plist_value.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace fotivela {

namespace {

// Property-list dates count from 2001-01-01T00:00:00Z.
constexpr std::int64_t referenceDateOffset = 978307200;

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

struct CFree {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using CBuffer = std::unique_ptr<T, CFree>;

// Nesting deeper than this is not a preferences file; stopping keeps the stack bounded.
constexpr int maxDepth = 512;

std::optional<PlistValue> fromNode(plist_t node, int depth)
{
    if (node == nullptr || depth > maxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return PlistValue(v != 0);
    }
    case PLIST_UINT: {
        std::uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // Binary lists store integers as signed 64-bit values; libplist hands them over unsigned.
        return PlistValue(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return PlistValue(v);
    }
    case PLIST_STRING: {
        char* raw = nullptr;
        plist_get_string_val(node, &raw);
        CBuffer<char> owned(raw);
        return PlistValue(std::string(raw ? raw : ""));
    }
    case PLIST_DATA: {
        char* raw = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &raw, &length);
        CBuffer<char> owned(raw);
        const auto* begin = reinterpret_cast<const std::uint8_t*>(raw);
        return PlistValue(PlistValue::Data(begin, begin + (raw ? length : 0)));
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const auto since1970 = std::chrono::seconds(std::int64_t{sec} + referenceDateOffset) + std::chrono::microseconds(usec);
        return PlistValue(PlistValue::Date(std::chrono::duration_cast<std::chrono::system_clock::duration>(since1970)));
    }
    case PLIST_ARRAY: {
        PlistValue::Array items;
        const std::uint32_t count = plist_array_get_size(node);
        items.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item)
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return PlistValue(std::move(items));
    }
    case PLIST_DICT: {
        PlistValue::Dictionary entries;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        CBuffer<void> ownedIter(iter);
        while (true) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            CBuffer<char> ownedKey(key);
            if (key == nullptr)
                break;
            auto value = fromNode(item, depth + 1);
            if (!value)
                return std::nullopt;
            entries.insert_or_assign(std::string(key), std::move(*value));
        }
        return PlistValue(std::move(entries));
    }
    default:
        // Keyed-archive identifiers and other kinds never occur in our files.
        return std::nullopt;
    }
}

// Well-formed UTF-8 without NUL: the library passes anything else on to the file as damaged text,
// and a damaged file is kept unwritten from then on.
bool isWritableText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 == 0)
            return false;
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
            c = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            c = b0 & 0x0F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            c = b0 & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (b & 0x3F);
        }
        const char32_t smallest = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
        if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

bool holdsOnlyWritableText(const PlistValue& value)
{
    if (const auto* text = value.as<std::string>())
        return isWritableText(*text);
    if (const auto* items = value.as<PlistValue::Array>())
        return std::all_of(items->begin(), items->end(), holdsOnlyWritableText);
    if (const auto* entries = value.as<PlistValue::Dictionary>()) {
        return std::all_of(entries->begin(), entries->end(), [](const auto& entry) {
            return isWritableText(entry.first) && holdsOnlyWritableText(entry.second);
        });
    }
    return true;
}

plist_t toNode(const PlistValue& value)
{
    struct Visitor {
        plist_t operator()(const PlistValue::Data& v) const
        {
            return plist_new_data(reinterpret_cast<const char*>(v.data()), v.size());
        }
        plist_t operator()(const std::string& v) const { return plist_new_string(v.c_str()); }
        plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
        plist_t operator()(double v) const { return plist_new_real(v); }
        plist_t operator()(std::int64_t v) const { return plist_new_uint(static_cast<std::uint64_t>(v)); }
        plist_t operator()(const PlistValue::Date& v) const
        {
            using namespace std::chrono;
            const auto micros = duration_cast<microseconds>(v.time_since_epoch()).count() - referenceDateOffset * 1'000'000;
            auto sec = micros / 1'000'000;
            auto usec = micros % 1'000'000;
            if (usec < 0) {
                usec += 1'000'000;
                sec -= 1;
            }
            // The library keeps 32-bit seconds; dates beyond that range are clamped rather than wrapped.
            if (sec > std::numeric_limits<std::int32_t>::max()) {
                sec = std::numeric_limits<std::int32_t>::max();
                usec = 0;
            } else if (sec < std::numeric_limits<std::int32_t>::min()) {
                sec = std::numeric_limits<std::int32_t>::min();
                usec = 0;
            }
            return plist_new_date(static_cast<std::int32_t>(sec), static_cast<std::int32_t>(usec));
        }
        plist_t operator()(const PlistValue::Array& v) const
        {
            plist_t node = plist_new_array();
            for (const auto& item : v)
                plist_array_append_item(node, toNode(item));
            return node;
        }
        plist_t operator()(const PlistValue::Dictionary& v) const
        {
            plist_t node = plist_new_dict();
            for (const auto& [key, item] : v)
                plist_dict_set_item(node, key.c_str(), toNode(item));
            return node;
        }
    };
    return std::visit(Visitor{}, value.value);
}

// Checked first: the library's own XML writer below recurses without a limit.
bool nestsTooDeep(plist_t node, int depth)
{
    if (depth > maxDepth)
        return true;
    switch (plist_get_node_type(node)) {
    case PLIST_ARRAY: {
        const std::uint32_t count = plist_array_get_size(node);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (nestsTooDeep(plist_array_get_item(node, i), depth + 1))
                return true;
        }
        return false;
    }
    case PLIST_DICT: {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        CBuffer<void> ownedIter(iter);
        while (true) {
            // Keys are not read here: see holdsTextWithNul.
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, nullptr, &item);
            if (item == nullptr)
                return false;
            if (nestsTooDeep(item, depth + 1))
                return true;
        }
    }
    default:
        return false;
    }
}

// The library aborts the process when it hands over a text holding a NUL character, which a
// damaged file can carry. Its XML form writes such texts out whole, so a NUL there gives them away
// before any text is read.
bool holdsTextWithNul(plist_t root)
{
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    CBuffer<char> owned(xml);
    return xml == nullptr || std::memchr(xml, '\0', length) != nullptr;
}

} // namespace

std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &root);
    PlistHandle owned(root);
    if (root == nullptr || nestsTooDeep(root, 0) || holdsTextWithNul(root))
        return std::nullopt;
    return fromNode(root, 0);
}

std::vector<std::uint8_t> binaryPropertyList(const PlistValue& value)
{
    if (!holdsOnlyWritableText(value))
        throw std::invalid_argument("un texto no es UTF-8 válido");
    PlistHandle root(toNode(value));
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.get()), &out, &length);
    CBuffer<char> owned(out);
    const auto* begin = reinterpret_cast<const std::uint8_t*>(out);
    return std::vector<std::uint8_t>(begin, begin + (out ? length : 0));
}

} // namespace fotivela
