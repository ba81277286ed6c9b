#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace fotivela::stem_separator {

// What one run is asked to do, from its command line:
// -n <model> --repo <model folder> --device cpu --segment <seconds> --out <folder> <input>
struct SeparationRequest {
    std::string modelName;
    std::filesystem::path modelFolder;
    std::string device;
    double segmentSeconds = 0;
    std::filesystem::path outputRoot;
    std::filesystem::path input;

    // OUT / model name / input file name without its last extension.
    std::filesystem::path stemFolder() const;

    friend bool operator==(const SeparationRequest&, const SeparationRequest&) = default;
};

// Option pairs may come in any order, the input last or anywhere between them.
// Throws UsageError for anything unknown, repeated, missing or malformed.
SeparationRequest parseSeparationRequest(std::span<const std::string_view> arguments);

} // namespace fotivela::stem_separator
