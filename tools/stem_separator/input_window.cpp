#include "input_window.h"

#include "separation_error.h"

#include "platform/stereo_downmix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fotivela::stem_separator {

namespace {

constexpr std::int64_t readFrames = 65536;

AudioDecoder openDecoder(const std::filesystem::path& file)
{
    try {
        return AudioDecoder(file);
    } catch (const AudioDecoderError& error) {
        throw SeparationError(std::string(error.what()) + " (" + file.filename().string() + ")");
    }
}

} // namespace

InputWindow::InputWindow(const std::filesystem::path& file) : m_decoder(openDecoder(file))
{
    m_sampleRate = m_decoder.info().sampleRate;
    m_sourceChannels = m_decoder.info().channelCount;
    if (m_sampleRate <= 0 || m_sourceChannels <= 0)
        throw SeparationError("El archivo no contiene audio (" + file.filename().string() + ")");
}

bool InputWindow::fill(std::int64_t end)
{
    while (!m_length && m_base + static_cast<std::int64_t>(m_samples[0].size()) < end) {
        std::int64_t frames = 0;
        try {
            frames = m_decoder.read(m_block, readFrames);
        } catch (const AudioDecoderError& error) {
            throw SeparationError(std::string(error.what()) + " (" + m_decoder.file().filename().string() + ")");
        }
        if (frames <= 0 || m_block.empty()) {
            m_length = m_base + static_cast<std::int64_t>(m_samples[0].size());
            break;
        }
        m_blockChannels.clear();
        for (const std::vector<float>& channel : m_block) {
            const auto loud = std::find_if(channel.begin(), channel.begin() + frames,
                [](float sample) { return !(std::fabs(sample) <= maxSampleMagnitude); });
            if (loud != channel.begin() + frames)
                throw SeparationError("La canción tiene muestras fuera de toda escala (más de 120 dB sobre el máximo); "
                                      "no se pueden separar sus instrumentos ("
                    + m_decoder.file().filename().string() + ")");
            m_blockChannels.push_back(channel.data());
        }
        const std::size_t held = m_samples[0].size();
        for (std::vector<float>& side : m_samples)
            side.resize(held + static_cast<std::size_t>(frames));
        downmixToStereo(m_blockChannels.data(), static_cast<int>(m_blockChannels.size()), frames,
            m_samples[0].data() + held, m_samples[1].data() + held);
    }
    return m_base + static_cast<std::int64_t>(m_samples[0].size()) >= end;
}

void InputWindow::discardBefore(std::int64_t frame)
{
    const std::int64_t drop = std::clamp<std::int64_t>(frame - m_base, 0, static_cast<std::int64_t>(m_samples[0].size()));
    // Drop in large steps only, so the copy costs little per frame.
    if (drop < readFrames)
        return;
    for (std::vector<float>& side : m_samples)
        side.erase(side.begin(), side.begin() + drop);
    m_base += drop;
}

void InputWindow::copy(int side, std::int64_t start, std::int64_t count, float* out) const
{
    const std::vector<float>& samples = m_samples[static_cast<std::size_t>(side)];
    const std::int64_t available = static_cast<std::int64_t>(samples.size());
    std::fill(out, out + count, 0.0f);
    const std::int64_t from = std::max<std::int64_t>(start, m_base);
    const std::int64_t to = std::min<std::int64_t>(start + count, m_base + available);
    if (to > from)
        std::memcpy(out + (from - start), samples.data() + (from - m_base), static_cast<std::size_t>(to - from) * sizeof(float));
}

} // namespace fotivela::stem_separator
