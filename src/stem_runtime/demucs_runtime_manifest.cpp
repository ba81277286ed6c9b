#include "stem_runtime/demucs_runtime_manifest.h"

#include "platform/json_encoder.h"
#include "stem_runtime/demucs_runtime_digest.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <set>

namespace fotivela::DemucsRuntimeManifestRules {

bool isValidVersion(std::string_view version)
{
    if (version.empty() || version.size() > 64 || version.front() == '.')
        return false;
    for (char c : version) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '_' || c == '+' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

bool isSafeRelativePath(std::string_view path)
{
    if (path.empty() || path.size() > 1024 || path.front() == '/')
        return false;
    if (path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::optional<DemucsRuntimeManifest> parse(std::string_view json)
{
    const auto tree = nlohmann::json::parse(json, nullptr, false);
    if (!tree.is_object())
        return std::nullopt;
    const auto format = tree.find("format");
    const auto version = tree.find("version");
    const auto files = tree.find("files");
    if (format == tree.end() || !format->is_string() || *format != formatName)
        return std::nullopt;
    if (version == tree.end() || !version->is_string() || !isValidVersion(version->get<std::string>()))
        return std::nullopt;
    if (files == tree.end() || !files->is_array())
        return std::nullopt;
    DemucsRuntimeManifest manifest;
    manifest.format = format->get<std::string>();
    manifest.version = version->get<std::string>();
    std::set<std::string> seen;
    for (const auto& entry : *files) {
        if (!entry.is_object())
            return std::nullopt;
        const auto path = entry.find("path");
        const auto sha256 = entry.find("sha256");
        const auto size = entry.find("size");
        if (path == entry.end() || !path->is_string() || sha256 == entry.end() || !sha256->is_string()
            || size == entry.end() || !size->is_number_unsigned())
            return std::nullopt;
        DemucsRuntimeManifestFile file { path->get<std::string>(), sha256->get<std::string>(), size->get<std::uint64_t>() };
        if (!isSafeRelativePath(file.path) || file.path == manifestFileName
            || !DemucsRuntimeDigest::isSha256Hex(file.sha256) || !seen.insert(file.path).second)
            return std::nullopt;
        for (char& c : file.sha256)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        manifest.files.push_back(std::move(file));
    }
    return manifest;
}

std::string encode(const DemucsRuntimeManifest& manifest)
{
    nlohmann::json files = nlohmann::json::array();
    for (const auto& file : manifest.files)
        files.push_back({{"path", file.path}, {"sha256", file.sha256}, {"size", file.size}});
    return encodeFotivelaJson({{"format", manifest.format}, {"version", manifest.version}, {"files", files}});
}

std::optional<std::string> modelVersion(std::string_view modelFileJson)
{
    const auto tree = nlohmann::json::parse(modelFileJson, nullptr, false);
    if (!tree.is_object())
        return std::nullopt;
    const auto version = tree.find("version");
    if (version == tree.end() || !version->is_string())
        return std::nullopt;
    return version->get<std::string>();
}

} // namespace fotivela::DemucsRuntimeManifestRules
