#pragma once

// Runs a piece of a test in a child process, for what must be checked from outside:
// a crash, or the peak memory the work needs (measured by the kernel, not guessed).
//
// The child is a fresh run of the same test executable, limited to the current test:
// a forked copy of a process whose Qt worker threads are gone can hang on them. The
// test body runs again in the child up to the same call, which does the work and exits,
// so everything before it must be repeatable (test data made by the test itself).

#include <cstdint>
#include <functional>

namespace fotivela::test {

struct ChildRun {
    bool exited = false; // false when a signal ended it (a crash, an abort)
    int exitCode = -1;
    // The child's resident memory at its peak during the work, above what it held
    // when the work began (the kernel's high-water mark, reset before the work).
    std::int64_t extraPeakKilobytes = 0;
};

// work's result is the child's exit code.
ChildRun runInChild(const std::function<int()>& work);

} // namespace fotivela::test
