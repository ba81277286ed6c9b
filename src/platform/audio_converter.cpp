#include "platform/audio_converter.h"

#include "platform/audio_file_reader.h"
#include "platform/log.h"
#include "platform/stereo_downmix.h"

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace fotivela::AudioConverter {

namespace {

constexpr sf_count_t blockFrames = 16384;

class ConversionFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SoundFileCloser {
    void operator()(SNDFILE* handle) const { sf_close(handle); }
};
using SoundFileHandle = std::unique_ptr<SNDFILE, SoundFileCloser>;

// A file written through libsndfile that only counts once it is closed and synced;
// until then, destruction removes it.
class OutputFile {
public:
    OutputFile(const fs::path& path, int format, int sampleRate, int channels)
        : m_path(path)
    {
        // Never write through a link: the target could lie anywhere.
        m_descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_descriptor < 0)
            throw ConversionFailure("cannot create " + path.filename().string() + ": " + std::generic_category().message(errno));
        SF_INFO info {};
        info.samplerate = sampleRate;
        info.channels = channels;
        // A float WAV passes 4 GiB at 3 h 22 min of stereo 44.1 kHz and would wrap its sizes:
        // RF64 then, a plain WAV where it fits.
        const bool wav = format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        info.format = wav ? SF_FORMAT_RF64 | SF_FORMAT_FLOAT : format;
        m_handle = sf_open_fd(m_descriptor, SFM_WRITE, &info, SF_FALSE);
        if (m_handle == nullptr)
            throw ConversionFailure(std::string("cannot encode: ") + sf_strerror(nullptr));
        if (wav)
            sf_command(m_handle, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    }
    ~OutputFile()
    {
        if (m_handle != nullptr)
            sf_close(m_handle);
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        if (!m_finished) {
            std::error_code error;
            fs::remove(m_path, error);
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const int* frames, sf_count_t count)
    {
        if (sf_writef_int(m_handle, frames, count) != count)
            throw ConversionFailure(std::string("write failed: ") + sf_strerror(m_handle));
    }
    void write(const float* frames, sf_count_t count)
    {
        if (sf_writef_float(m_handle, frames, count) != count)
            throw ConversionFailure(std::string("write failed: ") + sf_strerror(m_handle));
    }
    void finish()
    {
        // Closing finalises the header (FLAC's STREAMINFO is rewritten here).
        const int closed = sf_close(m_handle);
        m_handle = nullptr;
        if (closed != 0)
            throw ConversionFailure("finishing the file failed");
        const bool synced = ::fsync(m_descriptor) == 0;
        const bool released = ::close(m_descriptor) == 0;
        m_descriptor = -1;
        if (!synced || !released)
            throw ConversionFailure("the file could not be synced to disk");
        m_finished = true;
    }

private:
    fs::path m_path;
    int m_descriptor = -1;
    SNDFILE* m_handle = nullptr;
    bool m_finished = false;
};

// FLAC keeps integer samples of these depths exactly.
int flacSubtype(int sourceFormat)
{
    switch (sourceFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return SF_FORMAT_PCM_S8;
    case SF_FORMAT_PCM_16:
        return SF_FORMAT_PCM_16;
    case SF_FORMAT_PCM_24:
        return SF_FORMAT_PCM_24;
    default:
        return 0;
    }
}

template <class Conversion>
bool run(const char* what, const fs::path& source, Conversion&& conversion) noexcept
{
    try {
        conversion();
        return true;
    } catch (const std::exception& error) {
        try {
            logLine(std::string("Fotivela: conversión de audio (") + what + ") fallida para " + source.filename().string() +
                    ": " + error.what());
        } catch (...) {
        }
    } catch (...) {
    }
    return false;
}

void requireUsableFormat(const AudioFileFormat& format)
{
    if (format.channelCount < 1 || !(format.sampleRate >= 1) || format.sampleRate > 2147483647.0)
        throw ConversionFailure("no channels or no sample rate");
}

} // namespace

bool convertToFLAC(const fs::path& source, const fs::path& destination) noexcept
{
    return run("flac", source, [&] {
        SF_INFO info {};
        const SoundFileHandle input(sf_open(source.c_str(), SFM_READ, &info));
        if (!input)
            throw ConversionFailure(std::string("cannot read: ") + sf_strerror(nullptr));
        const int subtype = flacSubtype(info.format);
        if (subtype == 0)
            throw ConversionFailure("samples are not 8, 16 or 24-bit integers");

        OutputFile output(destination, SF_FORMAT_FLAC | subtype, info.samplerate, info.channels);
        // Integers in, integers out: libsndfile keeps them left-aligned in 32 bits both ways.
        std::vector<int> block(static_cast<size_t>(blockFrames * info.channels));
        for (;;) {
            const sf_count_t frames = sf_readf_int(input.get(), block.data(), blockFrames);
            if (frames <= 0)
                break;
            output.write(block.data(), frames);
        }
        if (sf_error(input.get()) != SF_ERR_NO_ERROR)
            throw ConversionFailure(std::string("read failed: ") + sf_strerror(input.get()));
        output.finish();
    });
}

bool convertToIntegerWAV(const fs::path& source, const fs::path& destination, int bitsPerSample) noexcept
{
    return run("wav", source, [&] {
        if (bitsPerSample != 16 && bitsPerSample != 24)
            throw ConversionFailure("unsupported bit depth");
        AudioFileReader reader = AudioFileReader::open(source, blockFrames);
        const AudioFileFormat& format = reader.format();
        requireUsableFormat(format);
        const int channels = format.channelCount;
        OutputFile output(destination, SF_FORMAT_WAV | (bitsPerSample == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24),
                          static_cast<int>(format.sampleRate), channels);

        // Integer samples decode to float exactly, so scaling back is exact for them.
        const double scale = bitsPerSample == 16 ? 32768.0 : 8388608.0;
        const std::int32_t alignment = bitsPerSample == 16 ? 65536 : 256;
        std::vector<int> interleaved(static_cast<size_t>(blockFrames * channels));
        AudioBlockView block;
        while (reader.readBlock(block)) {
            for (std::int64_t i = 0; i < block.frameCount; ++i) {
                for (int c = 0; c < channels; ++c) {
                    const float sample = block.channels[c][i];
                    const double scaled = std::isfinite(sample) ? std::nearbyint(double(sample) * scale) : 0.0;
                    const auto value = static_cast<std::int32_t>(std::clamp(scaled, -scale, scale - 1));
                    interleaved[static_cast<size_t>(i * channels + c)] = value * alignment;
                }
            }
            output.write(interleaved.data(), block.frameCount);
        }
        output.finish();
    });
}

bool convertToStereoFloatWAV(const fs::path& source, const fs::path& destination) noexcept
{
    return run("estereo", source, [&] {
        AudioFileReader reader = AudioFileReader::open(source, blockFrames);
        const AudioFileFormat& format = reader.format();
        requireUsableFormat(format);
        OutputFile output(destination, SF_FORMAT_WAV | SF_FORMAT_FLOAT, static_cast<int>(format.sampleRate), 2);

        std::vector<float> interleaved(static_cast<size_t>(blockFrames * 2));
        std::vector<float> left(static_cast<size_t>(blockFrames));
        std::vector<float> right(static_cast<size_t>(blockFrames));
        AudioBlockView block;
        while (reader.readBlock(block)) {
            downmixToStereo(block.channels, block.channelCount, block.frameCount, left.data(), right.data());
            for (std::int64_t i = 0; i < block.frameCount; ++i) {
                interleaved[static_cast<size_t>(2 * i)] = std::isfinite(left[i]) ? left[i] : 0.0f;
                interleaved[static_cast<size_t>(2 * i + 1)] = std::isfinite(right[i]) ? right[i] : 0.0f;
            }
            output.write(interleaved.data(), block.frameCount);
        }
        output.finish();
    });
}

} // namespace fotivela::AudioConverter
