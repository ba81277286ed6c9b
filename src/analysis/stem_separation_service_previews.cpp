#include "analysis/stem_separation_service.h"

#include "analysis/denormal_guard.h"
#include "platform/audio_file_reader.h"
#include "platform/log.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <numbers>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace fotivela::StemSeparationService {

namespace {

// What one drum part keeps of the drum stem: one-pole filters, then a gate and a gain.
struct PartFilter {
    std::optional<double> highPassCutoff;
    std::optional<double> lowPassCutoff;
    std::optional<float> gateThreshold;
    float gain = 1;
};

std::optional<PartFilter> partFilter(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::kick:
        return PartFilter{std::nullopt, 135.0, 0.018f, 1.45f};
    case AutoBeatInstrument::clapSnare:
        return PartFilter{700.0, 3200.0, std::nullopt, 1};
    case AutoBeatInstrument::cymbalHats:
        return PartFilter{5800.0, std::nullopt, 0.006f, 1.8f};
    case AutoBeatInstrument::drums:
    case AutoBeatInstrument::bass:
    case AutoBeatInstrument::vocals:
    case AutoBeatInstrument::other:
        break;
    }
    return std::nullopt;
}

double timeConstant(double cutoff)
{
    return 1.0 / (2.0 * std::numbers::pi * cutoff);
}

// Coefficients in double, samples in float: the previews must sound the same everywhere.
void lowPass(std::vector<float>& samples, double cutoff, double dt)
{
    const double rc = timeConstant(cutoff);
    const auto a = static_cast<float>(dt / (rc + dt));
    float y = 0;
    for (float& sample : samples) {
        y = y + a * (sample - y);
        sample = y;
    }
}

void highPass(std::vector<float>& samples, double cutoff, double dt)
{
    if (samples.empty())
        return;
    const double rc = timeConstant(cutoff);
    const auto a = static_cast<float>(rc / (rc + dt));
    float y = 0;
    float previous = samples.front();
    for (float& sample : samples) {
        const float x = sample;
        y = a * (y + x - previous);
        previous = x;
        sample = y;
    }
}

void filterChannel(std::vector<float>& samples, const PartFilter& filter, double dt)
{
    if (filter.highPassCutoff)
        highPass(samples, *filter.highPassCutoff, dt);
    if (filter.lowPassCutoff)
        lowPass(samples, *filter.lowPassCutoff, dt);
    if (filter.gateThreshold) {
        const float threshold = *filter.gateThreshold;
        const float gain = filter.gain;
        for (float& sample : samples)
            sample = std::fabs(sample) < threshold ? 0.0f : sample * gain;
    }
}

// The decoder hands over no NaN or infinities, but a filter fed samples far past full
// scale can overflow into them.
void replaceNonFiniteWithSilence(std::vector<float>& samples)
{
    for (float& sample : samples)
        if (!std::isfinite(sample))
            sample = 0;
}

// A 32-bit frame count is the most a preview holds.
constexpr std::int64_t maximumFrames = 4294967295;

} // namespace

bool writeFilteredPreview(const fs::path& source, const fs::path& destination, AutoBeatInstrument instrument) noexcept
{
    try {
        AudioBuffer buffer = AudioFileReader::readWhole(source, maximumFrames + 1);
        if (buffer.channels.empty() || buffer.frameCount() == 0 || buffer.frameCount() > maximumFrames ||
            !(buffer.sampleRate > 0))
            return false;

        const DenormalGuard flushToZero;
        const double dt = 1.0 / buffer.sampleRate;
        const std::optional<PartFilter> filter = partFilter(instrument);
        // Each channel on its own, each from fresh filter state, in place: the
        // whole stem is held once, not twice.
        for (std::vector<float>& channel : buffer.channels) {
            if (filter) {
                filterChannel(channel, *filter, dt);
                replaceNonFiniteWithSilence(channel);
            }
        }

        // A folder cannot be replaced by a rename; a file or a link can, atomically.
        std::error_code error;
        if (fs::is_directory(fs::symlink_status(destination, error))) {
            fs::remove_all(destination, error);
            if (error)
                return false;
        }
        AudioFileReader::writeFloatWav(destination, buffer);
        return true;
    } catch (const std::exception& error) {
        try {
            logLine("Fotivela: vista previa filtrada no escrita (" + destination.filename().string() + "): " + error.what());
        } catch (...) {
        }
    } catch (...) {
    }
    return false;
}

} // namespace fotivela::StemSeparationService
