#include "ui/shell/recent_project_preview.h"

#include "model/preview_image_cache.h"
#include "model/project_file_reader.h"
#include "model/project_json.h"
#include "model/stored_enum_json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fotivela {

namespace {

namespace fs = std::filesystem;

RecentProjectPictures::FileStamp stampOf(const fs::path& file)
{
    std::error_code error;
    RecentProjectPictures::FileStamp stamp;
    stamp.modified = fs::last_write_time(file, error);
    if (error)
        return {};
    stamp.size = fs::file_size(file, error);
    stamp.exists = !error;
    return stamp;
}

} // namespace

QImage RecentProjectPictures::picture(const Slide& slide, const fs::path& project)
{
    Source source{project, slide.id, slide.imageURL, stampOf(slide.imageURL),
                  stampOf(PreviewImageCache::previewURL(slide.id, project))};
    {
        std::lock_guard lock(m_mutex);
        const auto found = std::find_if(m_kept.begin(), m_kept.end(), [&](const auto& kept) { return kept.first == source; });
        if (found != m_kept.end())
            return found->second;
    }
    QImage image = PreviewImageCache::decodeShownImage(slide, project, RecentProjectPreview::maximumPixelSize);
    std::lock_guard lock(m_mutex);
    // One picture per project: the one its card shows now.
    std::erase_if(m_kept, [&](const auto& kept) { return kept.first.project == project; });
    m_kept.emplace_back(std::move(source), image);
    // The recent list holds eight projects; a few more cover entries that left it.
    if (m_kept.size() > 16)
        m_kept.pop_front();
    return image;
}

std::string RecentProjectPreview::normalizedBackgroundHex(const std::optional<std::string>& hex)
{
    if (!hex || hex->size() != 7 || (*hex)[0] != '#')
        return "#000000";
    std::string upper = "#";
    for (std::size_t i = 1; i < 7; ++i) {
        const auto c = static_cast<unsigned char>((*hex)[i]);
        if (!std::isxdigit(c))
            return "#000000";
        upper.push_back(static_cast<char>(std::toupper(c)));
    }
    return upper;
}

RecentProjectPreview RecentProjectPreview::load(const std::filesystem::path& url, RecentProjectPictures* pictures)
{
    RecentProjectPreview preview;
    std::string text;
    try {
        // Bounded and never waiting on a FIFO, as when the project itself is opened.
        text = readProjectFileText(url);
    } catch (const ProjectFileReadError&) {
        return {};
    }
    try {
        const auto json = nlohmann::json::parse(text);
        if (!json.is_object() || !json.contains("format") || !json.contains("slides") || !json["slides"].is_array())
            return {};
        const JsonPath root;
        preview.format = readStoredEnum<ProjectFormat>(json["format"], root.member("format"));
        std::optional<std::string> background;
        if (const auto it = json.find("backgroundColorHex"); it != json.end() && !it->is_null()) {
            if (!it->is_string())
                return {};
            background = it->get<std::string>();
        }
        if (const auto it = json.find("fillPhotosToScreen"); it != json.end() && !it->is_null()) {
            if (!it->is_boolean())
                return {};
            preview.fillPhotosToScreen = it->get<bool>();
        }
        // Every slide must decode, as the project itself would require.
        const auto& slides = json["slides"];
        std::optional<Slide> first;
        for (std::size_t i = 0; i < slides.size(); ++i) {
            Slide slide = decodeSlide(slides[i], root.member("slides").element(i));
            if (i == 0)
                first = std::move(slide);
        }
        preview.backgroundColorHex = normalizedBackgroundHex(background);
        if (first) {
            preview.image = pictures ? pictures->picture(*first, url)
                                     : PreviewImageCache::decodeShownImage(*first, url, maximumPixelSize);
            preview.slide = std::move(first);
        }
    } catch (...) {
        return {};
    }
    return preview;
}

} // namespace fotivela
