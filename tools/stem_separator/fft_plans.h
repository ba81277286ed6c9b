#pragma once

#include <fftw3.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace fotivela::stem_separator {

struct FftwDeleter {
    void operator()(void* memory) const { fftwf_free(memory); }
};
template <typename T>
using FftwArray = std::unique_ptr<T[], FftwDeleter>;

// SIMD-aligned storage for FFTW's new-array execute functions.
FftwArray<float> allocateReal(std::size_t count);
FftwArray<fftwf_complex> allocateComplex(std::size_t count);

// Forward and inverse real transforms of one size, planned once on the calling
// thread and then executed from any thread on aligned arrays of that size.
class FftPlans {
public:
    explicit FftPlans(int size);
    ~FftPlans();
    FftPlans(const FftPlans&) = delete;
    FftPlans& operator=(const FftPlans&) = delete;

    int size() const { return m_size; }
    int binCount() const { return m_size / 2 + 1; }
    // Spectra stored one after another keep SIMD alignment with this stride.
    int binStride() const { return (binCount() + 7) / 8 * 8; }

    void forward(float* samples, fftwf_complex* spectrum) const;
    // Unnormalised (the result is size × the signal); destroys `spectrum`.
    void inverse(fftwf_complex* spectrum, float* samples) const;

    // Periodic Hann window; its square overlap-adds to 3/2 at a hop of size / 4.
    const std::vector<float>& window() const { return m_window; }

private:
    int m_size;
    fftwf_plan m_forward = nullptr;
    fftwf_plan m_inverse = nullptr;
    std::vector<float> m_window;
};

} // namespace fotivela::stem_separator
