#include "kick_tracker.h"

#include "note_glide.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

namespace fotivela::stem_separator {

KickTracker::KickTracker(const SeparationModel& model, int sampleRate)
{
    const double binHz = static_cast<double>(sampleRate) / model.fftSize;
    const double frameSeconds = static_cast<double>(model.hopSize) / sampleRate;
    m_bins = model.fftSize / 2 + 1;
    m_firstBin = std::max(1, static_cast<int>(std::ceil(model.kickBand.fromHz / binHz)));
    m_endBin = std::min(m_bins, static_cast<int>(model.kickBand.toHz / binHz) + 1);
    m_lookbackFrames = static_cast<int>(std::lround(model.kickLookbackSeconds / frameSeconds));
    m_riseRatio = model.kickRiseRatio;
    m_sweepRatio = model.kickSweepRatio;
    m_slowestDecay = std::exp(-frameSeconds / std::max(model.kickLongestDecaySeconds, 1e-3));
    m_fastestDecay = std::exp(-frameSeconds / std::max(model.kickShortestDecaySeconds, 1e-3));
    m_longTail = std::exp(-2 * frameSeconds / 0.2);
    m_binHz = binHz;
    m_drivenDecay = std::exp(-frameSeconds / drivenLongestDecaySeconds);
}

double KickTracker::lowEnergy(const float* row) const
{
    double energy = 0;
    for (int bin = m_firstBin; bin < m_endBin; ++bin)
        energy += static_cast<double>(row[bin]) * row[bin];
    return energy;
}

namespace {

// Centroid, in bins, of what `row` holds above `before`.
double newEnergyCentroid(const float* row, const float* before, int first, int end)
{
    double weighted = 0, total = 0;
    for (int bin = first; bin < end; ++bin) {
        const double added = std::max(0.0f, row[bin] - before[bin]);
        weighted += bin * added * added;
        total += added * added;
    }
    return total > 0 ? weighted / total : 0.0;
}

// Where, in bins between them, what `row` holds above `before` peaks.
double newEnergyPeak(const float* row, const float* before, int first, int end)
{
    int best = first;
    float top = -1;
    for (int bin = first; bin < end; ++bin) {
        const float added = std::max(0.0f, row[bin] - before[bin]);
        if (added > top) {
            top = added;
            best = bin;
        }
    }
    if (best == first || best + 1 >= end)
        return best;
    const double below = std::max(0.0f, row[best - 1] - before[best - 1]);
    const double above = std::max(0.0f, row[best + 1] - before[best + 1]);
    const double curve = below - 2 * top + above;
    return curve < 0 ? best + 0.5 * (below - above) / curve : best;
}

// The level of what `row` holds above `before`.
double newLevel(const float* row, const float* before, int first, int end)
{
    double energy = 0;
    for (int bin = first; bin < end; ++bin) {
        const double added = std::max(0.0f, row[bin] - before[bin]);
        energy += added * added;
    }
    return std::sqrt(energy);
}

} // namespace

// A driven kick's pitch falls in small steps for six frames and more, where a
// plain kick's has dropped at once or a note's has settled; and its body still
// holds half its level six frames in, where a plain kick's has died away.
KickTracker::DrivenSweep KickTracker::drivenSweep(const float* magnitude, int stride, int row) const
{
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    const float* before = rowOf(row - 2);
    std::array<double, 7> pitch{};
    double loudest = 0;
    for (int k = 0; k < 7; ++k) {
        pitch[static_cast<std::size_t>(k)] = newEnergyPeak(rowOf(row + k), before, m_firstBin, m_endBin) * m_binHz;
        if (k < 4)
            loudest = std::max(loudest, newLevel(rowOf(row + k), before, m_firstBin, m_endBin));
    }
    const double steepest = std::max({pitch[0] - pitch[1], pitch[1] - pitch[2], pitch[2] - pitch[3]});
    if (steepest >= drivenSweepMaxStepHz || pitch[3] - pitch[6] < drivenSweepLateFallHz
        || pitch[0] - pitch[6] < drivenSweepFallHz)
        return DrivenSweep::none;
    return newLevel(rowOf(row + 6), before, m_firstBin, m_endBin) >= drivenHeldLevel * loudest ? DrivenSweep::holding
                                                                                             : DrivenSweep::sweepOnly;
}

void KickTracker::findOnsets(const float* magnitude, int stride, int rows, std::vector<std::uint8_t>& onsets,
    std::vector<std::uint8_t>* glides) const
{
    onsets.assign(static_cast<std::size_t>(std::max(rows, 0)), 0);
    if (glides)
        glides->assign(onsets.size(), 0);
    if (!enabled() || rows <= onsetReachBefore + onsetReachAfter)
        return;
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    std::vector<double> energy(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
        energy[static_cast<std::size_t>(r)] = lowEnergy(rowOf(r));
    const auto rise = [&](int r) {
        return energy[static_cast<std::size_t>(r)] / (energy[static_cast<std::size_t>(r - 2)] + 1e-9);
    };
    // Where a driven kick's body was last seen to hold: one that lands on it
    // is driven too, though its own body cannot be told from the one before.
    int lastHeld = -1;
    const double drivenRise = std::min(m_riseRatio, drivenRiseRatio);
    for (int r = onsetReachBefore; r + onsetReachAfter < rows; ++r) {
        const double here = rise(r);
        if (here < drivenRise || here < rise(r - 1) || here <= rise(r + 1))
            continue;
        // The pitch falls: what came new at the onset sits higher than what is new three frames on.
        const double atOnset = newEnergyCentroid(rowOf(r), rowOf(r - 2), m_firstBin, m_endBin);
        const double later = newEnergyCentroid(rowOf(r + 3), rowOf(r - 2), m_firstBin, m_endBin);
        if (later <= 0)
            continue;
        const bool onHeld = lastHeld >= 0 && r - lastHeld <= m_lookbackFrames;
        // Landing on a held body, the new sweep beats against it and is
        // clearer from a frame earlier, whose window already holds its start;
        // and the body it lands on ringing on blurs how far its pitch falls.
        const bool fallsOnHeld = onHeld && atOnset >= drivenOnHeldSweepRatio * later;
        const DrivenSweep sweep = atOnset >= drivenSweepRatio * later || fallsOnHeld
            ? drivenSweep(magnitude, stride, r)
            : DrivenSweep::none;
        // A driven kick starting late in its first frame shows little of its
        // sweep there; the next frame, holding its whole start, tells.
        DrivenSweep sweepNext = DrivenSweep::none;
        if (sweep == DrivenSweep::none && !fallsOnHeld) {
            const double nextOnset = newEnergyCentroid(rowOf(r + 1), rowOf(r - 2), m_firstBin, m_endBin);
            const double nextLater = newEnergyCentroid(rowOf(r + 4), rowOf(r - 2), m_firstBin, m_endBin);
            if (nextLater > 0 && nextOnset >= drivenSweepRatio * nextLater)
                sweepNext = drivenSweep(magnitude, stride, r + 1);
        }
        const bool sweepsOnHeld = fallsOnHeld
            && (sweep != DrivenSweep::none || drivenSweep(magnitude, stride, r - 1) != DrivenSweep::none);
        if (sweep == DrivenSweep::holding || sweepsOnHeld || sweepNext == DrivenSweep::holding)
            onsets[static_cast<std::size_t>(r)] = drivenKickOnset;
        else if (here >= m_riseRatio && atOnset >= m_sweepRatio * later) {
            if (!glidesIntoNote(GlideProbe{magnitude, stride, r, m_firstBin, m_endBin, m_bins}))
                onsets[static_cast<std::size_t>(r)] = kickOnset;
            else if (glides)
                (*glides)[static_cast<std::size_t>(r)] = 1;
        }
        if (sweep == DrivenSweep::holding || sweepNext == DrivenSweep::holding)
            lastHeld = r;
    }
}

void KickTracker::kickSpectrum(const float* magnitude, const fftwf_complex* left, const fftwf_complex* right,
    int stride, int rows, int row, const std::vector<std::uint8_t>& onsets, const std::vector<BodyFit>& fits,
    std::vector<float>& out, Body& body) const
{
    body.left.clear();
    body.right.clear();
    kickAt(Rows{magnitude, left, right, stride, rows, &fits}, row, onsets, out, 1, &body);
}

void KickTracker::kickAt(const Rows& span, int row, const std::vector<std::uint8_t>& onsets, std::vector<float>& out,
    int depth, Body* body) const
{
    out.assign(static_cast<std::size_t>(m_bins), 0.0f);
    if (!enabled())
        return;
    int onset = -1;
    for (int r = row; r >= std::max(onsetReachBefore, row - m_lookbackFrames); --r)
        if (onsets[static_cast<std::size_t>(r)]) {
            onset = r;
            break;
        }
    const int rows = span.count;
    if (onset < 0 && span.fits) {
        // A fitted body dies away by its own pole past the look-back, until
        // the next onset.
        const int earliest = std::max(onsetReachBefore, row - m_lookbackFrames - pencilBeyondFrames);
        for (int r = row - m_lookbackFrames - 1; r >= earliest; --r) {
            if (!onsets[static_cast<std::size_t>(r)])
                continue;
            bool clear = true;
            for (int ahead = row + 1; ahead <= std::min(row + pencilClearFrames, rows - 1); ++ahead)
                clear = clear && !onsets[static_cast<std::size_t>(ahead)];
            const BodyFit& fit = (*span.fits)[static_cast<std::size_t>(r)];
            if (fit.holds(row) && clear) {
                if (body) {
                    body->left.assign(static_cast<std::size_t>(m_bins), std::complex<float>(0.0f));
                    body->right.assign(static_cast<std::size_t>(m_bins), std::complex<float>(0.0f));
                }
                fittedBody(span, fit, row, out, body);
            }
            break;
        }
        return;
    }
    if (onset < 0 || onset + onsetReachAfter >= rows)
        return;
    if (onsets[static_cast<std::size_t>(onset)] == drivenKickOnset) {
        std::vector<float> earlierKick, earlierStill;
        if (depth > 0) {
            kickAt(span, onset - 2, onsets, earlierKick, depth - 1, nullptr);
            kickAt(span, onset - 2 - earlierDecayFrames, onsets, earlierStill, depth - 1, nullptr);
        }
        drivenKickMagnitude(span, onset, row, earlierKick, earlierStill, out, body);
        if (span.fits && static_cast<std::size_t>(onset) < span.fits->size()) {
            const BodyFit& fit = (*span.fits)[static_cast<std::size_t>(onset)];
            if (fit.holds(row))
                fittedBody(span, fit, row, out, body);
        }
        return;
    }
    const float* magnitude = span.magnitude;
    const int stride = span.stride;
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    const float* before = rowOf(onset - 2);
    const float* here = rowOf(row);
    const float* settled = rowOf(onset + 4);
    // After the sweep what is new holds the kick's body, dying away, and may
    // hold a note that began with it and holds on: new energy two, four and
    // eight frames in gives the body's decay and the held rest.
    double sums[3] = {0, 0, 0};
    const int offsets[3] = {2, 4, 8};
    for (int k = 0; k < 3; ++k) {
        const float* at = rowOf(onset + offsets[k]);
        for (int bin = m_firstBin; bin < m_endBin; ++bin)
            sums[k] += std::max(0.0f, at[bin] - before[bin]);
    }
    double atOnset = 0;
    for (int bin = m_firstBin; bin < m_endBin; ++bin)
        atOnset += std::max(0.0f, rowOf(onset)[bin] - before[bin]);
    // sums = body·d^(offset − 2) + held; with q = d²: (s4 − s8) / (s2 − s4) = q (1 + q).
    const double slowest = m_slowestDecay * m_slowestDecay;
    double q = slowest;
    double share = 1.0;
    const double fall = sums[0] - sums[1];
    if (fall > 0.05 * sums[0]) {
        const double ratio = std::max(0.0, sums[1] - sums[2]) / fall;
        q = (std::sqrt(1 + 4 * ratio) - 1) / 2;
        if (q > slowest)
            return; // falling faster later than at first: a note ending, not a body dying away
        q = std::max(q, m_fastestDecay * m_fastestDecay);
        const double body = std::min(sums[0], fall / (1 - q));
        // The body's share of what is new four frames in.
        share = sums[1] > 0 ? std::min(1.0, body * q / sums[1]) : 0.0;
    } else if (sums[2] < 0.85 * sums[0] || sums[1] < 0.7 * atOnset) {
        // Neither dying away nor holding, or held under a hit that was gone at once: no body.
        return;
    }
    // Nothing falling yet: a driven kick holding its level, all body at the slowest decay.
    // A long body is a kick's only while its pitch is still settling; else it
    // is a note that began with the kick.
    if (q > m_longTail
        && newEnergyCentroid(rowOf(onset + 2), before, m_firstBin, m_endBin)
            < 1.1 * newEnergyCentroid(settled, before, m_firstBin, m_endBin))
        return;
    if (row < onset + 4) {
        // While the pitch sweeps, what is new here and gone four frames on is the kick's.
        for (int bin = m_firstBin; bin < m_endBin; ++bin) {
            const float added = std::max(0.0f, here[bin] - before[bin]);
            const float stays = std::max(0.0f, settled[bin] - before[bin]);
            out[static_cast<std::size_t>(bin)] = std::max(0.0f, added - stays);
        }
        return;
    }
    const auto gain = static_cast<float>(share * std::pow(std::sqrt(q), row - onset - 4));
    for (int bin = m_firstBin; bin < m_endBin; ++bin) {
        const float settledBody = std::max(0.0f, settled[bin] - before[bin]);
        out[static_cast<std::size_t>(bin)] = std::min(here[bin], settledBody * gain);
    }
}

void KickTracker::drivenKickMagnitude(const Rows& span, int onset, int row, const std::vector<float>& earlierKick,
    const std::vector<float>& earlierStill, std::vector<float>& out, Body* spectrum) const
{
    const auto rowOf = [&](int r) { return span.magnitude + static_cast<std::ptrdiff_t>(r) * span.stride; };
    const auto centre = [&](int r, std::size_t bin) {
        const auto at = static_cast<std::size_t>(r) * static_cast<std::size_t>(span.stride) + bin;
        return 0.5f
            * std::complex<float>(span.left[at][0] + span.right[at][0], span.left[at][1] + span.right[at][1]);
    };
    // What rang before the kick rings on as it was, turning and dying away
    // from frame to frame (a bass note holds, an earlier kick's body falls
    // on): what is new is what the spectrum holds besides it, whatever their
    // phases.
    const float* before = rowOf(onset - 2);
    const float* settled = rowOf(onset + 4);
    const auto firstBin = static_cast<std::size_t>(m_firstBin);
    const auto endBin = static_cast<std::size_t>(m_endBin);
    // An earlier kick rings on dying away as it did before this one came,
    // however its phase turned.
    double earlierNow = 0, earlierThen = 0;
    for (std::size_t bin = firstBin; bin < endBin && !earlierStill.empty(); ++bin) {
        earlierNow += static_cast<double>(earlierKick[bin]) * earlierKick[bin];
        earlierThen += static_cast<double>(earlierStill[bin]) * earlierStill[bin];
    }
    const double earlierDecay = earlierThen > 0
        ? std::min(m_drivenDecay, std::pow(earlierNow / earlierThen, 0.5 / earlierDecayFrames))
        : m_drivenDecay;
    std::vector<std::complex<float>> rest(endBin), turn(endBin), restLeft(endBin), restRight(endBin);
    const auto side = [&](const fftwf_complex* values, int r, std::size_t bin) {
        const auto at = static_cast<std::size_t>(r) * static_cast<std::size_t>(span.stride) + bin;
        return std::complex<float>(values[at][0], values[at][1]);
    };
    // Under a steady note that rang before, a body seeming to outlast a plain
    // kick's is more likely the note: there it dies away like a plain kick's.
    std::vector<std::uint8_t> steadyNote(endBin, 0);
    for (std::size_t bin = firstBin; bin < endBin; ++bin) {
        rest[bin] = centre(onset - 2, bin);
        restLeft[bin] = side(span.left, onset - 2, bin);
        restRight[bin] = side(span.right, onset - 2, bin);
        const std::complex<float> earlier = centre(onset - 3, bin);
        turn[bin] = std::norm(earlier) > 0 ? rest[bin] / earlier : std::complex<float>(0.0f);
        if (std::abs(turn[bin]) > 1.0f)
            turn[bin] /= std::abs(turn[bin]);
        // Where it is mostly an earlier kick, it dies away as that kick did.
        if (!earlierStill.empty() && earlierKick[bin] >= earlierKickShare * before[bin]
            && std::abs(turn[bin]) > earlierDecay)
            turn[bin] *= static_cast<float>(earlierDecay) / std::abs(turn[bin]);
        // What still rings of an earlier kick is no note.
        const float rung = earlierKick.empty() ? before[bin] : std::max(0.0f, before[bin] - earlierKick[bin]);
        steadyNote[bin] = std::abs(turn[bin]) > steadyNoteFading && rung >= steadyNoteLevel * settled[bin];
    }
    const auto fresh = [&](int r, std::size_t bin) {
        return std::min(rowOf(r)[bin], std::abs(centre(r, bin) - rest[bin]));
    };
    const auto age = [&](int frames) {
        for (int f = 0; f < frames; ++f)
            for (std::size_t bin = firstBin; bin < endBin; ++bin) {
                rest[bin] *= turn[bin];
                restLeft[bin] *= turn[bin];
                restRight[bin] *= turn[bin];
            }
    };
    // While it sweeps, all that is new is the kick's; but the first two
    // frames' windows reach back before the hit, and there only what is gone
    // four frames on is, as with a plain kick. The second reaches back half
    // as far: there half of what stays is the kick's too.
    const int sweepEnd = onset + 4;
    std::vector<float> body(endBin + 1, 0.0f);
    const std::vector<std::complex<float>> rang = rest, rangLeft = restLeft, rangRight = restRight;
    if (row < onset + 2) {
        age(row - onset + 2);
        for (std::size_t bin = firstBin; bin < endBin; ++bin)
            body[bin] = fresh(row, bin);
        age(sweepEnd - row);
        for (std::size_t bin = firstBin; bin < endBin; ++bin)
            body[bin] = std::max(0.0f, body[bin] - (row == onset ? 1.0f : 0.5f) * fresh(sweepEnd, bin));
        rest = rang;
        restLeft = rangLeft;
        restRight = rangRight;
        age(row - onset + 2);
    } else {
        age(std::min(row, sweepEnd) - onset + 2);
        for (std::size_t bin = firstBin; bin < endBin; ++bin)
            body[bin] = fresh(std::min(row, sweepEnd), bin);
    }
    // Then the body dies away, held up by the drive, and a note coming in
    // over it does not lift it. Its pitch still falls a little: each bin may
    // take what its neighbours held.
    std::vector<float> next(body.size(), 0.0f);
    const auto driven = static_cast<float>(m_drivenDecay);
    const auto plain = static_cast<float>(m_slowestDecay);
    const auto width = endBin - firstBin;
    const auto seenCount = static_cast<std::size_t>(std::max(0, row - sweepEnd)) * width;
    std::vector<float> seen(seenCount);
    std::vector<std::complex<float>> seenLeft(seenCount), seenRight(seenCount);
    for (int r = sweepEnd + 1; r <= row; ++r) {
        age(1);
        const auto at = static_cast<std::size_t>(r - sweepEnd - 1) * width;
        float* held = seen.data() + at;
        for (std::size_t bin = firstBin; bin < endBin; ++bin) {
            held[bin - firstBin] = fresh(r, bin);
            seenLeft[at + bin - firstBin] = side(span.left, r, bin) - restLeft[bin];
            seenRight[at + bin - firstBin] = side(span.right, r, bin) - restRight[bin];
            const float reach = std::max({body[bin - 1], body[bin], body[bin + 1]});
            next[bin] = std::min(held[bin - firstBin], reach * (steadyNote[bin] ? plain : driven));
        }
        std::swap(body, next);
    }
    const int fittedFrames = fitDecay(seen, width, row - sweepEnd, steadyNote, firstBin, body);
    const bool fitted = fittedFrames > 0;
    // Past the fitted frames the body is carried on in phase: every bin of a
    // settled sine turns alike from frame to frame. Its pitch may still be
    // settling, so the turn goes on changing as it changed over the last
    // frames, by shrinking steps.
    const int carriedOn = fitted ? row - sweepEnd - fittedFrames : 0;
    double phaseOn = 0;
    bool inPhase = false;
    if (carriedOn > 0 && carriedOn <= inPhaseFrames && fittedFrames > 2 * turnFrames + 1) {
        const auto turnAt = [&](int f) {
            std::complex<double> sum(0.0);
            for (std::size_t k = 0; k < width; ++k) {
                const auto now = static_cast<std::size_t>(f) * width + k;
                const std::complex<float> c = seenLeft[now] + seenRight[now];
                const std::complex<float> p = seenLeft[now - width] + seenRight[now - width];
                sum += std::complex<double>(c * std::conj(p));
            }
            return sum;
        };
        std::complex<double> newer(0.0), older(0.0);
        for (int i = 0; i < turnFrames; ++i) {
            newer += turnAt(fittedFrames - 1 - i);
            older += turnAt(fittedFrames - 1 - turnFrames - i);
        }
        if (std::abs(newer) > 0 && std::abs(older) > 0) {
            inPhase = true;
            double turn = std::arg(newer);
            double change = std::arg(newer / older) / turnFrames;
            // The newer turns stand about half their count before the last fitted frame.
            for (int j = 0; j < turnFrames / 2; ++j) {
                change *= settlingShrink;
                turn += change;
            }
            for (int j = 0; j < carriedOn; ++j) {
                change *= settlingShrink;
                turn += change;
                phaseOn += turn;
            }
        }
    }
    // What rings on of an earlier kick is the kick's too.
    const float* here = rowOf(row);
    if (spectrum) {
        spectrum->left.assign(static_cast<std::size_t>(m_bins), std::complex<float>(0.0f));
        spectrum->right.assign(static_cast<std::size_t>(m_bins), std::complex<float>(0.0f));
    }
    const auto earlierFall = static_cast<float>(std::pow(earlierDecay, row - onset + 2));
    for (std::size_t bin = firstBin; bin < endBin; ++bin) {
        float carriedShare
            = earlierKick.empty() || before[bin] <= 0 ? 0.0f : std::min(1.0f, earlierKick[bin] / before[bin]);
        if (!earlierStill.empty() && carriedShare > 0) {
            const float aged = std::abs(rest[bin]) * carriedShare;
            const float dying = earlierKick[bin] * earlierFall;
            if (aged > dying)
                carriedShare *= dying / aged;
        }
        const float carried = std::abs(rest[bin]) * carriedShare;
        const float lift = fitted ? 1.0f : drivenBodyLift;
        out[bin] = std::min(here[bin], lift * std::sqrt(body[bin] * body[bin] + carried * carried));
        if (!spectrum)
            continue;
        if (inPhase && !steadyNote[bin]) {
            const auto from = static_cast<std::size_t>(fittedFrames - 1) * width + (bin - firstBin);
            const float was = 0.5f * std::abs(seenLeft[from] + seenRight[from]);
            const float level = std::min(was, body[bin]);
            const auto step = std::polar(1.0f, static_cast<float>(phaseOn));
            const float gain = was > 0 ? level / was : 0.0f;
            spectrum->left[bin] = gain * step * seenLeft[from] + carriedShare * restLeft[bin];
            spectrum->right[bin] = gain * step * seenRight[from] + carriedShare * restRight[bin];
            out[bin] = std::min(here[bin], 0.5f * std::abs(spectrum->left[bin] + spectrum->right[bin]));
            continue;
        }
        // The body lies along what is new, each side as it holds it, where a
        // steady note rang before and rings on in step; elsewhere along the bin.
        const bool inStep = steadyNote[bin] && row - onset <= 6;
        const std::complex<float> keep = inStep ? 1.0f : 0.0f;
        const std::complex<float> newLeft = side(span.left, row, bin) - keep * restLeft[bin];
        const std::complex<float> newRight = side(span.right, row, bin) - keep * restRight[bin];
        const float newLevel = std::abs(0.5f * (newLeft + newRight));
        if (!inStep) {
            const float gain = here[bin] > 0 ? out[bin] / here[bin] : 0.0f;
            spectrum->left[bin] = gain * newLeft;
            spectrum->right[bin] = gain * newRight;
            continue;
        }
        const float gain = newLevel > 0 ? std::min(1.0f, body[bin] / newLevel) : 0.0f;
        spectrum->left[bin] = gain * newLeft + carriedShare * restLeft[bin];
        spectrum->right[bin] = gain * newRight + carriedShare * restRight[bin];
    }
}

// Once a note comes in over the body, the least each bin held follows the
// dips of their beating, not the body. Before it came in, the body died away
// alone: the decay fitted to those frames carries it on under the note.
int KickTracker::fitDecay(const std::vector<float>& seen, std::size_t width, int frames,
    const std::vector<std::uint8_t>& steadyNote, std::size_t firstBin, std::vector<float>& body) const
{
    if (frames < fitFirstFrame + fitLeastFrames + entryMarginFrames + 1)
        return 0;
    const auto at = [&](int f, std::size_t k) { return seen[static_cast<std::size_t>(f) * width + k]; };
    std::vector<double> level(static_cast<std::size_t>(frames));
    for (int f = 0; f < frames; ++f) {
        double energy = 0;
        for (std::size_t k = 0; k < width; ++k)
            energy += static_cast<double>(at(f, k)) * at(f, k);
        level[static_cast<std::size_t>(f)] = std::log(std::max(energy, 1e-30)) / 2;
    }
    // The note comes in where the level leaves the line its last frames drew.
    int entry = -1;
    for (int f = fitFirstFrame + slopeFrames + 1; f < frames; ++f) {
        const auto l = [&](int i) { return level[static_cast<std::size_t>(i)]; };
        const double slope = (l(f - 1) - l(f - 1 - slopeFrames)) / slopeFrames;
        if (std::abs(l(f) - (l(f - 1) + slope)) > entryTolerance || l(f) > l(f - 1)) {
            entry = f;
            break;
        }
    }
    const int last = entry - entryMarginFrames; // fitted frames [0, last)
    if (entry < 0 || last - fitFirstFrame < fitLeastFrames)
        return 0;
    // One decay for the whole body, each bin at its own level.
    double sumTT = 0, sumTL = 0;
    std::vector<double> binW(width, 0.0), binT(width, 0.0), binL(width, 0.0);
    for (std::size_t k = 0; k < width; ++k)
        for (int f = fitFirstFrame; f < last; ++f) {
            const double v = at(f, k);
            if (v <= 0)
                continue;
            const double w = v * v;
            const double l = std::log(v);
            binW[k] += w;
            binT[k] += w * f;
            binL[k] += w * l;
        }
    // Within each bin, about its own weighted means.
    for (std::size_t k = 0; k < width; ++k) {
        if (binW[k] <= 0)
            continue;
        const double mt = binT[k] / binW[k], ml = binL[k] / binW[k];
        for (int f = fitFirstFrame; f < last; ++f) {
            const double v = at(f, k);
            if (v <= 0)
                continue;
            const double w = v * v;
            sumTT += w * (f - mt) * (f - mt);
            sumTL += w * (f - mt) * (std::log(v) - ml);
        }
    }
    if (sumTT <= 0)
        return 0;
    const double slowest = std::log(m_drivenDecay);
    const double slope = std::min(slowest, drivenDecayQuickening * sumTL / sumTT);
    const int now = frames - 1;
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t bin = firstBin + k;
        if (steadyNote[bin] || binW[k] <= 0)
            continue;
        const double mt = binT[k] / binW[k], ml = binL[k] / binW[k];
        body[bin] = static_cast<float>(std::exp(ml + slope * (now - mt)));
    }
    return last;
}

void KickTracker::fitBodies(const float* magnitude, const fftwf_complex* left, const fftwf_complex* right,
    int stride, int rows, const std::vector<std::uint8_t>& onsets, std::vector<BodyFit>& fits) const
{
    fits.assign(onsets.size(), BodyFit{});
    const Rows span{magnitude, left, right, stride, rows};
    for (int onset = 0; onset < static_cast<int>(onsets.size()); ++onset) {
        if (onsets[static_cast<std::size_t>(onset)] != drivenKickOnset)
            continue;
        int end = std::min(onset + m_lookbackFrames + 1, rows - onsetReachAfter);
        for (int r = onset + 1; r < end; ++r)
            if (onsets[static_cast<std::size_t>(r)]) {
                end = r;
                break;
            }
        fits[static_cast<std::size_t>(onset)] = fitBody(span, onset, end);
    }
}

BodyFit KickTracker::fitBody(const Rows& span, int onset, int end) const
{
    const int sweepEnd = onset + 4;
    const auto rowOf = [&](int r) { return span.magnitude + static_cast<std::ptrdiff_t>(r) * span.stride; };
    const auto value = [&](const fftwf_complex* side, int r, int bin) {
        const auto at = static_cast<std::size_t>(r) * static_cast<std::size_t>(span.stride) + static_cast<std::size_t>(bin);
        return std::complex<double>(side[at][0], side[at][1]);
    };
    if (onset < 2 || end - sweepEnd < pencilFromFrame + pencilLeastFrames)
        return {};
    // The lobe: where the settling body is new.
    const int peak = static_cast<int>(
        std::lround(newEnergyPeak(rowOf(sweepEnd + 2), rowOf(onset - 2), m_firstBin, m_endBin)));
    const int lobeFirst = std::max(m_firstBin, peak - pencilLobeBins);
    const int width = std::min(m_endBin, peak + pencilLobeBins + 1) - lobeFirst;
    if (width < 2)
        return {};
    // Frames where the note is still coming in, or something else rings
    // besides, leave more than two poles can explain.
    std::vector<std::complex<double>> centre;
    for (int first = sweepEnd + pencilFromFrame; first + pencilLeastFrames <= end; ++first) {
        const int frames = std::min(pencilFrames, end - first);
        centre.assign(static_cast<std::size_t>(frames * width), 0.0);
        for (int f = 0; f < frames; ++f)
            for (int k = 0; k < width; ++k)
                centre[static_cast<std::size_t>(f * width + k)]
                    = 0.5 * (value(span.left, first + f, lobeFirst + k) + value(span.right, first + f, lobeFirst + k));
        const auto poles = fitTwoPoles(centre, frames, width);
        if (!poles)
            continue;
        double residual = 0, energy = 0;
        for (int k = 0; k < width; ++k) {
            double left = 0;
            poleAmplitudes(*poles, centre.data() + k, frames, width, left);
            residual += left;
            for (int f = 0; f < frames; ++f)
                energy += std::norm(centre[static_cast<std::size_t>(f * width + k)]);
        }
        if (energy <= 0 || residual > pencilWorstResidual * energy)
            continue;
        // Two poles that explain the frames right after the sweep rang
        // from the start: a note held from before, or an earlier kick, which
        // the body followed from before the onset already parts from it.
        if (first == sweepEnd + pencilFromFrame)
            return {};
        // Which is the body only their damping says: it must be clear.
        if (std::abs(poles->body) < pencilBodyLeast || std::abs(poles->body) > pencilBodyMost
            || std::abs(poles->note) < pencilNoteLeast || std::abs(poles->note) > pencilNoteMost
            || std::abs(poles->note) - std::abs(poles->body) < pencilDampingGap)
            continue;
        // Poles close together may cancel each other in the frames fitted
        // and not past them: neither outweighs what the lobe held by much
        // (a note at the lobe's edge may take a little off the body).
        // Nor is it a mere trace of it. At one pitch, a body and a note
        // dying away at nearby rates pass for one pole and a faint stray
        // beside it; a note of another pitch may rightly be faint here.
        double bodyEnergy = 0, noteEnergy = 0, loudest = 0, start = 0;
        for (int k = 0; k < width; ++k) {
            double left = 0;
            const auto amplitudes = poleAmplitudes(*poles, centre.data() + k, frames, width, left);
            bodyEnergy += std::norm(amplitudes[0]);
            noteEnergy += std::norm(amplitudes[1]);
            start += std::norm(centre[static_cast<std::size_t>(k)]);
        }
        for (int f = 0; f < frames; ++f) {
            double held = 0;
            for (int k = 0; k < width; ++k)
                held += std::norm(centre[static_cast<std::size_t>(f * width + k)]);
            loudest = std::max(loudest, held);
        }
        const bool strayBeside = std::abs(std::arg(poles->note / poles->body)) < pencilBesideTurn
            && noteEnergy < pencilNoteLeastShare * start;
        if (std::max(bodyEnergy, noteEnergy) > pencilMostOfLobe * loudest || bodyEnergy < pencilBodyLeastShare * start || strayBeside)
            continue;
        // A pole fitted while the pitch still falls would carry the body
        // on at a pitch it has left.
        if (frames - pencilSettledShift >= pencilSettledFrames) {
            const std::vector<std::complex<double>> later(centre.begin() + pencilSettledShift * width, centre.end());
            const auto settled = fitTwoPoles(later, frames - pencilSettledShift, width);
            if (settled && std::abs(std::arg(settled->body / poles->body)) > pencilSettledTurn)
                continue;
        }
        BodyFit fit;
        fit.first = first;
        // Not back into the sweep, which no one pole follows.
        fit.from = std::max(sweepEnd + pencilFromFrame, first - pencilLeadFrames);
        fit.lobeFirst = lobeFirst;
        fit.pole = poles->body;
        std::vector<std::complex<double>> series(static_cast<std::size_t>(frames));
        for (int side = 0; side < 2; ++side) {
            const fftwf_complex* values = side == 0 ? span.left : span.right;
            auto& amplitudes = side == 0 ? fit.left : fit.right;
            for (int k = 0; k < width; ++k) {
                for (int f = 0; f < frames; ++f)
                    series[static_cast<std::size_t>(f)] = value(values, first + f, lobeFirst + k);
                double left = 0;
                amplitudes.push_back(poleAmplitudes(*poles, series.data(), frames, 1, left)[0]);
            }
        }
        return fit;
    }
    return {};
}

void KickTracker::fittedBody(const Rows& span, const BodyFit& fit, int row, std::vector<float>& out, Body* body) const
{
    const float* here = span.magnitude + static_cast<std::ptrdiff_t>(row) * span.stride;
    const std::complex<double> step = std::pow(fit.pole, row - fit.first);
    for (std::size_t k = 0; k < fit.left.size(); ++k) {
        const std::complex<double> left = fit.left[k] * step, right = fit.right[k] * step;
        const auto bin = static_cast<std::size_t>(fit.lobeFirst) + k;
        out[bin] = std::min(here[bin], static_cast<float>(0.5 * std::abs(left + right)));
        if (body && !body->left.empty()) {
            body->left[bin] = std::complex<float>(left);
            body->right[bin] = std::complex<float>(right);
        }
    }
}

} // namespace fotivela::stem_separator
