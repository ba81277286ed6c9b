#pragma once

#include <stdexcept>
#include <string>

namespace fotivela {

// Base of every typed error the program throws. what() is the user's message,
// in Spanish as the program writes it; the interface translates it on display.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& userMessage) : std::runtime_error(userMessage) {}
};

} // namespace fotivela
