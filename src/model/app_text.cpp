#include "model/app_text.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>
#include <vector>

namespace fotivela::AppText {

namespace {

// Texts spelt with combining accents must find the precomposed keys.
std::string canonical(std::string_view text)
{
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return std::string(text);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .normalized(QString::NormalizationForm_C)
        .toStdString();
}

} // namespace

const std::unordered_map<std::string, std::string>& english()
{
    static const auto table = [] {
        std::unordered_map<std::string, std::string> map;
        map.reserve(interfaceTexts().size() + messageTexts().size());
        for (const auto rows : {interfaceTexts(), messageTexts()}) {
            for (const auto& row : rows)
                map.emplace(canonical(row.spanish), std::string(row.english));
        }
        return map;
    }();
    return table;
}

namespace {

// Messages built from pieces and numbers ("Ondas separadas listas: " + 4 + " activos, " ...):
// translated piece by piece when every letter of the text belongs to a known piece, so a
// text the table does not know never comes out half translated.
std::optional<std::string> translatePieces(const std::string& text)
{
    static const auto pieces = [] {
        std::vector<std::pair<std::string, std::string>> list;
        for (const auto& row : messageTexts())
            list.emplace_back(canonical(row.spanish), std::string(row.english));
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        return list;
    }();
    std::string result;
    std::size_t position = 0;
    bool translatedAny = false;
    while (position < text.size()) {
        const auto piece = std::find_if(pieces.begin(), pieces.end(), [&](const auto& entry) {
            return !entry.first.empty() && text.compare(position, entry.first.size(), entry.first) == 0;
        });
        if (piece != pieces.end()) {
            result += piece->second;
            position += piece->first.size();
            translatedAny = true;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[position]);
        if (c >= 0x80 || std::isalpha(c))
            return std::nullopt;
        result += text[position++];
    }
    if (!translatedAny)
        return std::nullopt;
    return result;
}

} // namespace

std::string translate(std::string_view text, AppLanguage language)
{
    if (language == AppLanguage::spanish)
        return std::string(text);
    const auto& table = english();
    const auto key = canonical(text);
    const auto hit = table.find(key);
    if (hit != table.end())
        return hit->second;
    return translatePieces(key).value_or(std::string(text));
}

} // namespace fotivela::AppText
