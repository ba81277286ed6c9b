#pragma once

#include "platform/error.h"

namespace fotivela::stem_separator {

// A run that cannot go on. what() is the one line the program prints on stderr,
// which the application shows to the user as it stands.
class SeparationError : public Error {
public:
    using Error::Error;
};

// The command line is wrong: exit status 2 instead of 1.
class UsageError : public SeparationError {
public:
    using SeparationError::SeparationError;
};

} // namespace fotivela::stem_separator
