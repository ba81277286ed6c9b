#pragma once

#include "model/auto_beat_instrument.h"
#include "platform/audio_player.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace fotivela {

// The store's audio output: the song's player and one player per instrument
// made audible on the timeline. Main thread only. The store drives mainPlayer
// (play, pause, seek, volume, clock) itself and drops it to get a fresh one.
class AudioPlaybackController {
public:
    using URLForInstrument = std::function<std::optional<std::filesystem::path>(AutoBeatInstrument)>;

    AudioPlaybackController() = default;
    AudioPlaybackController(const AudioPlaybackController&) = delete;
    AudioPlaybackController& operator=(const AudioPlaybackController&) = delete;

    std::unique_ptr<AudioPlayer> mainPlayer;
    std::map<AutoBeatInstrument, std::unique_ptr<AudioPlayer>> timelineInstrumentPlayers;

    // Makes the main player when there is none (a file that cannot be played
    // leaves none); sets the volume and prepares it. The duration, 0 without a player.
    double prepareMainPlayer(const std::filesystem::path& url, float volume);
    // Plays a paused main player for an instant at volume 0, so that the first
    // real start is quick; position and volume come back as they were.
    void primeMainPlayer();

    // Starts a fresh player per instrument at the timeline time; returns the
    // instruments that have no file or whose file cannot be played.
    std::set<AutoBeatInstrument> startTimelinePlayers(const std::set<AutoBeatInstrument>& instruments, double time,
        const URLForInstrument& urlForInstrument);
    // The same for one; true when the instrument has audio that opened (even if
    // the time lies past its end and nothing plays).
    bool startTimelinePlayer(AutoBeatInstrument instrument, double time, const URLForInstrument& urlForInstrument);

    void seekTimelinePlayers(double time);
    void pauseTimelinePlayers();
    void stopTimelinePlayers();
    void stopTimelinePlayer(AutoBeatInstrument instrument);

private:
    // Once a song has played, the output stays open, so that replacing the song
    // does not close and reopen the sound device.
    std::shared_ptr<AudioOutput> m_output;
};

} // namespace fotivela
