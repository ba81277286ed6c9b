// libFuzzer target for the photo decoder (built by scripts/fuzz photo).
// Any input must decode to an image no larger than asked for, or to a null image;
// the size read from the header must never disagree with a successful decode's bound.
#include "platform/photo_decoder.h"

#include <QGuiApplication>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

const std::filesystem::path& scratchFile()
{
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("fotivela-photo-fuzz-" + std::to_string(::getpid()) + ".bin");
    return file;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Image plugins are found through the application, as in the program.
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    constexpr int bound = 256;
    const QImage image = fotivela::PhotoDecoder::decode(scratchFile(), bound);
    if (!image.isNull() && std::max(image.width(), image.height()) > bound)
        std::abort();
    (void)fotivela::PhotoDecoder::uprightSize(scratchFile());
    return 0;
}
