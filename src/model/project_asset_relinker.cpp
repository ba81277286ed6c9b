#include "model/project_asset_relinker.h"

#include "model/project_file_layout.h"

#include <QString>

#include <system_error>

namespace fotivela::ProjectAssetRelinker {

namespace fs = std::filesystem;

namespace {

// A folder or a device standing at a photo's or the song's place is as good as missing.
bool fileExists(const fs::path& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

// The same key the index uses for its names.
std::string lowerCasedName(const fs::path& path)
{
    return QString::fromStdString(path.filename().string()).toLower().toStdString();
}

} // namespace

bool hasMissingAssets(const FotivelaProject& project)
{
    for (const Slide& slide : project.slides) {
        if (!fileExists(slide.imageURL))
            return true;
    }
    return project.audio && !fileExists(project.audio->url);
}

bool relinkMissingAssets(FotivelaProject& project, const fs::path& folder)
{
    const std::unordered_map<std::string, fs::path> index = ProjectFileLayout::regularFileIndex(folder);
    if (index.empty())
        return false;
    const auto lookUp = [&](fs::path& url) {
        if (fileExists(url))
            return false;
        const auto found = index.find(lowerCasedName(url));
        if (found == index.end())
            return false;
        url = found->second;
        return true;
    };
    bool changed = false;
    for (Slide& slide : project.slides)
        changed = lookUp(slide.imageURL) || changed;
    if (project.audio)
        changed = lookUp(project.audio->url) || changed;
    return changed;
}

} // namespace fotivela::ProjectAssetRelinker
