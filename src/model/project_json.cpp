#include "model/project_json.h"

#include "model/stored_enum_json.h"
#include "platform/json_encoder.h"

#include <algorithm>

namespace fotivela {

namespace {

using Json = nlohmann::json;
using Object = nlohmann::json::object_t;

double clampedStored(double value, double low, double high)
{
    return std::clamp(value, low, high);
}

} // namespace

// ---- Project

std::string encodeProject(const FotivelaProject& project)
{
    return encodeFotivelaJson(toJson(project));
}

FotivelaProject decodeProject(std::string_view text)
{
    const Json tree = parseFotivelaJson(text);
    const JsonPath root;
    return decodeFotivelaProject(tree, root);
}

Json toJson(const FotivelaProject& project)
{
    Object o;
    o.emplace("id", jsonUuid(project.id));
    o.emplace("name", project.name);
    o.emplace("createdAt", jsonDate(project.createdAt));
    o.emplace("updatedAt", jsonDate(project.updatedAt));
    o.emplace("format", storedJson(project.format));
    o.emplace("fps", project.fps);
    if (project.fillPhotosToScreen)
        o.emplace("fillPhotosToScreen", *project.fillPhotosToScreen);
    if (project.backgroundColorHex)
        o.emplace("backgroundColorHex", *project.backgroundColorHex);
    Json::array_t slides;
    slides.reserve(project.slides.size());
    for (const auto& slide : project.slides)
        slides.push_back(toJson(slide));
    o.emplace("slides", std::move(slides));
    if (project.audio)
        o.emplace("audio", toJson(*project.audio));
    if (project.aiMusic)
        o.emplace("aiMusic", toJson(*project.aiMusic));
    o.emplace("exportSettings", toJson(project.exportSettings));
    return Json(std::move(o));
}

FotivelaProject decodeFotivelaProject(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    FotivelaProject p;
    p.id = r.required("id", readJsonUuid);
    p.name = r.required("name", readJsonString);
    p.createdAt = r.required("createdAt", readJsonDate);
    p.updatedAt = r.required("updatedAt", readJsonDate);
    p.format = r.required("format", storedEnumReader<ProjectFormat>);
    p.fps = r.required("fps", readJsonInt64);
    p.fillPhotosToScreen = r.optional("fillPhotosToScreen", readJsonBool);
    p.backgroundColorHex = r.optional("backgroundColorHex", readJsonString);
    p.slides = r.required("slides", [](const Json& v, const JsonPath& at) { return readJsonList(v, at, decodeSlide); });
    p.audio = r.optional("audio", decodeAudioTrack);
    p.aiMusic = r.optional("aiMusic", decodeAIMusicSettings);
    p.exportSettings = r.required("exportSettings", decodeExportSettings);
    return p;
}

// ---- Slide

Json toJson(const Slide& s)
{
    Object o;
    o.emplace("id", jsonUuid(s.id));
    o.emplace("imageURL", jsonFileUrl(s.imageURL));
    o.emplace("name", s.name);
    o.emplace("order", s.order);
    o.emplace("duration", s.duration);
    o.emplace("transition", storedJson(s.transition));
    o.emplace("zoom", storedJson(s.zoom));
    o.emplace("imageScale", s.imageScale);
    o.emplace("imageOffsetX", s.imageOffsetX);
    o.emplace("imageOffsetY", s.imageOffsetY);
    o.emplace("kenBurnsEnabled", s.kenBurnsEnabled);
    o.emplace("kenBurnsZoomAmount", s.kenBurnsZoomAmount);
    o.emplace("kenBurnsMovementAmount", s.kenBurnsMovementAmount);
    o.emplace("title", s.title);
    o.emplace("titleFontSize", s.titleFontSize);
    o.emplace("titleColorHex", s.titleColorHex);
    o.emplace("titleFontDesign", storedJson(s.titleFontDesign));
    o.emplace("titleHasBackground", s.titleHasBackground);
    o.emplace("titlePositionX", s.titlePositionX);
    o.emplace("titlePositionY", s.titlePositionY);
    o.emplace("isGeneratedTitleSlide", s.isGeneratedTitleSlide);
    return Json(std::move(o));
}

Slide decodeSlide(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    Slide s;
    s.id = r.required("id", readJsonUuid);
    s.imageURL = r.required("imageURL", readJsonFileUrl);
    s.name = r.required("name", readJsonString);
    s.order = r.required("order", readJsonInt64);
    s.duration = r.required("duration", readJsonDouble);
    // Files of older versions hold "Fade", which is shown as the dissolve now.
    s.transition = r.required("transition", storedEnumReader<SlideTransition>);
    if (s.transition == SlideTransition::fade)
        s.transition = SlideTransition::dissolve;
    s.zoom = r.required("zoom", storedEnumReader<ZoomMode>);
    s.imageScale = clampedStored(r.optionalOr("imageScale", readJsonDouble, 1.0), slideMinimumImageScale,
                                 slideMaximumImageScale);
    s.imageOffsetX = clampedStored(r.optionalOr("imageOffsetX", readJsonDouble, 0.0), -slideMaximumImageOffset,
                                   slideMaximumImageOffset);
    s.imageOffsetY = clampedStored(r.optionalOr("imageOffsetY", readJsonDouble, 0.0), -slideMaximumImageOffset,
                                   slideMaximumImageOffset);
    s.kenBurnsEnabled = r.optionalOr("kenBurnsEnabled", readJsonBool, false);
    s.kenBurnsZoomAmount = r.optionalOr("kenBurnsZoomAmount", readJsonDouble, 0.12);
    s.kenBurnsMovementAmount = r.optionalOr("kenBurnsMovementAmount", readJsonDouble, 0.35);
    s.title = r.required("title", readJsonString);
    s.titleFontSize = r.optionalOr("titleFontSize", readJsonDouble, 42.0);
    s.titleColorHex = r.optionalOr("titleColorHex", readJsonString, "#FFFFFF");
    s.titleFontDesign =
        r.optionalOr("titleFontDesign", storedEnumReader<TitleFontDesign>, TitleFontDesign::default_);
    s.titleHasBackground = r.optionalOr("titleHasBackground", readJsonBool, true);
    s.titlePositionX = r.optionalOr("titlePositionX", readJsonDouble, 0.5);
    s.titlePositionY = r.optionalOr("titlePositionY", readJsonDouble, 0.5);
    s.isGeneratedTitleSlide = r.optionalOr("isGeneratedTitleSlide", readJsonBool, false);
    return s;
}

// ---- AI music settings

Json toJson(const AIMusicSettings& a)
{
    Object o;
    o.emplace("lyrics", a.lyrics);
    o.emplace("stylePrompt", a.stylePrompt);
    o.emplace("subjectName", a.subjectName);
    o.emplace("requestedMusicStyle", a.requestedMusicStyle);
    o.emplace("generationNotes", a.generationNotes);
    o.emplace("withVocals", a.withVocals);
    if (a.lastContactSheetURL)
        o.emplace("lastContactSheetURL", jsonFileUrl(*a.lastContactSheetURL));
    if (a.lastGeneratedAt)
        o.emplace("lastGeneratedAt", jsonDate(*a.lastGeneratedAt));
    return Json(std::move(o));
}

AIMusicSettings decodeAIMusicSettings(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    const AIMusicSettings defaults;
    AIMusicSettings a;
    a.lyrics = r.optionalOr("lyrics", readJsonString, defaults.lyrics);
    a.stylePrompt = r.optionalOr("stylePrompt", readJsonString, defaults.stylePrompt);
    a.subjectName = r.optionalOr("subjectName", readJsonString, defaults.subjectName);
    a.requestedMusicStyle = r.optionalOr("requestedMusicStyle", readJsonString, defaults.requestedMusicStyle);
    a.generationNotes = r.optionalOr("generationNotes", readJsonString, defaults.generationNotes);
    a.withVocals = r.optionalOr("withVocals", readJsonBool, defaults.withVocals);
    a.lastContactSheetURL = r.optional("lastContactSheetURL", readJsonFileUrl);
    a.lastGeneratedAt = r.optional("lastGeneratedAt", readJsonDate);
    return a;
}

// ---- Export settings

Json toJson(const ExportSettings& e)
{
    Object o;
    o.emplace("quality", storedJson(e.quality));
    o.emplace("codec", storedJson(e.codec));
    o.emplace("bitrateMbps", e.bitrateMbps);
    o.emplace("includeAudio", e.includeAudio);
    o.emplace("outputFormat", e.outputFormat);
    return Json(std::move(o));
}

ExportSettings decodeExportSettings(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    ExportSettings e;
    e.quality = r.optionalOr("quality", storedEnumReader<ExportQuality>, ExportQuality::high);
    e.codec = r.optionalOr("codec", storedEnumReader<ExportCodec>, ExportCodec::h265);
    e.bitrateMbps = r.optionalOr("bitrateMbps", readJsonDouble, defaultBitrateMbps(e.quality));
    e.includeAudio = r.optionalOr("includeAudio", readJsonBool, true);
    e.outputFormat = r.optionalOr("outputFormat", readJsonString, "mp4");
    return e;
}

// ---- Recent project

Json toJson(const RecentProject& entry)
{
    Object o;
    o.emplace("name", entry.name);
    o.emplace("url", jsonFileUrl(entry.url));
    o.emplace("savedAt", jsonDate(entry.savedAt));
    return Json(std::move(o));
}

RecentProject decodeRecentProject(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    RecentProject entry;
    entry.name = r.required("name", readJsonString);
    entry.url = r.required("url", readJsonFileUrl);
    entry.savedAt = r.required("savedAt", readJsonDate);
    return entry;
}

} // namespace fotivela
