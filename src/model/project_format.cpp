#include "model/project_format.h"

namespace fotivela {

namespace {

struct FormatInfo {
    double aspectRatio;
    std::string_view titleLabel;
    std::string_view ratioText;
    std::string_view description;
};

const FormatInfo& info(ProjectFormat format)
{
    static const FormatInfo infos[] = {
        {16.0 / 9.0, "YouTube", "16:9", "YouTube, web y TV"},
        {9.0 / 16.0, "Reels / TikTok", "9:16", "Reels, TikTok y Shorts"},
        {4.0 / 3.0, "Video horizontal", "4:3", "Video horizontal clásico"},
        {3.0 / 4.0, "Video vertical", "3:4", "Video vertical clásico"},
        {1.0, "Feed cuadrado", "1:1", "Instagram y feed social"},
        {0.8, "Feed vertical", "4:5", "Instagram vertical"},
        {1.25, "Feed horizontal", "5:4", "Post horizontal"},
        {1.5, "Foto horizontal", "3:2", "Fotografia horizontal"},
        {2.0 / 3.0, "Foto vertical", "2:3", "Fotografia vertical"},
    };
    return infos[static_cast<std::size_t>(format)];
}

} // namespace

double aspectRatio(ProjectFormat format)
{
    return info(format).aspectRatio;
}

std::string_view titleLabel(ProjectFormat format)
{
    return info(format).titleLabel;
}

std::string_view ratioText(ProjectFormat format)
{
    return info(format).ratioText;
}

std::string_view spanishDescription(ProjectFormat format)
{
    return info(format).description;
}

std::string displayTitle(ProjectFormat format, const InterfaceTextTranslator& translate)
{
    const auto label = info(format).titleLabel;
    std::string title = translate ? translate(label) : std::string(label);
    title += ' ';
    title += info(format).ratioText;
    return title;
}

std::string description(ProjectFormat format, const InterfaceTextTranslator& translate)
{
    const auto spanish = info(format).description;
    return translate ? translate(spanish) : std::string(spanish);
}

} // namespace fotivela
