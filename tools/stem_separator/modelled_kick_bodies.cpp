#include "modelled_kick_bodies.h"

#include "input_window.h"
#include "parallel_for.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace fotivela::stem_separator {

namespace {

// The fit starts this long after the kick does, past its click as the low
// band smears it, and reads this long on.
constexpr double fitDelaySeconds = 0.025;
constexpr double fitSpanSeconds = 1.2;
constexpr double rangBeforeSeconds = 0.12;
// A fit leaving more than this share of the low band it fitted, or of the
// kick band of the frames within its fitted span, is not trusted.
constexpr double leastResidual = 0.05;
constexpr double leastMiss = 0.1;

// Where, within song frames [from, to), a hit most likely starts: where the
// mid rises most against what came just before, to within 64 frames.
std::int64_t findHitStart(const std::function<void(std::int64_t, std::int64_t, float*)>& mid, std::int64_t from,
    std::int64_t to)
{
    constexpr int block = 64;
    constexpr int side = 4;
    const std::int64_t first = from - side * block;
    const auto blocks = static_cast<int>((to - from) / block) + 2 * side;
    std::vector<float> samples(static_cast<std::size_t>(blocks) * block);
    mid(first, static_cast<std::int64_t>(samples.size()), samples.data());
    std::vector<double> energy(static_cast<std::size_t>(blocks), 0.0);
    for (int b = 0; b < blocks; ++b)
        for (int i = 0; i < block; ++i) {
            const double v = samples[static_cast<std::size_t>(b * block + i)];
            energy[static_cast<std::size_t>(b)] += v * v;
        }
    double best = -1;
    int at = side;
    for (int b = side; b + side <= blocks; ++b) {
        double after = 0, before = 0;
        for (int k = 0; k < side; ++k) {
            after += energy[static_cast<std::size_t>(b + k)];
            before += energy[static_cast<std::size_t>(b - 1 - k)];
        }
        const double rise = after / (before + 1e-9 * (after + 1e-20));
        if (rise > best) {
            best = rise;
            at = b;
        }
    }
    return first + static_cast<std::int64_t>(at) * block;
}

} // namespace

ModelledKickBodies::ModelledKickBodies(const KickTracker& kicks, const FftPlans& plans, int sampleRate, int hop)
    : m_kicks(kicks), m_plans(plans), m_sampleRate(sampleRate), m_hop(hop),
      m_binHz(static_cast<double>(sampleRate) / plans.size()), m_band(sampleRate)
{
}

void ModelledKickBodies::spectrumOf(
    const DrivenKickShape& shape, double seconds, Frame& frame, std::vector<std::complex<float>>& out) const
{
    if (!frame.samples) {
        frame.samples = allocateReal(static_cast<std::size_t>(m_plans.size()));
        frame.spectrum = allocateComplex(static_cast<std::size_t>(m_plans.binStride()));
    }
    drivenKickFrame(shape, seconds, m_sampleRate, m_plans.window(), frame.samples.get());
    m_plans.forward(frame.samples.get(), frame.spectrum.get());
    out.assign(static_cast<std::size_t>(m_kicks.endBin()), std::complex<float>(0.0f));
    for (int bin = m_kicks.firstBin(); bin < m_kicks.endBin(); ++bin)
        out[static_cast<std::size_t>(bin)] = std::complex<float>(frame.spectrum[bin][0], frame.spectrum[bin][1]);
}

void ModelledKickBodies::fit(const InputWindow& input, std::int64_t spanStart, int rows, int reach,
    const float* magnitude, const fftwf_complex* left, const fftwf_complex* right, int stride,
    const std::vector<std::uint8_t>& onsets, int workers)
{
    m_bodies.assign(static_cast<std::size_t>(std::max(rows, 0)), {});
    m_heldNote.assign(m_bodies.size(), {});
    if (!m_kicks.enabled())
        return;
    const auto windowStart = [&](int row) { return spanStart + static_cast<std::int64_t>(row) * m_hop; };
    const auto size = static_cast<std::int64_t>(m_plans.size());
    // The onset each row's kick estimate follows, as the tracker finds it.
    std::vector<int> onsetOf(m_bodies.size(), -1);
    std::vector<int> fitted;
    for (int f = reach; f < rows - reach; ++f) {
        for (int r = f; r >= std::max(3, f - m_kicks.lookbackFrames()); --r)
            if (onsets[static_cast<std::size_t>(r)]) {
                if (onsets[static_cast<std::size_t>(r)] == KickTracker::drivenKickOnset)
                    onsetOf[static_cast<std::size_t>(f)] = r;
                break;
            }
        const int onset = onsetOf[static_cast<std::size_t>(f)];
        if (onset >= 0 && (fitted.empty() || fitted.back() != onset))
            fitted.push_back(onset);
    }
    const auto mid = [&](std::int64_t from, std::int64_t count, float* out) {
        std::vector<float> other(static_cast<std::size_t>(count));
        input.copy(0, from, count, out);
        input.copy(1, from, count, other.data());
        for (std::int64_t i = 0; i < count; ++i)
            out[i] = 0.5f * (out[i] + other[static_cast<std::size_t>(i)]);
    };
    const double rate = m_band.rate();
    std::vector<std::optional<DrivenKickFit>> fits(fitted.size());
    std::vector<std::int64_t> timeZero(fitted.size());
    parallelFor(workers, static_cast<int>(fitted.size()), [&](int, int begin, int end) {
        std::vector<float> low;
        std::vector<std::complex<float>> modelled;
        Frame frame;
        for (int i = begin; i < end; ++i) {
            const int onset = fitted[static_cast<std::size_t>(i)];
            // What rang before is read up to where the kick starts, less what
            // the low band smears back.
            const std::int64_t start = findHitStart(mid, windowStart(onset - 1), windowStart(onset) + size);
            const std::int64_t before = (start - m_band.reach()) / LowBand::step;
            const std::int64_t zero = (start + static_cast<std::int64_t>(fitDelaySeconds * m_sampleRate)) / LowBand::step + 1;
            const std::int64_t first = before - static_cast<std::int64_t>(rangBeforeSeconds * rate);
            m_band.read(mid, first, static_cast<int>(zero - first) + static_cast<int>(fitSpanSeconds * rate), low);
            std::optional<DrivenKickFit> fit
                = fitDrivenKick(m_band, low, static_cast<int>(before - first), static_cast<int>(zero - first));
            timeZero[static_cast<std::size_t>(i)] = zero * LowBand::step;
            if (!fit || fit->residual > leastResidual)
                continue;
            // The sine must hold what the frames within its fitted span hold.
            const std::int64_t fittedEnd
                = zero * LowBand::step + static_cast<std::int64_t>(fit->fittedSeconds * m_sampleRate);
            double missed = 0, held = 0;
            for (int f = onset; f < rows && windowStart(f) + size <= fittedEnd; ++f) {
                if (windowStart(f) < zero * LowBand::step)
                    continue;
                spectrumOf(fit->shape, static_cast<double>(windowStart(f) - zero * LowBand::step) / m_sampleRate, frame,
                    modelled);
                const auto row = static_cast<std::size_t>(f) * static_cast<std::size_t>(stride);
                for (int bin = m_kicks.firstBin(); bin < m_kicks.endBin(); ++bin) {
                    const auto at = row + static_cast<std::size_t>(bin);
                    const std::complex<float> centre(
                        0.5f * (left[at][0] + right[at][0]), 0.5f * (left[at][1] + right[at][1]));
                    missed += std::norm(centre - modelled[static_cast<std::size_t>(bin)]);
                    held += std::norm(centre);
                }
            }
            if (held > 0 && missed <= leastMiss * held)
                fits[static_cast<std::size_t>(i)] = fit;
        }
    });
    parallelFor(workers, std::max(0, rows - 2 * reach), [&](int, int begin, int end) {
        Frame frame;
        for (int f = reach + begin; f < reach + end; ++f) {
            const int onset = onsetOf[static_cast<std::size_t>(f)];
            if (onset < 0)
                continue;
            const auto i = static_cast<std::size_t>(std::lower_bound(fitted.begin(), fitted.end(), onset) - fitted.begin());
            if (!fits[i])
                continue;
            const double at = static_cast<double>(windowStart(f) - timeZero[i]) / m_sampleRate;
            if (at < 0)
                continue;
            spectrumOf(fits[i]->shape, at, frame, m_bodies[static_cast<std::size_t>(f)]);
            // A steady note at the body's own pitch that rang before rings on
            // with it, and the sine fitted over both cannot tell them apart:
            // there the tracker's reading stands.
            std::vector<std::uint8_t>& held = m_heldNote[static_cast<std::size_t>(f)];
            held.assign(static_cast<std::size_t>(m_kicks.endBin()), 0);
            const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
            const int centre = static_cast<int>(std::lround(fits[i]->shape.endHz / m_binHz));
            for (int bin = std::max(m_kicks.firstBin(), centre - 1); bin <= std::min(m_kicks.endBin() - 1, centre + 1); ++bin) {
                const float before = rowOf(onset - 2)[bin];
                held[static_cast<std::size_t>(bin)] = before >= KickTracker::steadyNoteLevel * rowOf(onset + 4)[bin]
                    && before >= KickTracker::steadyNoteFading * rowOf(onset - 3)[bin];
            }
        }
    });
}

void ModelledKickBodies::apply(
    int row, const fftwf_complex* left, const fftwf_complex* right, std::vector<float>& kick, KickTracker::Body& body) const
{
    const std::vector<std::complex<float>>& modelled = m_bodies[static_cast<std::size_t>(row)];
    if (body.left.empty() || modelled.empty())
        return;
    for (int bin = m_kicks.firstBin(); bin < m_kicks.endBin(); ++bin) {
        const auto b = static_cast<std::size_t>(bin);
        const float level = std::abs(modelled[b]);
        // More than a side's bin holds: a note beats it down there, or the
        // sine has drifted; either way the tracker's reading stands.
        if (level > std::hypot(left[bin][0], left[bin][1]) || level > std::hypot(right[bin][0], right[bin][1])
            || m_heldNote[static_cast<std::size_t>(row)][b])
            continue;
        body.left[b] = modelled[b];
        body.right[b] = modelled[b];
        kick[b] = level;
    }
}

} // namespace fotivela::stem_separator
