#include "model/project_json.h"

#include "model/stored_enum_json.h"

namespace fotivela {

namespace {

using Json = nlohmann::json;
using Object = nlohmann::json::object_t;

constexpr std::string_view unknownSyncModeMessage = "Modo de sincronizacion desconocido: ";

template <class E>
Json storedSet(const std::set<E>& values)
{
    Json::array_t array;
    array.reserve(values.size());
    for (const E value : values)
        array.push_back(storedJson(value));
    return Json(std::move(array));
}

// A dictionary keyed by an enumeration: a flat array of stored key, value, key, value...
template <class E, class V, class ValueToJson>
Json flatDictionary(const std::map<E, V>& map, ValueToJson&& valueToJson)
{
    Json::array_t array;
    array.reserve(map.size() * 2);
    for (const auto& [key, value] : map) {
        array.push_back(storedJson(key));
        array.push_back(valueToJson(value));
    }
    return Json(std::move(array));
}

Json markerList(const std::vector<BeatMarker>& markers)
{
    Json::array_t array;
    array.reserve(markers.size());
    for (const auto& marker : markers)
        array.push_back(toJson(marker));
    return Json(std::move(array));
}

std::vector<BeatMarker> readMarkerList(const Json& j, const JsonPath& path)
{
    return readJsonList(j, path, decodeBeatMarker);
}

Json analysisJson(const AudioAnalysis& analysis)
{
    return toJson(analysis);
}

Json urlJson(const std::filesystem::path& path)
{
    return jsonFileUrl(path);
}

} // namespace

// ---- Beat marker

Json toJson(const BeatMarker& m)
{
    Object o;
    o.emplace("id", jsonUuid(m.id));
    o.emplace("time", m.time);
    o.emplace("strength", m.strength);
    o.emplace("kind", storedJson(m.kind));
    o.emplace("isEnabled", m.isEnabled);
    o.emplace("isManual", m.isManual);
    if (m.sourceInstrument)
        o.emplace("sourceInstrument", storedJson(*m.sourceInstrument));
    if (m.detectedTime)
        o.emplace("detectedTime", *m.detectedTime);
    return Json(std::move(o));
}

BeatMarker decodeBeatMarker(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    BeatMarker m;
    m.id = r.required("id", readJsonUuid);
    m.time = r.required("time", readJsonDouble);
    m.strength = r.required("strength", readJsonDouble);
    m.kind = r.required("kind", storedEnumReader<BeatKind>);
    m.isEnabled = r.required("isEnabled", readJsonBool);
    m.isManual = r.required("isManual", readJsonBool);
    m.sourceInstrument = r.optional("sourceInstrument", storedEnumReader<AutoBeatInstrument>);
    m.detectedTime = r.optional("detectedTime", readJsonDouble);
    return m;
}

// ---- Audio analysis

Json toJson(const AudioAnalysis& a)
{
    Object o;
    o.emplace("waveformSamples", jsonDoubleList(a.waveformSamples));
    o.emplace("beatMarkers", markerList(a.beatMarkers));
    o.emplace("sensitivity", a.sensitivity);
    o.emplace("beatsPerBar", a.beatsPerBar);
    o.emplace("version", a.version);
    if (a.hasUserEdits)
        o.emplace("hasUserEdits", true);
    return Json(std::move(o));
}

AudioAnalysis decodeAudioAnalysis(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    AudioAnalysis a;
    a.waveformSamples = r.required("waveformSamples", readJsonDoubleList);
    a.beatMarkers = r.required("beatMarkers", readMarkerList);
    a.sensitivity = r.required("sensitivity", readJsonDouble);
    a.beatsPerBar = r.required("beatsPerBar", readJsonInt64);
    a.version = r.required("version", readJsonInt64);
    a.hasUserEdits = r.optional("hasUserEdits", readJsonBool).value_or(false);
    return a;
}

// ---- Stem separation state

Json toJson(const StemSeparationState& s)
{
    Object o;
    o.emplace("engine", storedJson(s.engine));
    o.emplace("sourceSignature", s.sourceSignature);
    if (s.cacheDirectory)
        o.emplace("cacheDirectory", jsonFileUrl(*s.cacheDirectory));
    o.emplace("stems", flatDictionary(s.stems, urlJson));
    o.emplace("instrumentPreviewURLs", flatDictionary(s.instrumentPreviewURLs, urlJson));
    if (s.separatedAt)
        o.emplace("separatedAt", jsonDate(*s.separatedAt));
    o.emplace("message", s.message);
    return Json(std::move(o));
}

StemSeparationState decodeStemSeparationState(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    StemSeparationState s;
    s.engine = r.required("engine", storedEnumReader<StemSeparationEngine>);
    s.sourceSignature = r.required("sourceSignature", readJsonString);
    s.cacheDirectory = r.optional("cacheDirectory", readJsonFileUrl);
    s.stems = r.required("stems", [](const Json& v, const JsonPath& at) {
        return readJsonFlatDictionary(v, at, storedEnumReader<AudioStem>, readJsonFileUrl);
    });
    s.instrumentPreviewURLs = r.required("instrumentPreviewURLs", [](const Json& v, const JsonPath& at) {
        return readJsonFlatDictionary(v, at, storedEnumReader<AutoBeatInstrument>, readJsonFileUrl);
    });
    s.separatedAt = r.optional("separatedAt", readJsonDate);
    s.message = r.required("message", readJsonString);
    return s;
}

// ---- Audio track

SyncMode decodeSyncMode(const Json& j, const JsonPath& path)
{
    const auto& text = readJsonString(j, path);
    if (text == "Manual")
        return SyncMode::manual;
    if (text == "Auto ritmo v2" || text == "Auto ritmo")
        return SyncMode::autoBeatV2;
    throw JsonDecodingError(path.toString(), "valor desconocido «" + text + "»",
                            std::string(unknownSyncModeMessage) + text);
}

Json toJson(const AudioTrack& t)
{
    Object o;
    o.emplace("url", jsonFileUrl(t.url));
    o.emplace("name", t.name);
    o.emplace("syncMode", storedJson(t.syncMode));
    o.emplace("fadeIn", t.fadeIn);
    o.emplace("fadeOut", t.fadeOut);
    o.emplace("cutToSlideshowDuration", t.cutToSlideshowDuration);
    o.emplace("cutFadeOutDuration", t.cutFadeOutDuration);
    o.emplace("beatSensitivity", t.beatSensitivity);
    o.emplace("autoBeatMinimumMarkerSpacing", t.autoBeatMinimumMarkerSpacing);
    o.emplace("beatDetectionFocus", storedJson(t.beatDetectionFocus));
    o.emplace("beatsPerBar", t.beatsPerBar);
    o.emplace("snapTolerance", t.snapTolerance);
    o.emplace("autoBeatTargets", storedSet(t.autoBeatTargets));
    o.emplace("autoBeatInstruments", storedSet(t.autoBeatInstruments));
    o.emplace("waveformSamples", jsonDoubleList(t.waveformSamples));
    o.emplace("attackDetectionSamples", jsonDoubleList(t.attackDetectionSamples));
    o.emplace("beatMarkers", markerList(t.beatMarkers));
    o.emplace("isAttackWaveformEnabled", t.isAttackWaveformEnabled);
    o.emplace("attackMarkerOverrides", markerList(t.attackMarkerOverrides));
    o.emplace("analysisCache", flatDictionary(t.analysisCache, analysisJson));
    o.emplace("instrumentAnalysisCache", flatDictionary(t.instrumentAnalysisCache, analysisJson));
    Object variants;
    for (const auto& [key, analysis] : t.instrumentAnalysisVariants)
        variants.emplace_hint(variants.end(), key, toJson(analysis));
    o.emplace("instrumentAnalysisVariants", std::move(variants));
    o.emplace("stemSeparation", toJson(t.stemSeparation));
    o.emplace("analysisVersion", t.analysisVersion);
    return Json(std::move(o));
}

AudioTrack decodeAudioTrack(const Json& j, const JsonPath& path)
{
    const JsonObjectReader r(j, path);
    AudioTrack t;
    t.url = r.required("url", readJsonFileUrl);
    t.name = r.required("name", readJsonString);
    t.syncMode = r.required("syncMode", decodeSyncMode);
    t.fadeIn = r.required("fadeIn", readJsonBool);
    t.fadeOut = r.required("fadeOut", readJsonBool);
    t.cutToSlideshowDuration = r.optionalOr("cutToSlideshowDuration", readJsonBool, false);
    t.cutFadeOutDuration = r.optionalOr("cutFadeOutDuration", readJsonDouble, 2.5);
    t.beatSensitivity = r.required("beatSensitivity", readJsonDouble);
    t.autoBeatMinimumMarkerSpacing = r.optionalOr("autoBeatMinimumMarkerSpacing", readJsonDouble, 0.22);
    t.beatDetectionFocus = r.required("beatDetectionFocus", storedEnumReader<BeatDetectionFocus>);
    t.beatsPerBar = r.required("beatsPerBar", readJsonInt64);
    t.snapTolerance = r.required("snapTolerance", readJsonDouble);
    t.autoBeatTargets = r.required("autoBeatTargets", [](const Json& v, const JsonPath& at) {
        return readJsonSet(v, at, storedEnumReader<BeatKind>);
    });
    t.autoBeatInstruments = r.required("autoBeatInstruments", [](const Json& v, const JsonPath& at) {
        return readJsonSet(v, at, storedEnumReader<AutoBeatInstrument>);
    });
    t.waveformSamples = r.required("waveformSamples", readJsonDoubleList);
    t.attackDetectionSamples = r.optionalOr("attackDetectionSamples", readJsonDoubleList, std::vector<double>{});
    t.beatMarkers = r.required("beatMarkers", readMarkerList);
    t.isAttackWaveformEnabled =
        r.optionalOr("isAttackWaveformEnabled", readJsonBool, t.syncMode == SyncMode::autoBeatV2);
    t.attackMarkerOverrides = r.optionalOr("attackMarkerOverrides", readMarkerList, std::vector<BeatMarker>{});
    t.analysisCache = r.required("analysisCache", [](const Json& v, const JsonPath& at) {
        return readJsonFlatDictionary(v, at, storedEnumReader<BeatDetectionFocus>, decodeAudioAnalysis);
    });
    t.instrumentAnalysisCache = r.required("instrumentAnalysisCache", [](const Json& v, const JsonPath& at) {
        return readJsonFlatDictionary(v, at, storedEnumReader<AutoBeatInstrument>, decodeAudioAnalysis);
    });
    t.instrumentAnalysisVariants = r.required("instrumentAnalysisVariants", [](const Json& v, const JsonPath& at) {
        return readJsonTextDictionary(v, at, decodeAudioAnalysis);
    });
    t.stemSeparation = r.required("stemSeparation", decodeStemSeparationState);
    t.analysisVersion = r.required("analysisVersion", readJsonInt64);
    return t;
}

} // namespace fotivela
