#pragma once

#include <system_error>

namespace fotivela {

// Copies every byte of the open file `from`, from its start, to the open file `to`,
// keeping the system's reason of a failure (a full disk stays a full disk).
std::error_code copyDescriptorBytes(int from, int to);

} // namespace fotivela
