// libFuzzer target for the project file decoder (built by scripts/fuzz).
// Any input must either decode or fail with JsonDecodingError; whatever
// decodes must encode, and read back to the same project and the same text.
#include "model/project_json.h"
#include "platform/json_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fotivela::FotivelaProject project;
    try {
        project = fotivela::decodeProject(text);
    } catch (const fotivela::JsonDecodingError&) {
        return 0;
    }
    // A decoded project that cannot be written again, or changes on the way, is a fault.
    const std::string encoded = fotivela::encodeProject(project);
    const auto again = fotivela::decodeProject(encoded);
    if (!(again == project) || fotivela::encodeProject(again) != encoded)
        std::abort();
    return 0;
}
