#include "body_pencil.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

using Complex = std::complex<double>;

// Makes `a` and `b` an orthonormal pair spanning what they spanned; false
// where they (nearly) coincide.
bool orthonormalise(std::vector<Complex>& a, std::vector<Complex>& b)
{
    double na = 0;
    for (const Complex& x : a)
        na += std::norm(x);
    if (na <= 0)
        return false;
    na = std::sqrt(na);
    for (Complex& x : a)
        x /= na;
    Complex along(0);
    for (std::size_t i = 0; i < a.size(); ++i)
        along += std::conj(a[i]) * b[i];
    double nb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        b[i] -= along * a[i];
        nb += std::norm(b[i]);
    }
    if (nb <= 1e-24)
        return false;
    nb = std::sqrt(nb);
    for (Complex& x : b)
        x /= nb;
    return true;
}

} // namespace

std::optional<TwoPoles> fitTwoPoles(const std::vector<Complex>& values, int frames, int channels)
{
    // The pencil: windows of m frames slid along every series. Their span
    // holds the two poles' geometric series; one frame on, each is the same
    // series times its pole.
    const int m = std::min(frames / 2, 12) + 1;
    if (channels <= 0 || m < 4 || static_cast<int>(values.size()) < frames * channels)
        return std::nullopt;
    const auto mm = static_cast<std::size_t>(m);
    std::vector<Complex> gram(mm * mm, Complex(0));
    for (int c = 0; c < channels; ++c)
        for (int s = 0; s + m <= frames; ++s)
            for (int i = 0; i < m; ++i) {
                const Complex yi = std::conj(values[static_cast<std::size_t>((s + i) * channels + c)]);
                for (int j = 0; j < m; ++j)
                    gram[static_cast<std::size_t>(i * m + j)]
                        += yi * values[static_cast<std::size_t>((s + j) * channels + c)];
            }
    // The two strongest directions of the windows, by orthogonal iteration
    // from a fixed start, so the fit is the same on every run.
    std::vector<Complex> a(mm), b(mm), na(mm), nb(mm);
    for (std::size_t i = 0; i < mm; ++i) {
        a[i] = 1.0;
        b[i] = static_cast<double>(i) - 0.5 * (m - 1);
    }
    if (!orthonormalise(a, b))
        return std::nullopt;
    for (int iteration = 0; iteration < 60; ++iteration) {
        for (std::size_t i = 0; i < mm; ++i) {
            Complex sa(0), sb(0);
            for (std::size_t j = 0; j < mm; ++j) {
                sa += gram[i * mm + j] * a[j];
                sb += gram[i * mm + j] * b[j];
            }
            na[i] = sa;
            nb[i] = sb;
        }
        std::swap(a, na);
        std::swap(b, nb);
        if (!orthonormalise(a, b))
            return std::nullopt;
    }
    // The windows' span is the conjugate of the series'.
    for (std::size_t i = 0; i < mm; ++i) {
        a[i] = std::conj(a[i]);
        b[i] = std::conj(b[i]);
    }
    // Shift by one frame: least squares W1·Φ = W2 over the first and last m − 1 rows.
    Complex g11(0), g12(0), g22(0), r11(0), r12(0), r21(0), r22(0);
    for (std::size_t i = 0; i + 1 < mm; ++i) {
        g11 += std::norm(a[i]);
        g12 += std::conj(a[i]) * b[i];
        g22 += std::norm(b[i]);
        r11 += std::conj(a[i]) * a[i + 1];
        r12 += std::conj(a[i]) * b[i + 1];
        r21 += std::conj(b[i]) * a[i + 1];
        r22 += std::conj(b[i]) * b[i + 1];
    }
    const Complex det = g11 * g22 - g12 * std::conj(g12);
    if (std::abs(det) < 1e-12)
        return std::nullopt;
    const Complex p11 = (g22 * r11 - g12 * r21) / det;
    const Complex p12 = (g22 * r12 - g12 * r22) / det;
    const Complex p21 = (g11 * r21 - std::conj(g12) * r11) / det;
    const Complex p22 = (g11 * r22 - std::conj(g12) * r12) / det;
    const Complex trace = p11 + p22;
    const Complex root = std::sqrt(0.25 * trace * trace - (p11 * p22 - p12 * p21));
    Complex first = 0.5 * trace + root, second = 0.5 * trace - root;
    if (std::abs(first) > std::abs(second))
        std::swap(first, second);
    return TwoPoles{first, second};
}

std::array<Complex, 2> poleAmplitudes(
    const TwoPoles& poles, const Complex* values, int frames, int stride, double& residual)
{
    Complex g11(0), g12(0), g22(0), r1(0), r2(0);
    Complex p1(1), p2(1);
    for (int n = 0; n < frames; ++n) {
        const Complex y = values[static_cast<std::ptrdiff_t>(n) * stride];
        g11 += std::norm(p1);
        g12 += std::conj(p1) * p2;
        g22 += std::norm(p2);
        r1 += std::conj(p1) * y;
        r2 += std::conj(p2) * y;
        p1 *= poles.body;
        p2 *= poles.note;
    }
    const Complex det = g11 * g22 - g12 * std::conj(g12);
    std::array<Complex, 2> amplitude{Complex(0), Complex(0)};
    if (std::abs(det) > 1e-12 * std::max(1.0, std::abs(g11 * g22))) {
        amplitude[0] = (g22 * r1 - g12 * r2) / det;
        amplitude[1] = (g11 * r2 - std::conj(g12) * r1) / det;
    }
    residual = 0;
    p1 = p2 = 1;
    for (int n = 0; n < frames; ++n) {
        residual += std::norm(values[static_cast<std::ptrdiff_t>(n) * stride] - amplitude[0] * p1 - amplitude[1] * p2);
        p1 *= poles.body;
        p2 *= poles.note;
    }
    return amplitude;
}

} // namespace fotivela::stem_separator
