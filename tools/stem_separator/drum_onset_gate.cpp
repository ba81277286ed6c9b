#include "drum_onset_gate.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

constexpr std::size_t drums = static_cast<std::size_t>(Stem::drums);
constexpr std::size_t other = static_cast<std::size_t>(Stem::other);

} // namespace

DrumOnsetGate::DrumOnsetGate(StemOutput& output, int sampleRate, double lookaheadSeconds, double ratioDecibels)
    : m_output(output)
    // About 3 ms: short next to a hit's rise, long enough for a steady energy figure.
    , m_blockFrames(std::max(16, sampleRate / 340))
    , m_lookaheadBlocks(static_cast<int>(std::ceil(lookaheadSeconds * sampleRate / m_blockFrames)))
    , m_ratio(std::pow(10.0, ratioDecibels / 10.0))
{
}

void DrumOnsetGate::write(const StemBlock& block)
{
    for (std::size_t s = 0; s < stemCount; ++s)
        for (std::size_t side = 0; side < 2; ++side)
            m_pending[s][side].insert(m_pending[s][side].end(), block.sides[s][side], block.sides[s][side] + block.frames);
    emit(false);
}

void DrumOnsetGate::finish()
{
    emit(true);
}

// The gain at the start of a block: 1 unless a hit at least the ratio louder
// follows within the look-ahead, then down by the square of the shortfall.
float DrumOnsetGate::gainOfBlock(std::size_t index) const
{
    if (m_lookaheadBlocks == 0 || index >= m_energy.size())
        return 1.0f;
    double ahead = 0;
    for (std::size_t k = index + 1; k <= index + static_cast<std::size_t>(m_lookaheadBlocks) && k < m_energy.size(); ++k)
        ahead = std::max(ahead, m_energy[k]);
    const double level = m_energy[index] * m_ratio;
    if (level >= ahead)
        return 1.0f;
    const double shortfall = level / ahead;
    return static_cast<float>(shortfall); // amplitude gain = energy shortfall: the square in energy
}

void DrumOnsetGate::emit(bool atEnd)
{
    const std::size_t held = m_pending[0][0].size();
    const auto blockFrames = static_cast<std::size_t>(m_blockFrames);
    // Energy of every block held (the last may be short at the end).
    const std::size_t blocks = atEnd ? (held + blockFrames - 1) / blockFrames : held / blockFrames;
    m_energy.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        double energy = 0;
        for (std::size_t i = b * blockFrames; i < std::min(held, (b + 1) * blockFrames); ++i)
            for (std::size_t side = 0; side < 2; ++side)
                energy += static_cast<double>(m_pending[drums][side][i]) * m_pending[drums][side][i];
        m_energy[b] = energy;
    }
    // A block's gains need its own look-ahead and the next block's: hold those back until the end.
    const std::size_t ready = atEnd ? blocks
                                    : (blocks > static_cast<std::size_t>(m_lookaheadBlocks) + 1
                                              ? blocks - static_cast<std::size_t>(m_lookaheadBlocks) - 1
                                              : 0);
    const std::size_t frames = std::min(held, ready * blockFrames);
    if (frames == 0)
        return;

    for (auto& side : m_out)
        side.resize(frames);
    for (std::size_t b = 0; b < ready; ++b) {
        const float from = gainOfBlock(b);
        const float to = gainOfBlock(b + 1);
        const std::size_t end = std::min(frames, (b + 1) * blockFrames);
        for (std::size_t i = b * blockFrames; i < end; ++i) {
            // Linear between the blocks' starting gains: no steps to click.
            const float t = static_cast<float>(i - b * blockFrames) / static_cast<float>(blockFrames);
            const float gain = from + (to - from) * t;
            for (std::size_t side = 0; side < 2; ++side) {
                const float drum = m_pending[drums][side][i];
                const float kept = drum * gain;
                m_out[side][i] = kept;
                m_out[2 + side][i] = m_pending[other][side][i] + (drum - kept);
            }
        }
    }
    m_output.write(Stem::drums, m_out[0].data(), m_out[1].data(), frames);
    m_output.write(Stem::bass, m_pending[1][0].data(), m_pending[1][1].data(), frames);
    m_output.write(Stem::vocals, m_pending[2][0].data(), m_pending[2][1].data(), frames);
    m_output.write(Stem::other, m_out[2].data(), m_out[3].data(), frames);

    for (auto& stem : m_pending)
        for (auto& side : stem)
            side.erase(side.begin(), side.begin() + static_cast<std::ptrdiff_t>(frames));
}

} // namespace fotivela::stem_separator
