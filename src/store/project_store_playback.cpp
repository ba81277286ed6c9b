#include "store/project_store.h"

#include "model/fotivela_preferences.h"
#include "store/timeline_audio_transport_rules.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace fotivela {

namespace {

constexpr int tickMilliseconds = 16;
// Views redraw on every publish: at most twelve a second.
constexpr auto publishInterval = std::chrono::duration<double>(1.0 / 12.0);
constexpr double shortestPlaybackEnd = 0.1;

} // namespace

double ProjectStore::playbackEndTime() const
{
    if (const std::optional<double> cut = audioCutTime())
        return *cut;
    return std::max(totalDuration(), audioDuration());
}

void ProjectStore::startPreview()
{
    assertMainThread();
    if (project().slides.empty())
        return;
    stopInstrumentPreview();
    m_audioPlayback.stopTimelinePlayers();
    if (previewTime() >= std::max(playbackEndTime(), shortestPlaybackEnd))
        setPreviewTime(0);
    prepareAudioPlayerIfNeeded();

    double anchor = previewTime();
    if (AudioPlayer* player = m_audioPlayback.mainPlayer.get()) {
        const std::optional<double> start =
            TimelineAudioTransportRules::mainAudioStartTime(previewTime(), player->duration());
        if (!start) {
            player->pause();
        } else {
            applyMainAudioVolume(previewTime());
            player->setCurrentTime(*start);
            if (player->play())
                anchor = player->currentTime();
        }
    }

    const std::set<AutoBeatInstrument> failed = m_audioPlayback.startTimelinePlayers(
        audibleTimelineInstruments(), previewTime(), [this](AutoBeatInstrument i) { return instrumentPreviewURL(i); });
    if (!failed.empty()) {
        std::set<AutoBeatInstrument> audible = audibleTimelineInstruments();
        for (AutoBeatInstrument instrument : failed)
            audible.erase(instrument);
        setAudibleTimelineInstruments(std::move(audible));
    }
    resetPlaybackClock(anchor);
    setIsPlaying(true);

    if (!m_previewTask) {
        m_previewTask = std::make_unique<QTimer>();
        m_previewTask->setTimerType(Qt::PreciseTimer);
        m_previewTask->setInterval(tickMilliseconds);
        // The timer dies with the store, so a closed store is never ticked.
        QObject::connect(m_previewTask.get(), &QTimer::timeout, [this] {
            if (!isPlaying()) {
                m_previewTask->stop();
                return;
            }
            publishPreviewTime(false);
        });
    }
    m_previewTask->stop();
    // The first publish does not wait for the first tick.
    publishPreviewTime(false);
    if (isPlaying())
        m_previewTask->start();
}

void ProjectStore::stopPreview()
{
    assertMainThread();
    publishPreviewTime(true);
    // Stopped, not destroyed: this may run inside the timer's own tick.
    if (m_previewTask)
        m_previewTask->stop();
    if (m_audioPlayback.mainPlayer)
        m_audioPlayback.mainPlayer->pause();
    m_audioPlayback.pauseTimelinePlayers();
    setIsPlaying(false);
    stopInstrumentPreview();
}

void ProjectStore::publishPreviewTime(bool force)
{
    const double end = std::max(playbackEndTime(), shortestPlaybackEnd);
    const double time = std::min(currentPlaybackClockTime(), end);
    // Every tick, so that a fade-out is smooth.
    applyMainAudioVolume(time);
    const Clock::time_point now = Clock::now();
    const bool recent = m_lastPreviewPublishDate != Clock::time_point::min() && now - m_lastPreviewPublishDate < publishInterval;
    if (!force && recent && time < end)
        return;
    setPreviewTime(time);
    m_lastPreviewPublishDate = now;
    const std::optional<Slide> current = slide(previewTime());
    setSelectedSlideID(current ? std::optional<Uuid>(current->id) : std::nullopt);
    if (!force && previewTime() >= end)
        stopPreview();
}

double ProjectStore::currentPlaybackClockTime() const
{
    assertMainThread();
    if (m_audioPlayback.mainPlayer && m_audioPlayback.mainPlayer->isPlaying())
        return m_audioPlayback.mainPlayer->currentTime();
    if (isPlaying() && m_playbackClockAnchorDate)
        return playbackClockAnchorTime()
            + std::chrono::duration<double>(Clock::now() - *m_playbackClockAnchorDate).count();
    return previewTime();
}

void ProjectStore::resetPlaybackClock(double anchorTime)
{
    assertMainThread();
    // Bounds first: a time that is not a number anchors at 0.
    const double anchor = std::min(std::max(0.0, anchorTime), std::max(playbackEndTime(), 0.0));
    setPlaybackClockAnchorTime(anchor);
    m_playbackClockAnchorDate = Clock::now();
    setPlaybackClockRevision(playbackClockRevision() + 1);
    m_lastPreviewPublishDate = Clock::time_point::min();
}

double ProjectStore::seekTimelineTransport(double time)
{
    assertMainThread();
    const double limit = std::max({totalDuration(), audioDuration(), 0.0});
    const double target = std::min(std::max(0.0, time), limit);
    setSnappedBeatTime(std::nullopt);
    if (previewTime() == target && !isPlaying())
        return target;
    setPreviewTime(target);
    if (AudioPlayer* player = m_audioPlayback.mainPlayer.get())
        player->setCurrentTime(std::min(target, player->duration()));
    m_audioPlayback.seekTimelinePlayers(target);
    resetPlaybackClock(target);
    return target;
}

void ProjectStore::seekPreview(double time)
{
    assertMainThread();
    const double target = seekTimelineTransport(time);
    const std::optional<Slide> current = slide(target);
    if (current) {
        setSelectedSlideID(current->id);
        setTimelineSelection({current->id});
        m_timelineAnchorID = current->id;
    } else {
        setSelectedSlideID(std::nullopt);
        setTimelineSelection({});
        m_timelineAnchorID.reset();
    }
    setSelectedBeatMarkerID(std::nullopt);
}

void ProjectStore::applyMainAudioVolume(double time)
{
    if (AudioPlayer* player = m_audioPlayback.mainPlayer.get())
        player->setVolume(mainAudioVolume(time));
}

// --- Instrument audio and settings ---

bool ProjectStore::canPreviewInstrument(AutoBeatInstrument instrument) const
{
    return instrumentPreviewURL(instrument).has_value();
}

void ProjectStore::toggleMainAudioMute()
{
    assertMainThread();
    setIsMainAudioSoloed(false);
    setSoloTimelineInstrument(std::nullopt);
    setIsMainAudioMuted(!isMainAudioMuted());
    applyMainAudioVolume(previewTime());
}

void ProjectStore::soloMainTimelineAudio()
{
    assertMainThread();
    if (isMainAudioSoloed()) {
        setIsMainAudioSoloed(false);
        setIsMainAudioMuted(false);
        return;
    }
    setSoloTimelineInstrument(std::nullopt);
    setIsMainAudioSoloed(true);
    setIsMainAudioMuted(false);
    setAudibleTimelineInstruments({});
    m_audioPlayback.stopTimelinePlayers();
    applyMainAudioVolume(previewTime());
}

void ProjectStore::toggleTimelineInstrumentAudio(AutoBeatInstrument instrument)
{
    assertMainThread();
    setIsMainAudioSoloed(false);
    setSoloTimelineInstrument(std::nullopt);
    if (audibleTimelineInstruments().contains(instrument)) {
        stopTimelineInstrumentAudio(instrument);
        return;
    }
    if (!canPreviewInstrument(instrument))
        return;
    std::set<AutoBeatInstrument> audible = audibleTimelineInstruments();
    audible.insert(instrument);
    setAudibleTimelineInstruments(audible);
    if (isPlaying()
        && !m_audioPlayback.startTimelinePlayer(instrument, previewTime(),
                                                [this](AutoBeatInstrument i) { return instrumentPreviewURL(i); })) {
        audible.erase(instrument);
        setAudibleTimelineInstruments(std::move(audible));
    }
}

void ProjectStore::stopTimelineInstrumentAudio(AutoBeatInstrument instrument)
{
    assertMainThread();
    std::set<AutoBeatInstrument> audible = audibleTimelineInstruments();
    audible.erase(instrument);
    setAudibleTimelineInstruments(std::move(audible));
    if (soloTimelineInstrument() == instrument)
        setSoloTimelineInstrument(std::nullopt);
    m_audioPlayback.stopTimelinePlayer(instrument);
}

void ProjectStore::soloTimelineInstrumentAudio(AutoBeatInstrument instrument)
{
    assertMainThread();
    if (soloTimelineInstrument() == instrument) {
        setSoloTimelineInstrument(std::nullopt);
        setAudibleTimelineInstruments({});
        m_audioPlayback.stopTimelinePlayers();
        setIsMainAudioMuted(false);
        applyMainAudioVolume(previewTime());
        return;
    }
    if (!canPreviewInstrument(instrument))
        return;
    setIsMainAudioSoloed(false);
    setSoloTimelineInstrument(instrument);
    setIsMainAudioMuted(true);
    applyMainAudioVolume(previewTime());
    setAudibleTimelineInstruments({instrument});
    m_audioPlayback.stopTimelinePlayers();
    if (isPlaying()
        && !m_audioPlayback.startTimelinePlayer(instrument, previewTime(),
                                                [this](AutoBeatInstrument i) { return instrumentPreviewURL(i); }))
        setAudibleTimelineInstruments({});
}

void ProjectStore::setShowInterfaceTooltips(bool shown)
{
    assertMainThread();
    setShowInterfaceTooltipsValue(shown);
    // Written on every call, also when the value is unchanged.
    FotivelaPreferences::shared().setValue("showInterfaceTooltips", PlistValue(shown));
}

void ProjectStore::setAppLanguage(AppLanguage language)
{
    assertMainThread();
    setAppLanguageValue(language);
    AppLanguages::applyRuntimeLocalization(language);
}

} // namespace fotivela
