#pragma once

#include <sys/types.h>

namespace fotivela::test {

// True when the process no longer runs: gone, or a zombie waiting for a parent to reap it
// (an orphan's new parent may reap it late).
bool processHasEnded(pid_t pid);

} // namespace fotivela::test
