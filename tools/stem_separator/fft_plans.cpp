#include "fft_plans.h"

#include <cmath>
#include <new>
#include <numbers>

namespace fotivela::stem_separator {

FftwArray<float> allocateReal(std::size_t count)
{
    auto* memory = static_cast<float*>(fftwf_malloc(count * sizeof(float)));
    if (!memory)
        throw std::bad_alloc();
    return FftwArray<float>(memory);
}

FftwArray<fftwf_complex> allocateComplex(std::size_t count)
{
    auto* memory = static_cast<fftwf_complex*>(fftwf_malloc(count * sizeof(fftwf_complex)));
    if (!memory)
        throw std::bad_alloc();
    return FftwArray<fftwf_complex>(memory);
}

FftPlans::FftPlans(int size) : m_size(size), m_window(static_cast<std::size_t>(size))
{
    FftwArray<float> samples = allocateReal(static_cast<std::size_t>(size));
    FftwArray<fftwf_complex> spectrum = allocateComplex(static_cast<std::size_t>(binCount()));
    // Measuring would cost a serial 0.4 s at every start for a few per cent on the transforms.
    m_forward = fftwf_plan_dft_r2c_1d(size, samples.get(), spectrum.get(), FFTW_ESTIMATE);
    m_inverse = fftwf_plan_dft_c2r_1d(size, spectrum.get(), samples.get(), FFTW_ESTIMATE);
    if (!m_forward || !m_inverse)
        throw std::bad_alloc();
    for (int i = 0; i < size; ++i)
        m_window[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / size));
}

FftPlans::~FftPlans()
{
    fftwf_destroy_plan(m_forward);
    fftwf_destroy_plan(m_inverse);
}

void FftPlans::forward(float* samples, fftwf_complex* spectrum) const
{
    fftwf_execute_dft_r2c(m_forward, samples, spectrum);
}

void FftPlans::inverse(fftwf_complex* spectrum, float* samples) const
{
    fftwf_execute_dft_c2r(m_inverse, spectrum, samples);
}

} // namespace fotivela::stem_separator
