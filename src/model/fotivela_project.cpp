#include "model/fotivela_project.h"

namespace fotivela {

FotivelaProject FotivelaProject::empty()
{
    FotivelaProject project;
    project.id = Uuid::random();
    project.name = "Nuevo video";
    project.createdAt = std::chrono::system_clock::now();
    project.updatedAt = project.createdAt;
    project.format = ProjectFormat::youtube;
    project.fps = 30;
    project.fillPhotosToScreen = false;
    project.backgroundColorHex = "#000000";
    project.aiMusic = AIMusicSettings{};
    project.exportSettings = ExportSettings{};
    return project;
}

FotivelaProject FotivelaProject::lightweightUndoCopy() const
{
    if (!audio)
        return *this;
    // Copy everything but the bulky curves and caches instead of copying and clearing them.
    FotivelaProject copy;
    copy.id = id;
    copy.name = name;
    copy.createdAt = createdAt;
    copy.updatedAt = updatedAt;
    copy.format = format;
    copy.fps = fps;
    copy.fillPhotosToScreen = fillPhotosToScreen;
    copy.backgroundColorHex = backgroundColorHex;
    copy.slides = slides;
    copy.aiMusic = aiMusic;
    copy.exportSettings = exportSettings;

    const AudioTrack& track = *audio;
    AudioTrack light;
    light.url = track.url;
    light.name = track.name;
    light.syncMode = track.syncMode;
    light.fadeIn = track.fadeIn;
    light.fadeOut = track.fadeOut;
    light.cutToSlideshowDuration = track.cutToSlideshowDuration;
    light.cutFadeOutDuration = track.cutFadeOutDuration;
    light.beatSensitivity = track.beatSensitivity;
    light.autoBeatMinimumMarkerSpacing = track.autoBeatMinimumMarkerSpacing;
    light.beatDetectionFocus = track.beatDetectionFocus;
    light.beatsPerBar = track.beatsPerBar;
    light.snapTolerance = track.snapTolerance;
    light.autoBeatTargets = track.autoBeatTargets;
    light.autoBeatInstruments = track.autoBeatInstruments;
    light.beatMarkers = track.beatMarkers;
    light.isAttackWaveformEnabled = track.isAttackWaveformEnabled;
    light.attackMarkerOverrides = track.attackMarkerOverrides;
    light.stemSeparation = track.stemSeparation;
    light.analysisVersion = track.analysisVersion;
    copy.audio = std::move(light);
    return copy;
}

} // namespace fotivela
