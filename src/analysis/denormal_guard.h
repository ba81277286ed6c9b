#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace fotivela {

// Flush-to-zero and denormals-are-zero for the lifetime of the guard on this
// thread: recursive filters decaying over digital silence otherwise crawl
// through subnormal floats several times slower, for no audible difference.
class DenormalGuard {
public:
    DenormalGuard()
    {
#if defined(__SSE__) || defined(__x86_64__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040u); // FTZ (bit 15) | DAZ (bit 6)
#endif
    }
    ~DenormalGuard()
    {
#if defined(__SSE__) || defined(__x86_64__)
        _mm_setcsr(m_saved);
#endif
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned m_saved = 0;
};

} // namespace fotivela
