#pragma once

#include <string_view>

namespace fotivela {

// The text without Unicode white space and line breaks at either end, as user text is
// trimmed everywhere in the program. Malformed UTF-8 counts as text, never as blank.
std::string_view trimmedWhitespaceAndNewlines(std::string_view text);

} // namespace fotivela
