#include "store/project_store.h"

#include "analysis/audio_analysis_cache_key.h"
#include "store/project_store_derived_cache.h"
#include "store/project_store_helpers.h"

#include <algorithm>
#include <system_error>

namespace fotivela {

namespace {

constexpr double activeMarkerMinimumTime = 0.05;
constexpr const char* initialTitleName = "Pantalla inicial";
constexpr const char* finalTitleName = "Pantalla final";

bool fileExists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool holdsStemInstrument(const AudioTrack& audio)
{
    return std::any_of(audio.autoBeatInstruments.begin(), audio.autoBeatInstruments.end(),
                       [](AutoBeatInstrument i) { return demucsStemInstrumentSet().contains(i); });
}

std::optional<Slide> findSlide(const std::vector<Slide>& slides, const std::optional<Uuid>& id)
{
    if (!id)
        return std::nullopt;
    const auto found = std::find_if(slides.begin(), slides.end(), [&](const Slide& s) { return s.id == *id; });
    if (found == slides.end())
        return std::nullopt;
    return *found;
}

} // namespace

bool ProjectStore::hasOpenProject() const
{
    return !project().slides.empty() || project().audio.has_value() || currentProjectURL().has_value();
}

std::optional<Slide> ProjectStore::selectedSlide() const
{
    const std::vector<Slide>& slides = project().slides;
    if (!selectedSlideID()) {
        if (slides.empty())
            return std::nullopt;
        return slides.front();
    }
    return findSlide(slides, selectedSlideID());
}

std::optional<Slide> ProjectStore::previewSlide() const
{
    if (isPlaying())
        return slide(previewTime());
    return findSlide(project().slides, selectedSlideID());
}

std::optional<Slide> ProjectStore::slide(double time) const
{
    const std::vector<Slide>& slides = project().slides;
    if (slides.empty())
        return std::nullopt;
    const double total = totalDuration();
    const double limit = total > 0 ? total : 0;
    if (!(time < limit))
        return std::nullopt;
    const double position = std::max(time, 0.0);
    double end = 0;
    for (const Slide& candidate : slides) {
        end += candidate.duration;
        if (position < end)
            return candidate;
    }
    return slides.back();
}

std::vector<Slide> ProjectStore::selectedTimelineSlides() const
{
    std::vector<Slide> result;
    const std::set<Uuid>& selection = timelineSelection();
    for (const Slide& candidate : project().slides) {
        if (selection.contains(candidate.id))
            result.push_back(candidate);
    }
    return result;
}

std::vector<Slide> ProjectStore::editableSlides() const
{
    std::vector<Slide> result = selectedTimelineSlides();
    if (!result.empty())
        return result;
    if (std::optional<Slide> selected = selectedSlide())
        result.push_back(std::move(*selected));
    return result;
}

void ProjectStore::rebuildDerivedCacheIfNeeded() const
{
    // Every input is read through its accessor, so a tracking view learns of all of them.
    const FotivelaProject& currentProject = project();
    const std::vector<BeatMarker>& markers = audioBeatMarkers();
    const std::vector<BeatMarker>& attackMarkers = attackBeatMarkers();
    const bool attackEnabled = isAttackWaveformEnabled();
    const std::set<AutoBeatInstrument>& visible = visibleStemWaveformInstruments();
    const std::optional<Uuid>& selectedMarkerID = selectedBeatMarkerID();

    // The preview and stem files can come and go behind the store's back (and a stem's
    // presence decides which cached analysis is drawn): ask the file system on every
    // read, and rebuild when its answer changed.
    std::uint32_t existing = 0;
    if (currentProject.audio) {
        const std::map<AudioStem, std::filesystem::path>& stems = currentProject.audio->stemSeparation.stems;
        for (AutoBeatInstrument instrument : visible) {
            if (instrumentPreviewURL(instrument))
                existing |= 1u << static_cast<unsigned>(instrument);
            const AudioStem stem = AudioAnalysisCacheKey::stemFor(instrument);
            if (const auto file = stems.find(stem); file != stems.end() && fileExists(file->second))
                existing |= 1u << (8 + static_cast<unsigned>(stem));
        }
    }

    if (!m_derivedCache)
        m_derivedCache = std::make_unique<DerivedCache>();
    DerivedCache& cache = *m_derivedCache;
    if (cache.generation == m_derivedInputsGeneration && cache.existingInstrumentFiles == existing)
        return;

    const TimelineDataBuilder::Inputs inputs{
        currentProject.audio,
        markers,
        attackMarkers,
        attackEnabled,
        visible,
        [existing](AutoBeatInstrument instrument) { return (existing & (1u << static_cast<unsigned>(instrument))) != 0; },
        currentProject.slides,
        selectedMarkerID,
    };
    cache.data = TimelineDataBuilder::derivedData(inputs);

    cache.autoSyncBeatMarkers.clear();
    for (const BeatMarker& marker : cache.data.beatMarkers) {
        if (marker.isEnabled && marker.time > activeMarkerMinimumTime)
            cache.autoSyncBeatMarkers.push_back(marker);
    }
    sortMarkersByTime(cache.autoSyncBeatMarkers);

    cache.generation = m_derivedInputsGeneration;
    cache.existingInstrumentFiles = existing;
}

const TimelineDerivedData& ProjectStore::timelineDerivedData() const
{
    rebuildDerivedCacheIfNeeded();
    return m_derivedCache->data;
}

const std::vector<BeatMarker>& ProjectStore::autoSyncBeatMarkers() const
{
    rebuildDerivedCacheIfNeeded();
    return m_derivedCache->autoSyncBeatMarkers;
}

std::optional<BeatMarker> ProjectStore::selectedBeatMarker() const
{
    const std::optional<Uuid>& id = selectedBeatMarkerID();
    if (!id)
        return std::nullopt;
    for (const BeatMarker& marker : timelineDerivedData().beatMarkers) {
        if (marker.id == *id)
            return marker;
    }
    return std::nullopt;
}

std::int64_t ProjectStore::manualBeatMarkerCount() const
{
    const std::vector<BeatMarker>& markers = audioBeatMarkers();
    return std::count_if(markers.begin(), markers.end(), [](const BeatMarker& m) { return m.isManual && m.isEnabled; });
}

bool ProjectStore::hasSurplusPhotosForAudioCut() const
{
    const std::optional<AudioTrack>& audio = project().audio;
    if (!audio || audio->syncMode != SyncMode::autoBeatV2)
        return false;
    return autoSyncBeatMarkers().size() < project().slides.size();
}

std::int64_t ProjectStore::autoBeatRequiredPhotoCount() const
{
    const std::optional<AudioTrack>& audio = project().audio;
    if (audio && audio->cutToSlideshowDuration && !hasSurplusPhotosForAudioCut())
        return static_cast<std::int64_t>(project().slides.size());
    return static_cast<std::int64_t>(autoSyncBeatMarkers().size());
}

std::optional<double> ProjectStore::audioCutTime() const
{
    const std::optional<AudioTrack>& audio = project().audio;
    const double total = totalDuration();
    if (audio && audio->cutToSlideshowDuration && total > 0 && total < audioDuration())
        return total;
    return std::nullopt;
}

bool ProjectStore::isSeparatingInstrumentStems() const
{
    const std::optional<AudioTrack>& audio = project().audio;
    return audio && isAnalyzingAudio() && audio->syncMode == SyncMode::autoBeatV2
        && audio->stemSeparation.engine != StemSeparationEngine::demucs && holdsStemInstrument(*audio);
}

bool ProjectStore::isPreparingInstrumentAnalysis() const
{
    const std::optional<AudioTrack>& audio = project().audio;
    return audio && isAnalyzingAudio() && audio->syncMode == SyncMode::autoBeatV2 && !isAttackWaveformEnabled()
        && holdsStemInstrument(*audio);
}

std::string ProjectStore::aiMusicStylePrompt() const
{
    const std::optional<AIMusicSettings>& settings = project().aiMusic;
    return settings ? settings->stylePrompt : AIMusicSettings{}.stylePrompt;
}

std::string ProjectStore::aiMusicRequestedStyle() const
{
    const std::optional<AIMusicSettings>& settings = project().aiMusic;
    return settings ? settings->requestedMusicStyle : AIMusicSettings{}.requestedMusicStyle;
}

std::optional<std::filesystem::path> ProjectStore::instrumentPreviewURL(AutoBeatInstrument instrument) const
{
    const std::optional<AudioTrack>& audio = project().audio;
    if (!audio)
        return std::nullopt;
    const StemSeparationState& separation = audio->stemSeparation;
    if (const auto preview = separation.instrumentPreviewURLs.find(instrument);
        preview != separation.instrumentPreviewURLs.end() && fileExists(preview->second))
        return preview->second;
    if (const auto stem = separation.stems.find(AudioAnalysisCacheKey::stemFor(instrument));
        stem != separation.stems.end() && fileExists(stem->second))
        return stem->second;
    return std::nullopt;
}

std::optional<Slide> ProjectStore::initialTitleSlide() const
{
    const std::vector<Slide>& slides = project().slides;
    const auto found = std::find_if(slides.begin(), slides.end(), [](const Slide& s) {
        return s.isGeneratedTitleSlide && s.name == initialTitleName;
    });
    if (found == slides.end())
        return std::nullopt;
    return *found;
}

std::optional<Slide> ProjectStore::finalTitleSlide() const
{
    const std::vector<Slide>& slides = project().slides;
    const auto found = std::find_if(slides.rbegin(), slides.rend(), [](const Slide& s) {
        return s.isGeneratedTitleSlide && s.name == finalTitleName;
    });
    if (found == slides.rend())
        return std::nullopt;
    return *found;
}

std::optional<Slide> ProjectStore::firstContentSlide() const
{
    const std::vector<Slide>& slides = project().slides;
    const auto found = std::find_if(slides.begin(), slides.end(), [](const Slide& s) { return !s.isGeneratedTitleSlide; });
    if (found == slides.end())
        return std::nullopt;
    return *found;
}

std::optional<Slide> ProjectStore::lastContentSlide() const
{
    const std::vector<Slide>& slides = project().slides;
    const auto found = std::find_if(slides.rbegin(), slides.rend(), [](const Slide& s) { return !s.isGeneratedTitleSlide; });
    if (found == slides.rend())
        return std::nullopt;
    return *found;
}

bool ProjectStore::hasInitialTitleScreen() const
{
    if (initialTitleSlide())
        return true;
    const std::optional<Slide> first = firstContentSlide();
    return first && !first->title.empty();
}

bool ProjectStore::hasFinalTitleScreen() const
{
    if (finalTitleSlide())
        return true;
    const std::optional<Slide> last = lastContentSlide();
    return last && !last->title.empty();
}

} // namespace fotivela
