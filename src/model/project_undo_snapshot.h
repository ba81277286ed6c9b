#pragma once

#include "model/app_route.h"
#include "model/auto_beat_instrument.h"
#include "model/beat_marker.h"
#include "model/editor_tab.h"
#include "model/fotivela_project.h"
#include "platform/uuid.h"

#include <filesystem>
#include <optional>
#include <set>
#include <vector>

namespace fotivela {

// One undo step: the project (as its light copy) and the editor state that
// must come back with it. The store fills it from its own state.
struct ProjectUndoSnapshot {
    FotivelaProject project;
    AppRoute route = AppRoute::home;
    std::optional<Uuid> selectedSlideID;
    std::set<Uuid> timelineSelection;
    EditorTab activeTab = EditorTab::photos;
    double previewTime = 0.0;
    double playbackDuration = 0.0;
    double audioDuration = 0.0;
    std::vector<double> audioWaveform;
    std::vector<double> audioBeatTimes;
    std::vector<BeatMarker> audioBeatMarkers;
    std::vector<BeatMarker> attackBeatMarkers;
    bool isAttackWaveformEnabled = false;
    std::optional<Uuid> selectedBeatMarkerID;
    double totalDuration = 0.0;
    std::set<AutoBeatInstrument> visibleStemWaveformInstruments;
    std::optional<std::filesystem::path> currentProjectURL;

    friend bool operator==(const ProjectUndoSnapshot&, const ProjectUndoSnapshot&) = default;
};

} // namespace fotivela
