#include "platform/audio_file_reader.h"

#include "platform/uuid.h"

#include <sndfile.h>

#include <algorithm>
#include <system_error>

namespace fotivela {

namespace {

AudioFileFormat formatFromInfo(const AudioStreamInfo& info)
{
    AudioFileFormat format;
    format.formatID = info.isLinearPcm ? AudioFormatID::linearPCM
                                       : (info.codecName == "flac" ? AudioFormatID::flac : AudioFormatID::other);
    format.formatName = info.formatName;
    format.codecName = info.codecName;
    if (info.bitsPerSample > 0)
        format.bitsPerSample = info.bitsPerSample;
    format.isFloat = info.isFloat;
    format.channelCount = info.channelCount;
    format.sampleRate = info.sampleRate;
    format.lengthFrames = info.frameCount;
    format.isLengthExact = info.isLengthExact;
    return format;
}

} // namespace

AudioFileWriteError::AudioFileWriteError(const std::filesystem::path& file, const std::string& detail)
    : Error("No se pudo escribir el archivo de audio " + file.filename().string())
    , m_detail(detail)
{
}

AudioFileReader::AudioFileReader(AudioDecoder decoder, AudioFileFormat format, std::int64_t blockFrames)
    : m_decoder(std::move(decoder))
    , m_format(std::move(format))
{
    const auto channels = static_cast<size_t>(std::max(m_format.channelCount, 0));
    m_block.assign(channels, std::vector<float>(static_cast<size_t>(std::max<std::int64_t>(blockFrames, 1))));
    for (auto& samples : m_block) {
        m_writePointers.push_back(samples.data());
        m_readPointers.push_back(samples.data());
    }
}

AudioFileReader AudioFileReader::open(const std::filesystem::path& file, std::int64_t blockFrames)
{
    AudioDecoder decoder(file);
    AudioFileFormat format = formatFromInfo(decoder.info());
    return AudioFileReader(std::move(decoder), std::move(format), blockFrames);
}

AudioFileFormat AudioFileReader::formatOf(const std::filesystem::path& file)
{
    return open(file, 1).format();
}

bool AudioFileReader::readBlock(AudioBlockView& block)
{
    if (m_block.empty())
        return false;
    const std::int64_t frames = m_decoder.read(m_writePointers.data(), static_cast<std::int64_t>(m_block.front().size()));
    block.channels = m_readPointers.data();
    block.channelCount = static_cast<int>(m_readPointers.size());
    block.frameCount = frames;
    return frames > 0;
}

AudioBuffer AudioFileReader::readWhole(const std::filesystem::path& file, std::int64_t maxFrames)
{
    AudioFileReader reader = open(file);
    AudioBuffer buffer;
    buffer.sampleRate = reader.format().sampleRate;
    buffer.channels.resize(static_cast<size_t>(reader.format().channelCount));
    // A header may lie about the length: never reserve more frames than the file has bytes.
    std::error_code sizeError;
    const auto bytes = static_cast<std::int64_t>(std::min<std::uintmax_t>(std::filesystem::file_size(file, sizeError), INT64_MAX));
    const std::int64_t stated = std::clamp<std::int64_t>(reader.format().lengthFrames, 0, std::min(maxFrames, sizeError ? 0 : bytes));
    for (auto& channel : buffer.channels)
        channel.reserve(static_cast<size_t>(stated));
    AudioBlockView block;
    std::int64_t total = 0;
    while (total < maxFrames && reader.readBlock(block)) {
        const std::int64_t take = std::min(block.frameCount, maxFrames - total);
        for (size_t c = 0; c < buffer.channels.size(); ++c)
            buffer.channels[c].insert(buffer.channels[c].end(), block.channels[c], block.channels[c] + take);
        total += take;
    }
    return buffer;
}

void AudioFileReader::writeFloatWav(const std::filesystem::path& file, const AudioBuffer& buffer)
{
    const int channels = static_cast<int>(buffer.channels.size());
    const std::int64_t frames = buffer.frameCount();
    for (const auto& channel : buffer.channels) {
        if (static_cast<std::int64_t>(channel.size()) != frames)
            throw AudioFileWriteError(file, "channels of different lengths");
    }
    if (channels <= 0 || !(buffer.sampleRate >= 1) || buffer.sampleRate > 2147483647.0)
        throw AudioFileWriteError(file, "no channels or no sample rate");

    std::string temporaryName = ".";
    temporaryName += file.filename().string();
    temporaryName += "-";
    temporaryName += Uuid::random().toString();
    temporaryName += ".tmp";
    const std::filesystem::path temporary = file.parent_path() / temporaryName;
    SF_INFO info {};
    info.samplerate = static_cast<int>(buffer.sampleRate);
    info.channels = channels;
    // RF64 where a WAV's 32-bit sizes would wrap, a plain WAV where it fits.
    info.format = SF_FORMAT_RF64 | SF_FORMAT_FLOAT;
    SNDFILE* handle = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (!handle)
        throw AudioFileWriteError(file, sf_strerror(nullptr));
    sf_command(handle, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);

    constexpr std::int64_t chunk = 8192;
    std::vector<float> interleaved(static_cast<size_t>(chunk * channels));
    std::string failure;
    for (std::int64_t start = 0; start < frames && failure.empty(); start += chunk) {
        const std::int64_t n = std::min(chunk, frames - start);
        for (std::int64_t i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c)
                interleaved[static_cast<size_t>(i * channels + c)] = buffer.channels[static_cast<size_t>(c)][static_cast<size_t>(start + i)];
        }
        if (sf_writef_float(handle, interleaved.data(), n) != n)
            failure = sf_strerror(handle);
    }
    if (failure.empty())
        sf_write_sync(handle);
    if (sf_close(handle) != 0 && failure.empty())
        failure = "closing the file failed";

    std::error_code error;
    if (failure.empty()) {
        std::filesystem::rename(temporary, file, error);
        if (error)
            failure = error.message();
    }
    if (!failure.empty()) {
        std::filesystem::remove(temporary, error);
        throw AudioFileWriteError(file, failure);
    }
}

} // namespace fotivela
