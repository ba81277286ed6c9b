#include "ui/shell/recent_project_preview.h"

#include "model/preview_image_cache.h"
#include "model/project_file_reader.h"
#include "model/project_json.h"
#include "model/stored_enum_json.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace fotivela {

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

RecentProjectPreview RecentProjectPreview::load(const std::filesystem::path& url)
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
            preview.image = PreviewImageCache::decodeShownImage(*first, url, maximumPixelSize);
            preview.slide = std::move(first);
        }
    } catch (...) {
        return {};
    }
    return preview;
}

} // namespace fotivela
