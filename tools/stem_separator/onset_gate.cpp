#include "onset_gate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace fotivela::stem_separator {

namespace {

constexpr std::size_t other = static_cast<std::size_t>(Stem::other);
// How far (9 dB) a block must fall below a louder one just before it to count as its ring.
constexpr double tailFall = 8.0;

} // namespace

OnsetGate::OnsetGate(StemOutput& output, int sampleRate, const std::vector<OnsetGateSettings>& gates)
    : m_output(output)
    // About 3 ms: short next to a hit's rise, long enough for a steady energy figure.
    , m_blockFrames(std::max(16, sampleRate / 340))
{
    for (const OnsetGateSettings& settings : gates) {
        Gate gate;
        gate.stem = static_cast<std::size_t>(settings.stem);
        gate.lookaheadBlocks = static_cast<int>(std::ceil(settings.lookaheadSeconds * sampleRate / m_blockFrames));
        gate.ratio = std::pow(10.0, settings.ratioDecibels / 10.0);
        gate.tailBlocks = static_cast<int>(std::ceil(settings.tailSeconds * sampleRate / m_blockFrames));
        gate.lowTo = static_cast<std::size_t>(settings.lowTo);
        if (settings.lowHz > 0 && gate.lowTo != other)
            gate.lowPole = static_cast<float>(std::exp(-2.0 * std::numbers::pi * settings.lowHz / sampleRate));
        if (gate.lookaheadBlocks > 0 && gate.stem != other) {
            m_holdBlocks = std::max(m_holdBlocks, gate.lookaheadBlocks);
            m_gates.push_back(std::move(gate));
        }
    }
}

void OnsetGate::write(const StemBlock& block)
{
    for (std::size_t s = 0; s < stemCount; ++s)
        for (std::size_t side = 0; side < 2; ++side)
            m_pending[s][side].insert(m_pending[s][side].end(), block.sides[s][side], block.sides[s][side] + block.frames);
    emit(false);
}

void OnsetGate::finish()
{
    emit(true);
}

// The gain at the start of a block: 1 unless an onset at least the ratio louder
// follows within the look-ahead, then down by the square of the shortfall.
float OnsetGate::gainOfBlock(const Gate& gate, std::size_t index)
{
    if (index >= gate.energy.size())
        return 1.0f;
    double ahead = 0;
    for (std::size_t k = index + 1; k <= index + static_cast<std::size_t>(gate.lookaheadBlocks) && k < gate.energy.size(); ++k)
        ahead = std::max(ahead, gate.energy[k]);
    const double level = gate.energy[index] * gate.ratio;
    if (level >= ahead)
        return 1.0f;
    double before = 0;
    for (int k = 1; k <= gate.tailBlocks; ++k) {
        const auto back = static_cast<std::ptrdiff_t>(index) - k;
        if (back >= 0)
            before = std::max(before, gate.energy[static_cast<std::size_t>(back)]);
        else if (static_cast<std::size_t>(-back) <= gate.past.size())
            before = std::max(before, gate.past[gate.past.size() - static_cast<std::size_t>(-back)]);
    }
    if (before > tailFall * gate.energy[index])
        return 1.0f;
    return static_cast<float>(level / ahead); // amplitude gain = energy shortfall: the square in energy
}

void OnsetGate::emit(bool atEnd)
{
    const std::size_t held = m_pending[0][0].size();
    const auto blockFrames = static_cast<std::size_t>(m_blockFrames);
    // Energy of every block held (the last may be short at the end).
    const std::size_t blocks = atEnd ? (held + blockFrames - 1) / blockFrames : held / blockFrames;
    for (Gate& gate : m_gates) {
        gate.energy.resize(blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
            double energy = 0;
            for (std::size_t i = b * blockFrames; i < std::min(held, (b + 1) * blockFrames); ++i)
                for (std::size_t side = 0; side < 2; ++side)
                    energy += static_cast<double>(m_pending[gate.stem][side][i]) * m_pending[gate.stem][side][i];
            gate.energy[b] = energy;
        }
    }
    // A block's gains need its own look-ahead and the next block's: hold those back until the end.
    const auto hold = static_cast<std::size_t>(m_holdBlocks) + 1;
    const std::size_t ready = atEnd ? blocks : (blocks > hold ? blocks - hold : 0);
    const std::size_t frames = std::min(held, ready * blockFrames);
    if (frames == 0)
        return;

    for (std::size_t s = 0; s < stemCount; ++s)
        for (std::size_t side = 0; side < 2; ++side)
            m_out[s][side].assign(m_pending[s][side].begin(), m_pending[s][side].begin() + static_cast<std::ptrdiff_t>(frames));
    for (Gate& gate : m_gates) {
        const float pole = gate.lowPole;
        for (std::size_t b = 0; b < ready; ++b) {
            const float from = gainOfBlock(gate, b);
            const float to = gainOfBlock(gate, b + 1);
            // The low-passes still ring out after a moved stretch.
            const bool ringing = pole > 0
                && std::max({std::abs(gate.lowState[0][0]), std::abs(gate.lowState[0][1]), std::abs(gate.lowState[1][0]),
                       std::abs(gate.lowState[1][1])})
                    > 1e-9f;
            if (from == 1.0f && to == 1.0f && !ringing)
                continue;
            const std::size_t end = std::min(frames, (b + 1) * blockFrames);
            for (std::size_t i = b * blockFrames; i < end; ++i) {
                // Linear between the blocks' starting gains: no steps to click.
                const float t = static_cast<float>(i - b * blockFrames) / static_cast<float>(blockFrames);
                const float gain = from + (to - from) * t;
                for (std::size_t side = 0; side < 2; ++side) {
                    const float value = m_out[gate.stem][side][i];
                    const float kept = value * gain;
                    const float moved = value - kept;
                    m_out[gate.stem][side][i] = kept;
                    if (pole > 0) {
                        auto& state = gate.lowState[side];
                        state[0] = moved + pole * (state[0] - moved);
                        state[1] = state[0] + pole * (state[1] - state[0]);
                        m_out[gate.lowTo][side][i] += state[1];
                        m_out[other][side][i] += moved - state[1];
                    } else {
                        m_out[other][side][i] += moved;
                    }
                }
            }
        }
    }
    for (std::size_t s = 0; s < stemCount; ++s)
        m_output.write(static_cast<Stem>(s), m_out[s][0].data(), m_out[s][1].data(), frames);

    for (Gate& gate : m_gates) {
        if (gate.tailBlocks == 0)
            continue;
        gate.past.insert(gate.past.end(), gate.energy.begin(), gate.energy.begin() + static_cast<std::ptrdiff_t>(ready));
        if (gate.past.size() > static_cast<std::size_t>(gate.tailBlocks))
            gate.past.erase(gate.past.begin(), gate.past.end() - gate.tailBlocks);
    }
    for (auto& stem : m_pending)
        for (auto& side : stem)
            side.erase(side.begin(), side.begin() + static_cast<std::ptrdiff_t>(frames));
}

} // namespace fotivela::stem_separator
