// libFuzzer target for the audio decoder (built by scripts/fuzz audio).
// Any input must either be refused with AudioDecoderError or decode to a bounded
// number of finite-sized frames; seeking and reading again must not fault either.
#include "platform/audio_decoder.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// FFmpeg reads from a path, as the program does: one scratch file per process.
const std::filesystem::path& scratchFile()
{
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("fotivela-audio-fuzz-" + std::to_string(::getpid()) + ".bin");
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        fotivela::AudioDecoder decoder(scratchFile());
        const fotivela::AudioStreamInfo info = decoder.info();
        if (info.channelCount <= 0 || info.sampleRate <= 0)
            std::abort(); // the decoder promises a usable stream or an error
        // Enough to reach the damaged parts of a small file, bounded for huge claims.
        constexpr std::int64_t budget = 1 << 20;
        std::vector<std::vector<float>> block;
        std::int64_t total = 0;
        while (total < budget) {
            const std::int64_t n = decoder.read(block, 8192);
            if (n <= 0)
                break;
            total += n;
        }
        decoder.seekToFrame(total / 2);
        decoder.read(block, 4096);
        decoder.seek(1e300);
        decoder.read(block, 16);
    } catch (const fotivela::AudioDecoderError&) {
    }
    return 0;
}
