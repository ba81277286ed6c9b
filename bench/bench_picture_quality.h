#pragma once

// Picture quality of decoded 4:2:0 frames against reference frames of the same size.

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>

namespace fotivela::bench {

inline double planeSquaredError(const AVFrame& a, const AVFrame& b, int plane, int width, int height)
{
    double sum = 0.0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = a.data[plane] + y * a.linesize[plane];
        const std::uint8_t* q = b.data[plane] + y * b.linesize[plane];
        for (int x = 0; x < width; ++x) {
            const int d = p[x] - q[x];
            sum += d * d;
        }
    }
    return sum;
}

// Mean SSIM of the luma over 8×8 windows every 4 pixels.
inline double lumaSsim(const AVFrame& a, const AVFrame& b, int width, int height)
{
    constexpr double c1 = (0.01 * 255) * (0.01 * 255);
    constexpr double c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0.0;
    int windows = 0;
    for (int y = 0; y + 8 <= height; y += 4) {
        for (int x = 0; x + 8 <= width; x += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int j = 0; j < 8; ++j) {
                const std::uint8_t* p = a.data[0] + (y + j) * a.linesize[0] + x;
                const std::uint8_t* q = b.data[0] + (y + j) * b.linesize[0] + x;
                for (int i = 0; i < 8; ++i) {
                    sa += p[i];
                    sb += q[i];
                    saa += p[i] * p[i];
                    sbb += q[i] * q[i];
                    sab += p[i] * q[i];
                }
            }
            const double ma = sa / 64, mb = sb / 64;
            const double va = saa / 64 - ma * ma, vb = sbb / 64 - mb * mb, cov = sab / 64 - ma * mb;
            total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    }
    return windows > 0 ? total / windows : 1.0;
}

} // namespace fotivela::bench
