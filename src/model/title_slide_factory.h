#pragma once

#include "model/slide.h"
#include "platform/uuid.h"

#include <filesystem>
#include <string>

namespace fotivela {

// The black picture behind a generated title slide, and the copying of title styling
// from one slide to another.
namespace TitleSlideFactory {

inline constexpr int titleImageWidth = 1920;
inline constexpr int titleImageHeight = 1080;

// project folder / "Previos" / "TitleSlides" / "title-<UUID>.png". Creates nothing.
std::filesystem::path generatedTitleSlideImageURL(const Uuid& id, const std::filesystem::path& projectURL);

// An opaque black 1920 by 1080 PNG, written atomically over whatever is there. A failure
// is logged and not reported: the slide works without its picture until it is made again.
void createBlackTitleSlideImage(const std::filesystem::path& url);

// The target takes the source's title (or the fallback when the source's is empty) and its
// six style fields; nothing else of the target changes.
void copyTitleStyle(const Slide& source, Slide& target, const std::string& fallbackTitle);

} // namespace TitleSlideFactory

} // namespace fotivela
