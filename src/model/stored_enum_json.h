#pragma once

#include "model/stored_enum.h"
#include "platform/json_decoding.h"

#include <nlohmann/json.hpp>

namespace fotivela {

// An enumeration read from its stored string, matched exactly.
template <class E>
E readStoredEnum(const nlohmann::json& j, const JsonPath& path)
{
    const auto& text = readJsonString(j, path);
    const auto value = fromStored<E>(text);
    if (!value)
        throwJsonDataCorrupted(path, "valor desconocido «" + text + "»");
    return *value;
}

template <class E>
nlohmann::json storedJson(E value)
{
    return nlohmann::json(std::string(toStored(value)));
}

// Reader objects for the generic readers of lists, sets and dictionaries.
template <class E>
inline constexpr auto storedEnumReader = [](const nlohmann::json& j, const JsonPath& path) {
    return readStoredEnum<E>(j, path);
};

} // namespace fotivela
