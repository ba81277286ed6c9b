#include "driven_kick_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace fotivela::stem_separator {

namespace {

constexpr double twoPi = 2 * std::numbers::pi;

// The fit starts on this much of the body, enough to tell its end pitch from
// its sweep, and grows by stretches while the shape leaves no more than this
// share of each.
constexpr double firstSpanSeconds = 0.25;
constexpr double growthSeconds = 0.03;
constexpr double growthResidual = 0.08;
// What a shape that barely grew past its first span may leave of it.
constexpr double barelyGrownResidual = 0.005;
// Drive holds a body up, but it dies away this slowly at most.
constexpr double longestDecaySeconds = 1.5;

// tanh(z·sin θ) = Σ c_k(z)·sin kθ over odd k: the first three, tabled over z.
constexpr int harmonicCount = 3;
constexpr double tableStep = 0.01;
constexpr double tableEnd = 40.0;

struct HarmonicTable {
    std::vector<std::array<double, harmonicCount>> values;
    HarmonicTable()
    {
        const int size = static_cast<int>(tableEnd / tableStep) + 2;
        values.resize(static_cast<std::size_t>(size));
        constexpr int steps = 256;
        for (int i = 0; i < size; ++i) {
            const double z = i * tableStep;
            std::array<double, harmonicCount> c{};
            for (int s = 0; s < steps; ++s) {
                const double theta = std::numbers::pi * (s + 0.5) / steps;
                const double v = std::tanh(z * std::sin(theta));
                for (int k = 0; k < harmonicCount; ++k)
                    c[static_cast<std::size_t>(k)] += v * std::sin((2 * k + 1) * theta);
            }
            for (double& value : c)
                value *= 2.0 / steps;
            values[static_cast<std::size_t>(i)] = c;
        }
    }
    std::array<double, harmonicCount> at(double z) const
    {
        const double x = std::clamp(z, 0.0, tableEnd) / tableStep;
        const auto i = static_cast<std::size_t>(x);
        const double w = x - static_cast<double>(i);
        std::array<double, harmonicCount> c{};
        for (std::size_t k = 0; k < c.size(); ++k)
            c[k] = (1 - w) * values[i][k] + w * values[i + 1][k];
        return c;
    }
};

const HarmonicTable& harmonicTable()
{
    static const HarmonicTable table;
    return table;
}

// The nonlinear numbers of a shape, fitted together; its gain follows from
// them by least squares.
constexpr int parameterCount = 6;
using Parameters = std::array<double, parameterCount>;
enum : std::size_t { endHzAt, sweepHzAt, sweepSecondsAt, decaySecondsAt, driveAt, phaseAt };

Parameters clamped(Parameters p)
{
    p[endHzAt] = std::clamp(p[endHzAt], 25.0, 180.0);
    p[sweepHzAt] = std::clamp(p[sweepHzAt], 0.0, 300.0);
    p[sweepSecondsAt] = std::clamp(p[sweepSecondsAt], 0.005, 0.3);
    p[decaySecondsAt] = std::clamp(p[decaySecondsAt], 0.03, longestDecaySeconds);
    p[driveAt] = std::clamp(p[driveAt], 0.05, 30.0);
    return p;
}

// The shape as the low band holds it (each harmonic as the filter leaves it),
// per unit of gain, over the first `count` samples.
void basis(const LowBand& band, const Parameters& p, int count, std::vector<double>& out)
{
    const HarmonicTable& table = harmonicTable();
    out.resize(static_cast<std::size_t>(count));
    const double rate = band.rate();
    const double sweepStep = std::exp(-1 / (rate * p[sweepSecondsAt]));
    const double decayStep = std::exp(-1 / (rate * p[decaySecondsAt]));
    double sweep = 1, decay = 1;
    for (int i = 0; i < count; ++i) {
        const double t = i / rate;
        const double hz = p[endHzAt] + p[sweepHzAt] * sweep;
        const double phase
            = p[phaseAt] + twoPi * (p[endHzAt] * t + p[sweepHzAt] * p[sweepSecondsAt] * (1 - sweep));
        const std::array<double, harmonicCount> c = table.at(p[driveAt] * decay);
        // sin 3φ and sin 5φ from sin φ.
        const double s1 = std::sin(phase), s2 = s1 * s1;
        const double s3 = s1 * (3 - 4 * s2);
        const double s5 = s1 * (5 - s2 * (20 - 16 * s2));
        out[static_cast<std::size_t>(i)] = (band.response(hz) * c[0] * s1 + band.response(3 * hz) * c[1] * s3
                                               + band.response(5 * hz) * c[2] * s5)
            / p[driveAt];
        sweep *= sweepStep;
        decay *= decayStep;
    }
}

struct Residual {
    double gain = 0;
    double energy = 0; // left unexplained
};

// What rang before, carried on, may fade or stop at any time: it is set
// aside stretch by stretch at whatever level each stretch holds it.
struct Background {
    static constexpr double stretchSeconds = 0.04;
    std::vector<double> values; // empty: nothing rang before
    int stretch = 1;
};

// Removes, stretch by stretch, what lies along the background.
void setAside(const Background& background, int count, std::vector<double>& values)
{
    if (background.values.empty())
        return;
    for (int from = 0; from < count; from += background.stretch) {
        const int to = std::min(count, from + background.stretch);
        double along = 0, norm = 0;
        for (int i = from; i < to; ++i) {
            along += background.values[static_cast<std::size_t>(i)] * values[static_cast<std::size_t>(i)];
            norm += background.values[static_cast<std::size_t>(i)] * background.values[static_cast<std::size_t>(i)];
        }
        if (norm <= 0)
            continue;
        for (int i = from; i < to; ++i)
            values[static_cast<std::size_t>(i)] -= along / norm * background.values[static_cast<std::size_t>(i)];
    }
}

// As setAside over the first `count` values; past them, up to `end`, what
// lies along the background at the level its last stretch held, so that
// something new coming in there is not taken for it.
void setAsideAhead(const Background& background, int count, int end, std::vector<double>& values)
{
    if (background.values.empty() || count <= 0)
        return;
    const int from = (count - 1) / background.stretch * background.stretch;
    double along = 0, norm = 0;
    for (int i = from; i < count; ++i) {
        along += background.values[static_cast<std::size_t>(i)] * values[static_cast<std::size_t>(i)];
        norm += background.values[static_cast<std::size_t>(i)] * background.values[static_cast<std::size_t>(i)];
    }
    setAside(background, count, values);
    if (norm <= 0)
        return;
    for (int i = count; i < end; ++i)
        values[static_cast<std::size_t>(i)] -= along / norm * background.values[static_cast<std::size_t>(i)];
}

// Buffers a fit reuses, and the samples with the background set aside over
// the span last asked for.
struct Scratch {
    std::vector<double> samples, basis;
    int count = -1;
};

Residual residualOf(const std::vector<double>& samples, const std::vector<double>& b, int count,
    const Background& background, Scratch& scratch, std::vector<double>* residuals = nullptr)
{
    if (scratch.count != count) {
        scratch.samples.assign(samples.begin(), samples.begin() + count);
        setAside(background, count, scratch.samples);
        scratch.count = count;
    }
    scratch.basis.assign(b.begin(), b.begin() + count);
    setAside(background, count, scratch.basis);
    const std::vector<double>& y = scratch.samples;
    const std::vector<double>& m = scratch.basis;
    double by = 0, bb = 0;
    for (int i = 0; i < count; ++i) {
        by += m[static_cast<std::size_t>(i)] * y[static_cast<std::size_t>(i)];
        bb += m[static_cast<std::size_t>(i)] * m[static_cast<std::size_t>(i)];
    }
    Residual r;
    r.gain = bb > 0 ? by / bb : 0.0;
    if (residuals)
        residuals->resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double e = y[static_cast<std::size_t>(i)] - r.gain * m[static_cast<std::size_t>(i)];
        r.energy += e * e;
        if (residuals)
            (*residuals)[static_cast<std::size_t>(i)] = e;
    }
    return r;
}

// Levenberg–Marquardt over the nonlinear numbers, the gain solved at each step.
Parameters refine(const LowBand& band, const std::vector<double>& samples, const Background& background, int count,
    Parameters p, int iterations, Scratch& scratch)
{
    static constexpr Parameters steps{1e-3, 1e-2, 1e-5, 1e-4, 1e-3, 1e-4};
    std::vector<double> b, r0, r1;
    basis(band, p, count, b);
    double energy = residualOf(samples, b, count, background, scratch, &r0).energy;
    double lambda = 1e-3;
    std::vector<std::array<double, parameterCount>> jacobian(static_cast<std::size_t>(count));
    for (int iteration = 0; iteration < iterations; ++iteration) {
        for (std::size_t j = 0; j < parameterCount; ++j) {
            Parameters q = p;
            const double h = steps[j] * std::max(1.0, std::abs(p[j]));
            q[j] += h;
            basis(band, q, count, b);
            residualOf(samples, b, count, background, scratch, &r1);
            for (int i = 0; i < count; ++i)
                jacobian[static_cast<std::size_t>(i)][j]
                    = (r1[static_cast<std::size_t>(i)] - r0[static_cast<std::size_t>(i)]) / h;
        }
        std::array<std::array<double, parameterCount>, parameterCount> jj{};
        std::array<double, parameterCount> jr{};
        for (int i = 0; i < count; ++i) {
            const auto& row = jacobian[static_cast<std::size_t>(i)];
            for (std::size_t a = 0; a < parameterCount; ++a) {
                jr[a] += row[a] * r0[static_cast<std::size_t>(i)];
                for (std::size_t c = 0; c < parameterCount; ++c)
                    jj[a][c] += row[a] * row[c];
            }
        }
        bool improved = false;
        for (int attempt = 0; attempt < 8 && !improved; ++attempt) {
            // Solve (JᵀJ + λ·diag) δ = −Jᵀr by elimination.
            std::array<std::array<double, parameterCount + 1>, parameterCount> m{};
            for (std::size_t a = 0; a < parameterCount; ++a) {
                for (std::size_t c = 0; c < parameterCount; ++c)
                    m[a][c] = jj[a][c] + (a == c ? lambda * (jj[a][a] + 1e-12) : 0.0);
                m[a][parameterCount] = -jr[a];
            }
            bool singular = false;
            for (std::size_t c = 0; c < parameterCount && !singular; ++c) {
                std::size_t pivot = c;
                for (std::size_t a = c + 1; a < parameterCount; ++a)
                    if (std::abs(m[a][c]) > std::abs(m[pivot][c]))
                        pivot = a;
                if (std::abs(m[pivot][c]) < 1e-300) {
                    singular = true;
                    break;
                }
                std::swap(m[c], m[pivot]);
                for (std::size_t a = 0; a < parameterCount; ++a) {
                    if (a == c)
                        continue;
                    const double f = m[a][c] / m[c][c];
                    for (std::size_t k = c; k <= parameterCount; ++k)
                        m[a][k] -= f * m[c][k];
                }
            }
            if (singular)
                break;
            Parameters q = p;
            for (std::size_t a = 0; a < parameterCount; ++a)
                q[a] += m[a][parameterCount] / m[a][a];
            q = clamped(q);
            basis(band, q, count, b);
            const double tried = residualOf(samples, b, count, background, scratch, &r1).energy;
            if (tried < energy) {
                improved = true;
                const double gain = (energy - tried) / std::max(energy, 1e-300);
                p = q;
                energy = tried;
                std::swap(r0, r1);
                lambda = std::max(lambda / 4, 1e-9);
                if (gain < 1e-9)
                    return p;
            } else {
                lambda *= 8;
            }
        }
        if (!improved)
            break;
    }
    return p;
}

// The end pitch, sweep and phase over a grid, with the fundamental alone
// and the level dying away at a middling rate.
Parameters firstGuess(const LowBand& band, const std::vector<double>& samples, int count)
{
    constexpr double sweepSeconds = 0.05;
    constexpr double decaySeconds = 0.3;
    Parameters best{60, 0, sweepSeconds, decaySeconds, 0.2, 0};
    double bestEnergy = -1;
    const double rate = band.rate();
    const auto n = static_cast<std::size_t>(count);
    std::vector<double> sweep(n), level(n);
    std::vector<std::complex<double>> swept(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        sweep[i] = std::exp(-t / sweepSeconds);
        level[i] = std::exp(-t / decaySeconds);
    }
    for (double sweepHz : {0.0, 20.0, 40.0, 60.0}) {
        for (std::size_t i = 0; i < n; ++i)
            swept[i] = std::polar(1.0, twoPi * sweepHz * sweepSeconds * (1 - sweep[i]));
        for (double endHz = 30; endHz <= 150; endHz += 0.5) {
            // The phase turns by the end pitch each sample, on top of the sweep.
            const std::complex<double> step = std::polar(1.0, twoPi * endHz / rate);
            std::complex<double> turn(1.0);
            double cc = 0, ss = 0, cs = 0, cy = 0, sy = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const std::complex<double> at = turn * swept[i];
                const double l = level[i] * band.response(endHz + sweepHz * sweep[i]);
                const double c = l * at.real(), s = l * at.imag();
                const double y = samples[i];
                cc += c * c;
                ss += s * s;
                cs += c * s;
                cy += c * y;
                sy += s * y;
                turn *= step;
            }
            const double det = cc * ss - cs * cs;
            if (det <= 0)
                continue;
            const double a = (cy * ss - sy * cs) / det; // along cos
            const double b = (sy * cc - cy * cs) / det; // along sin
            const double explained = a * cy + b * sy;
            if (explained > bestEnergy) {
                bestEnergy = explained;
                // a·cos φ + b·sin φ = √(a²+b²)·sin(φ + atan2(a, b))
                best = Parameters{endHz, sweepHz, sweepSeconds, decaySeconds, 0.2, std::atan2(a, b)};
            }
        }
    }
    return best;
}

// What rang before the onset, carried on past it: a linear predictor fitted
// to the samples before by Burg's method, which never grows what it carries
// (a held note and an earlier kick's dying body are sums of steady or dying
// sines, which such a predictor carries on). Empty where nothing rang.
std::vector<double> carriedOn(const std::vector<float>& samples, int onsetAt, int count)
{
    constexpr int order = 8;
    const int preCount = std::min(onsetAt, 160);
    std::vector<double> out;
    if (preCount < 4 * order)
        return out;
    const int from = onsetAt - preCount;
    std::vector<double> forward(samples.begin() + from, samples.begin() + onsetAt), backward = forward;
    std::vector<double> a{1.0};
    double energy = 0;
    for (double v : forward)
        energy += v * v;
    if (energy <= 0)
        return out;
    for (int m = 0; m < order; ++m) {
        double num = 0, den = 0;
        for (int n = m + 1; n < preCount; ++n) {
            num += forward[static_cast<std::size_t>(n)] * backward[static_cast<std::size_t>(n - 1)];
            den += forward[static_cast<std::size_t>(n)] * forward[static_cast<std::size_t>(n)]
                + backward[static_cast<std::size_t>(n - 1)] * backward[static_cast<std::size_t>(n - 1)];
        }
        if (den <= 0)
            break;
        const double k = -2 * num / den;
        for (int n = preCount - 1; n >= m + 1; --n) {
            const double f = forward[static_cast<std::size_t>(n)];
            forward[static_cast<std::size_t>(n)] = f + k * backward[static_cast<std::size_t>(n - 1)];
            backward[static_cast<std::size_t>(n)] = backward[static_cast<std::size_t>(n - 1)] + k * f;
        }
        std::vector<double> next(a.size() + 1, 0.0);
        for (std::size_t i = 0; i < a.size(); ++i) {
            next[i] += a[i];
            next[a.size() - i] += k * a[i];
        }
        a = std::move(next);
    }
    std::vector<double> history(samples.begin() + onsetAt - order, samples.begin() + onsetAt);
    out.resize(static_cast<std::size_t>(std::max(0, count - onsetAt)));
    for (std::size_t i = 0; i < out.size(); ++i) {
        double y = 0;
        for (std::size_t j = 1; j < a.size(); ++j)
            y -= a[j] * history[history.size() - j];
        out[i] = y;
        history.push_back(y);
    }
    return out;
}

} // namespace

double DrivenKickShape::value(double seconds) const
{
    const double sweep = std::exp(-seconds / sweepSeconds);
    const double angle = phase + twoPi * (endHz * seconds + sweepHz * sweepSeconds * (1 - sweep));
    return gain / drive * std::tanh(drive * std::exp(-seconds / decaySeconds) * std::sin(angle));
}

std::optional<DrivenKickFit> fitDrivenKick(const LowBand& band, const std::vector<float>& song, int onsetAt, int fromAt)
{
    const double rate = band.rate();
    if (onsetAt < 0 || fromAt < onsetAt || fromAt >= static_cast<int>(song.size()))
        return std::nullopt;
    const std::vector<double> samples(song.begin() + fromAt, song.end());
    Background background;
    background.stretch = std::max(1, static_cast<int>(std::lround(Background::stretchSeconds * rate)));
    const std::vector<double> rang = carriedOn(song, onsetAt, static_cast<int>(song.size()));
    if (!rang.empty())
        background.values.assign(rang.begin() + (fromAt - onsetAt), rang.end());
    const int total = static_cast<int>(samples.size());
    const int firstSpan = static_cast<int>(firstSpanSeconds * rate);
    const int chunk = static_cast<int>(std::lround(growthSeconds * rate));
    if (total < firstSpan)
        return std::nullopt;
    Scratch scratch;
    std::vector<double> aside = samples;
    setAside(background, firstSpan, aside);
    Parameters p = refine(band, samples, background, firstSpan, firstGuess(band, aside, firstSpan), 40, scratch);
    int count = firstSpan;
    Parameters fitted = p;
    std::vector<double> b;
    // Grow while the next stretch is explained as the shape carries on.
    while (count + chunk <= total) {
        basis(band, p, count + chunk, b);
        const double gain = residualOf(samples, b, count, background, scratch).gain;
        std::vector<double> left(static_cast<std::size_t>(count + chunk));
        for (int i = 0; i < count + chunk; ++i)
            left[static_cast<std::size_t>(i)] = samples[static_cast<std::size_t>(i)] - gain * b[static_cast<std::size_t>(i)];
        setAsideAhead(background, count, count + chunk, left);
        double unexplained = 0, held = 0;
        for (int i = count; i < count + chunk; ++i) {
            unexplained += left[static_cast<std::size_t>(i)] * left[static_cast<std::size_t>(i)];
            held += samples[static_cast<std::size_t>(i)] * samples[static_cast<std::size_t>(i)];
        }
        if (held <= 0 || unexplained > growthResidual * held)
            break;
        fitted = p;
        count += chunk;
        p = refine(band, samples, background, count, p, 6, scratch);
    }
    // A shape that does not carry on two stretches past its first span may
    // have taken in a note of almost its pitch coming in early: carried on
    // for a second it would drift far off.
    if (count < firstSpan + 2 * chunk)
        return std::nullopt;
    const bool barelyGrew = count < firstSpan + 3 * chunk;
    // A note coming in shows a stretch late: the last stretch taken may hold its start.
    if (count > firstSpan) {
        count -= chunk;
        p = fitted;
    }
    p = refine(band, samples, background, count, p, 20, scratch);
    basis(band, p, count, b);
    const Residual r = residualOf(samples, b, count, background, scratch);
    double energy = 0;
    for (int i = 0; i < count; ++i)
        energy += samples[static_cast<std::size_t>(i)] * samples[static_cast<std::size_t>(i)];
    if (energy <= 0)
        return std::nullopt;
    DrivenKickFit fit;
    fit.shape = DrivenKickShape{p[endHzAt], p[sweepHzAt], p[sweepSecondsAt], p[decaySecondsAt], p[driveAt], r.gain,
        p[phaseAt]};
    if (fit.shape.gain < 0) {
        fit.shape.gain = -fit.shape.gain;
        fit.shape.phase += std::numbers::pi;
    }
    fit.fittedSeconds = count / rate;
    fit.residual = r.energy / energy;
    // Little past the first span vouches for it: the shape must explain it closely.
    if (barelyGrew && fit.residual > barelyGrownResidual)
        return std::nullopt;
    return fit;
}

void drivenKickFrame(const DrivenKickShape& shape, double secondsAtWindowStart, int sampleRate,
    const std::vector<float>& window, float* out)
{
    for (std::size_t i = 0; i < window.size(); ++i) {
        const double t = secondsAtWindowStart + static_cast<double>(i) / sampleRate;
        out[i] = t >= 0 ? static_cast<float>(shape.value(t)) * window[i] : 0.0f;
    }
}

} // namespace fotivela::stem_separator

