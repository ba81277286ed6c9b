#include "model/app_text.h"

#include <QString>

#include <algorithm>

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

std::string translate(std::string_view text, AppLanguage language)
{
    if (language == AppLanguage::spanish)
        return std::string(text);
    const auto& table = english();
    const auto hit = table.find(canonical(text));
    return hit == table.end() ? std::string(text) : hit->second;
}

} // namespace fotivela::AppText
