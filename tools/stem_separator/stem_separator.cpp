#include "stem_separator.h"

#include "fft_plans.h"
#include "input_window.h"
#include "kick_tracker.h"
#include "note_glide.h"
#include "mask_refinement.h"
#include "modelled_kick_bodies.h"
#include "note_persistence.h"
#include "parallel_for.h"
#include "spectral_masks.h"
#include "onset_gate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <complex>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace fotivela::stem_separator {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The three masked stems, each in two sides; other is what they leave of the input.
constexpr int maskedStems = 3;
constexpr std::array<Stem, maskedStems> maskedStemOrder{Stem::drums, Stem::bass, Stem::vocals};

struct Geometry {
    int size = 0;    // window
    int hop = 0;
    int lead = 0;    // frame k covers song frames [k·hop − lead, k·hop − lead + size)
    int bins = 0;
    int stride = 0;  // complex values per stored spectrum
    int context = 0; // frames each side a mask looks at

    std::int64_t frameStart(std::int64_t frame) const { return frame * hop - lead; }
    // Frames needed so that every song frame gets its full overlap.
    std::int64_t frameCount(std::int64_t length) const { return (length - 1 + lead) / hop + 1; }
};

// Each worker's buffers, allocated once.
struct Worker {
    FftwArray<float> samples;
    FftwArray<fftwf_complex> spectrum;
    FrameMasks masks;
    MaskScratch scratch;
    RefinementScratch refinement;
    std::vector<const float*> drumRows, bassRows, vocalRows, refineRows;
    std::vector<const float*> magnitudeRows;
    std::vector<const fftwf_complex*> leftRows, rightRows;
    std::vector<float> kick, lasting, glide;
    KickTracker::Body kickBody;
    // Overlap-add of this worker's frames: [stem][side] over its span of the block.
    std::array<std::array<std::vector<float>, 2>, maskedStems> sum;
    int firstFrame = 0; // the block's core frames this worker summed: [firstFrame, endFrame)
    int endFrame = 0;
    std::atomic<std::int64_t> forwardNanos{0}, inverseNanos{0}, maskNanos{0};
};

std::int64_t nanosSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

} // namespace

SeparationTimings separateStems(InputWindow& input, const SeparationModel& model, double blockSeconds,
    StemSink& output, int workers)
{
    workers = std::max(1, workers);
    const FftPlans plans(model.fftSize);
    Geometry g;
    g.size = model.fftSize;
    g.hop = model.hopSize;
    g.lead = g.size - g.hop;
    g.bins = plans.binCount();
    g.stride = plans.binStride();
    const KickTracker kicks(model, input.sampleRate());
    const NotePersistence persistence(model, input.sampleRate());
    // The masks of a frame read this many frames each side; their refinement
    // reads the masks of refineReach frames each side.
    const int maskReach = std::max(
        {model.harmonicMedianFrames / 2, model.centreSmoothingFrames, kicks.reach(), persistence.reach()});
    const bool refine = refinementEnabled(model);
    const int refineBefore = refine ? model.refineMaskFrames : 0;
    const int refineAfter = refine ? model.refineMaskFramesAhead : 0;
    const int refineReach = std::max(refineBefore, refineAfter);
    const int refineRows = refineBefore + 1 + refineAfter;
    g.context = maskReach + refineReach;
    const int centreRows = 2 * model.centreSmoothingFrames + 1;
    const MaskBands bands = makeMaskBands(model, input.sampleRate());
    const std::vector<float>& window = plans.window();
    // Window applied twice, overlap-added to 3/2, and FFTW's unnormalised inverse.
    const float synthesisScale = 1.0f / (1.5f * static_cast<float>(g.size));

    // Any positive --segment is accepted; past a minute a longer block only costs memory.
    const double blockHops = std::min(blockSeconds, 60.0) * input.sampleRate() / g.hop;
    const int blockFrames = std::max(1, static_cast<int>(std::lround(blockHops)));
    const int maxSpanFrames = blockFrames + 2 * g.context;
    const auto storedSpectra = static_cast<std::size_t>(maxSpanFrames) * static_cast<std::size_t>(g.stride);
    std::array<FftwArray<fftwf_complex>, 2> spectra{allocateComplex(storedSpectra), allocateComplex(storedSpectra)};
    std::vector<float> magnitude(static_cast<std::size_t>(maxSpanFrames) * static_cast<std::size_t>(g.stride));
    std::vector<std::uint8_t> kickOnsets, glideOnsets;
    std::vector<BodyFit> bodyFits;
    // The first masks of the block's frames and refineReach frames each side, by span row.
    std::array<std::vector<float>, maskedStems> firstMasks;
    if (refine)
        for (auto& stem : firstMasks)
            stem.resize(static_cast<std::size_t>(maxSpanFrames) * static_cast<std::size_t>(g.bins));

    std::vector<Worker> pool(static_cast<std::size_t>(workers));
    for (Worker& worker : pool) {
        worker.samples = allocateReal(static_cast<std::size_t>(g.size));
        worker.spectrum = allocateComplex(static_cast<std::size_t>(g.stride));
    }

    // Overlap-add of the block: [stem][side], song frames from the block's first frame start.
    const std::size_t accumulatorLength = static_cast<std::size_t>(blockFrames) * static_cast<std::size_t>(g.hop)
        + static_cast<std::size_t>(g.lead);
    std::array<std::array<std::vector<float>, 2>, maskedStems> accumulator;
    for (auto& stem : accumulator)
        for (auto& side : stem)
            side.assign(accumulatorLength, 0.0f);
    std::array<std::vector<float>, 2> inputSides;
    std::vector<float> otherLeft, otherRight;

    SeparationTimings timings;
    timings.workers = workers;

    ModelledKickBodies modelledBodies(kicks, plans, input.sampleRate(), g.hop);

    for (std::int64_t first = 0;;) {
        std::int64_t last = first + blockFrames; // core frames [first, last)
        auto start = Clock::now();
        input.fill(g.frameStart(last + g.context) + g.size);
        timings.reading += secondsSince(start);
        if (const auto length = input.length()) {
            last = std::min(last, g.frameCount(*length));
            if (first >= last)
                break;
        }
        const std::int64_t spanFirst = first - g.context;
        const int spanFrames = static_cast<int>(last - first) + 2 * g.context;
        const int coreFrames = static_cast<int>(last - first);

        // Spectra and the magnitude the masks read (the mean of both sides).
        parallelFor(workers, spanFrames, [&](int w, int begin, int end) {
            Worker& worker = pool[static_cast<std::size_t>(w)];
            const auto began = Clock::now();
            for (int f = begin; f < end; ++f) {
                const auto row = static_cast<std::size_t>(f) * static_cast<std::size_t>(g.stride);
                for (int side = 0; side < 2; ++side) {
                    input.copy(side, g.frameStart(spanFirst + f), g.size, worker.samples.get());
                    for (int i = 0; i < g.size; ++i)
                        worker.samples[static_cast<std::size_t>(i)] *= window[static_cast<std::size_t>(i)];
                    plans.forward(worker.samples.get(), spectra[static_cast<std::size_t>(side)].get() + row);
                }
                const fftwf_complex* left = spectra[0].get() + row;
                const fftwf_complex* right = spectra[1].get() + row;
                float* out = magnitude.data() + row;
                for (int bin = 0; bin < g.bins; ++bin)
                    out[bin] = 0.5f
                        * (std::sqrt(left[bin][0] * left[bin][0] + left[bin][1] * left[bin][1])
                            + std::sqrt(right[bin][0] * right[bin][0] + right[bin][1] * right[bin][1]));
            }
            worker.forwardNanos += nanosSince(began);
        });

        kicks.findOnsets(magnitude.data(), g.stride, spanFrames, kickOnsets, &glideOnsets);
        kicks.fitBodies(magnitude.data(), spectra[0].get(), spectra[1].get(), g.stride, spanFrames, kickOnsets, bodyFits);
        modelledBodies.fit(input, g.frameStart(spanFirst), spanFrames, maskReach, magnitude.data(), spectra[0].get(),
            spectra[1].get(), g.stride, kickOnsets, workers);

        const auto neighbourhoodOf = [&](Worker& worker, int f) {
            worker.magnitudeRows.resize(static_cast<std::size_t>(model.harmonicMedianFrames));
            worker.leftRows.resize(static_cast<std::size_t>(centreRows));
            worker.rightRows.resize(static_cast<std::size_t>(centreRows));
            for (int r = 0; r < model.harmonicMedianFrames; ++r) {
                const int row = f - model.harmonicMedianFrames / 2 + r;
                worker.magnitudeRows[static_cast<std::size_t>(r)] =
                    magnitude.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(g.stride);
            }
            for (int r = 0; r < centreRows; ++r) {
                const auto row = static_cast<std::size_t>(f - model.centreSmoothingFrames + r)
                    * static_cast<std::size_t>(g.stride);
                worker.leftRows[static_cast<std::size_t>(r)] = spectra[0].get() + row;
                worker.rightRows[static_cast<std::size_t>(r)] = spectra[1].get() + row;
            }
            kicks.kickSpectrum(magnitude.data(), spectra[0].get(), spectra[1].get(), g.stride, spanFrames, f,
                kickOnsets, bodyFits, worker.kick, worker.kickBody);
            const auto row = static_cast<std::size_t>(f) * static_cast<std::size_t>(g.stride);
            modelledBodies.apply(f, spectra[0].get() + row, spectra[1].get() + row, worker.kick, worker.kickBody);
            persistence.lastingLevel(magnitude.data(), g.stride, spanFrames, f, kickOnsets, worker.lasting);
            glidingNoteLevel(magnitude.data(), g.stride, spanFrames, f, kicks.firstBin(), kicks.endBin(), g.bins,
                glideOnsets, worker.glide);
            return FrameNeighbourhood{worker.magnitudeRows.data(), model.harmonicMedianFrames,
                worker.leftRows.data(), worker.rightRows.data(), centreRows, g.bins,
                kicks.enabled() ? worker.kick.data() : nullptr, !worker.kickBody.left.empty(),
                worker.lasting.empty() ? nullptr : worker.lasting.data(),
                worker.glide.empty() ? nullptr : worker.glide.data()};
        };

        // First masks of every frame the refinement reads.
        if (refine) {
            parallelFor(workers, coreFrames + 2 * refineReach, [&](int w, int begin, int end) {
                Worker& worker = pool[static_cast<std::size_t>(w)];
                const auto began = Clock::now();
                for (int i = begin; i < end; ++i) {
                    const int f = maskReach + i;
                    computeFrameMasks(neighbourhoodOf(worker, f), model, bands, worker.masks, worker.scratch);
                    const auto row = static_cast<std::size_t>(f) * static_cast<std::size_t>(g.bins);
                    const std::array<const std::vector<float>*, maskedStems> masks{
                        &worker.masks.drums, &worker.masks.bass, &worker.masks.vocals};
                    for (int s = 0; s < maskedStems; ++s)
                        std::copy(masks[static_cast<std::size_t>(s)]->begin(), masks[static_cast<std::size_t>(s)]->end(),
                            firstMasks[static_cast<std::size_t>(s)].begin() + static_cast<std::ptrdiff_t>(row));
                }
                worker.maskNanos += nanosSince(began);
            });
        }

        // Masks, masked spectra back to samples, overlap-added per worker.
        for (Worker& worker : pool)
            worker.firstFrame = worker.endFrame = 0;
        parallelFor(workers, coreFrames, [&](int w, int begin, int end) {
            Worker& worker = pool[static_cast<std::size_t>(w)];
            worker.firstFrame = begin;
            worker.endFrame = end;
            const auto spanLength = static_cast<std::size_t>(end - begin) * static_cast<std::size_t>(g.hop)
                + static_cast<std::size_t>(g.lead);
            for (auto& stem : worker.sum)
                for (auto& side : stem)
                    side.assign(spanLength, 0.0f);
            std::int64_t maskNanos = 0;
            std::int64_t inverseNanos = 0;
            for (int c = begin; c < end; ++c) {
                const int f = c + g.context; // row of this frame in the span
                auto began = Clock::now();
                const FrameNeighbourhood neighbourhood = neighbourhoodOf(worker, f);
                const bool kickTaken = neighbourhood.kickTakenOut;
                if (refine) {
                    for (auto* rows : {&worker.drumRows, &worker.bassRows, &worker.vocalRows, &worker.refineRows})
                        rows->resize(static_cast<std::size_t>(refineRows));
                    for (int r = 0; r < refineRows; ++r) {
                        const int row = f - refineBefore + r;
                        const auto at = static_cast<std::size_t>(row) * static_cast<std::size_t>(g.bins);
                        worker.drumRows[static_cast<std::size_t>(r)] = firstMasks[0].data() + at;
                        worker.bassRows[static_cast<std::size_t>(r)] = firstMasks[1].data() + at;
                        worker.vocalRows[static_cast<std::size_t>(r)] = firstMasks[2].data() + at;
                        worker.refineRows[static_cast<std::size_t>(r)]
                            = magnitude.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(g.stride);
                    }
                    const MaskNeighbourhood first{worker.drumRows.data(), worker.bassRows.data(),
                        worker.vocalRows.data(), worker.refineRows.data(), refineRows, refineBefore, g.bins};
                    worker.masks.drums.resize(static_cast<std::size_t>(g.bins));
                    worker.masks.bass.resize(static_cast<std::size_t>(g.bins));
                    worker.masks.vocals.resize(static_cast<std::size_t>(g.bins));
                    refineMasks(first, model, worker.masks, worker.refinement);
                } else {
                    computeFrameMasks(neighbourhood, model, bands, worker.masks, worker.scratch);
                }
                maskNanos += nanosSince(began);

                began = Clock::now();
                const std::array<const float*, maskedStems> masks{
                    worker.masks.drums.data(), worker.masks.bass.data(), worker.masks.vocals.data()};
                const std::size_t offset = static_cast<std::size_t>(c - begin) * static_cast<std::size_t>(g.hop);
                for (int s = 0; s < maskedStems; ++s) {
                    for (int side = 0; side < 2; ++side) {
                        const fftwf_complex* source = spectra[static_cast<std::size_t>(side)].get()
                            + static_cast<std::size_t>(f) * static_cast<std::size_t>(g.stride);
                        fftwf_complex* masked = worker.spectrum.get();
                        const float* mask = masks[static_cast<std::size_t>(s)];
                        for (int bin = 0; bin < g.bins; ++bin) {
                            masked[bin][0] = source[bin][0] * mask[bin];
                            masked[bin][1] = source[bin][1] * mask[bin];
                        }
                        if (kickTaken) {
                            // The drums take the kick's body whole and their share of the rest;
                            // the other stems their share of the rest only.
                            const std::vector<std::complex<float>>& body
                                = side == 0 ? worker.kickBody.left : worker.kickBody.right;
                            const bool drums = maskedStemOrder[static_cast<std::size_t>(s)] == Stem::drums;
                            for (int bin = 0; bin < g.bins; ++bin) {
                                const std::complex<float> taken
                                    = body[static_cast<std::size_t>(bin)] * ((drums ? 1.0f : 0.0f) - mask[bin]);
                                masked[bin][0] += taken.real();
                                masked[bin][1] += taken.imag();
                            }
                        }
                        plans.inverse(masked, worker.samples.get());
                        float* sum = worker.sum[static_cast<std::size_t>(s)][static_cast<std::size_t>(side)].data() + offset;
                        const float* samples = worker.samples.get();
                        for (int i = 0; i < g.size; ++i)
                            sum[i] += samples[i] * window[static_cast<std::size_t>(i)] * synthesisScale;
                    }
                }
                inverseNanos += nanosSince(began);
            }
            worker.maskNanos += maskNanos;
            worker.inverseNanos += inverseNanos;
        });

        // Join the workers' spans; song frames before the next block's reach are then final.
        for (const Worker& worker : pool) {
            if (worker.firstFrame == worker.endFrame)
                continue;
            const std::size_t offset = static_cast<std::size_t>(worker.firstFrame) * static_cast<std::size_t>(g.hop);
            for (int s = 0; s < maskedStems; ++s)
                for (int side = 0; side < 2; ++side) {
                    const std::vector<float>& part = worker.sum[static_cast<std::size_t>(s)][static_cast<std::size_t>(side)];
                    float* into = accumulator[static_cast<std::size_t>(s)][static_cast<std::size_t>(side)].data() + offset;
                    for (std::size_t i = 0; i < part.size(); ++i)
                        into[i] += part[i];
                }
        }

        start = Clock::now();
        const std::int64_t blockStart = g.frameStart(first);
        std::int64_t finalEnd = g.frameStart(last);
        if (const auto length = input.length())
            finalEnd = std::min(finalEnd, *length);
        const std::int64_t writeFrom = std::max<std::int64_t>(0, blockStart);
        if (finalEnd > writeFrom) {
            const auto count = static_cast<std::size_t>(finalEnd - writeFrom);
            const auto skip = static_cast<std::size_t>(writeFrom - blockStart);
            for (int side = 0; side < 2; ++side) {
                inputSides[static_cast<std::size_t>(side)].resize(count);
                input.copy(side, writeFrom, static_cast<std::int64_t>(count), inputSides[static_cast<std::size_t>(side)].data());
            }
            otherLeft.assign(inputSides[0].begin(), inputSides[0].end());
            otherRight.assign(inputSides[1].begin(), inputSides[1].end());
            StemBlock finished;
            finished.frames = count;
            for (int s = 0; s < maskedStems; ++s) {
                const float* left = accumulator[static_cast<std::size_t>(s)][0].data() + skip;
                const float* right = accumulator[static_cast<std::size_t>(s)][1].data() + skip;
                for (std::size_t i = 0; i < count; ++i) {
                    otherLeft[i] -= left[i];
                    otherRight[i] -= right[i];
                }
                finished.sides[static_cast<std::size_t>(maskedStemOrder[static_cast<std::size_t>(s)])] = {left, right};
            }
            finished.sides[static_cast<std::size_t>(Stem::other)] = {otherLeft.data(), otherRight.data()};
            output.write(finished);
        }
        // The tail the next block's frames still overlap moves to the front.
        const std::size_t consumed = static_cast<std::size_t>(last - first) * static_cast<std::size_t>(g.hop);
        for (auto& stem : accumulator)
            for (auto& side : stem) {
                std::copy(side.begin() + static_cast<std::ptrdiff_t>(consumed),
                    side.begin() + static_cast<std::ptrdiff_t>(consumed + static_cast<std::size_t>(g.lead)), side.begin());
                std::fill(side.begin() + g.lead, side.end(), 0.0f);
            }
        input.discardBefore(g.frameStart(last - g.context));
        timings.writing += secondsSince(start);
        first = last;
    }

    for (const Worker& worker : pool) {
        timings.forwardTransforms += static_cast<double>(worker.forwardNanos.load()) * 1e-9;
        timings.inverseTransforms += static_cast<double>(worker.inverseNanos.load()) * 1e-9;
        timings.masks += static_cast<double>(worker.maskNanos.load()) * 1e-9;
    }
    return timings;
}

} // namespace fotivela::stem_separator
