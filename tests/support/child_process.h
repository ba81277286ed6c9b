#pragma once

// Runs a piece of a test in a forked child, for what must be checked from outside:
// a crash, or the peak memory the work needs (measured by the kernel, not guessed).

#include <cstdint>
#include <functional>

namespace fotivela::test {

struct ChildRun {
    bool exited = false; // false when a signal ended it (a crash, an abort)
    int exitCode = -1;
    // The child's peak resident memory (wait4's ru_maxrss) minus what it had when it began.
    std::int64_t extraPeakKilobytes = 0;
};

// work's result is the child's exit code. The parent's memory is shared at first,
// so the child's starting high-water mark is taken off the peak.
ChildRun runInChild(const std::function<int()>& work);

} // namespace fotivela::test
