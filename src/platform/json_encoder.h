#pragma once

#include "platform/error.h"

#include <nlohmann/json.hpp>

#include <string>

namespace fotivela {

// The tree cannot be written: a number that is not finite, nesting past the
// limit, or a value kind JSON has no form for. Nothing has been written.
class JsonEncodingError : public Error {
public:
    explicit JsonEncodingError(const std::string& detail);
    const std::string& detail() const { return m_detail; }

private:
    std::string m_detail;
};

// The program's one JSON text form for everything written for later reading:
// pretty printed with two-space indentation and "key" : value, keys in byte
// order, "/" escaped as "\/", floats in their shortest round-trip form with
// integral values written without a fraction. Invalid UTF-8 in strings is
// written as U+FFFD so that the file always reads back.
std::string encodeFotivelaJson(const nlohmann::json& value);

// Same, appended to out (out is left as it was when encoding fails).
void appendFotivelaJson(std::string& out, const nlohmann::json& value);

// The number form on its own, for callers that print numbers the same way.
void appendFotivelaJsonNumber(std::string& out, double value);

} // namespace fotivela
