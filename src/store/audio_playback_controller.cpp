#include "store/audio_playback_controller.h"

#include "platform/audio_output.h"
#include "store/timeline_audio_transport_rules.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

double AudioPlaybackController::prepareMainPlayer(const std::filesystem::path& url, float volume)
{
    if (!mainPlayer)
        mainPlayer = AudioPlayer::open(url);
    if (!mainPlayer)
        return 0.0;
    mainPlayer->setVolume(volume);
    mainPlayer->prepareToPlay();
    if (!m_output)
        m_output = AudioOutput::shared();
    return mainPlayer->duration();
}

void AudioPlaybackController::primeMainPlayer()
{
    if (!mainPlayer || mainPlayer->isPlaying())
        return;
    const double time = mainPlayer->currentTime();
    const float volume = mainPlayer->volume();
    mainPlayer->setVolume(0.0f);
    mainPlayer->setCurrentTime(std::min(mainPlayer->duration(), time));
    if (!mainPlayer->play()) {
        mainPlayer->setVolume(volume);
        return;
    }
    mainPlayer->pause();
    mainPlayer->setCurrentTime(time);
    mainPlayer->setVolume(volume);
    mainPlayer->prepareToPlay();
}

bool AudioPlaybackController::startTimelinePlayer(AutoBeatInstrument instrument, double time,
    const URLForInstrument& urlForInstrument)
{
    const std::optional<std::filesystem::path> url = urlForInstrument ? urlForInstrument(instrument) : std::nullopt;
    if (!url)
        return false; // the instrument's current player, if any, keeps going
    std::unique_ptr<AudioPlayer> player = AudioPlayer::open(*url);
    if (!player) {
        timelineInstrumentPlayers.erase(instrument);
        return false;
    }
    player->prepareToPlay();
    // While the song plays, its own place is the timeline's time, to the sample.
    AudioPlayer* leader = mainPlayer && mainPlayer->isPlaying() ? mainPlayer.get() : nullptr;
    const std::optional<double> start =
        TimelineAudioTransportRules::mainAudioStartTime(leader ? leader->currentTime() : time, player->duration());
    if (!start) {
        player->stop();
        stopTimelinePlayer(instrument);
        return true;
    }
    player->setVolume(1.0f);
    if (leader) {
        player->playInStepWith(*leader);
    } else {
        player->setCurrentTime(*start);
        player->play();
    }
    timelineInstrumentPlayers[instrument] = std::move(player); // the earlier player falls silent here
    return true;
}

std::set<AutoBeatInstrument> AudioPlaybackController::startTimelinePlayers(
    const std::set<AutoBeatInstrument>& instruments, double time, const URLForInstrument& urlForInstrument)
{
    std::set<AutoBeatInstrument> failed;
    for (const AutoBeatInstrument instrument : instruments)
        if (!startTimelinePlayer(instrument, time, urlForInstrument))
            failed.insert(instrument);
    return failed;
}

void AudioPlaybackController::seekTimelinePlayers(double time)
{
    if (std::isnan(time))
        return; // no place to go: the players stay where they are
    AudioPlayer* leader = mainPlayer && mainPlayer->isPlaying() ? mainPlayer.get() : nullptr;
    for (auto& [instrument, player] : timelineInstrumentPlayers) {
        // A playing instrument joins the song again where the song now is.
        if (leader && player->isPlaying() && time < player->duration())
            player->playInStepWith(*leader);
        else
            player->setCurrentTime(std::min(player->duration(), time));
    }
}

void AudioPlaybackController::pauseTimelinePlayers()
{
    for (auto& [instrument, player] : timelineInstrumentPlayers)
        player->pause();
}

void AudioPlaybackController::stopTimelinePlayers()
{
    for (auto& [instrument, player] : timelineInstrumentPlayers)
        player->stop();
    timelineInstrumentPlayers.clear();
}

void AudioPlaybackController::stopTimelinePlayer(AutoBeatInstrument instrument)
{
    const auto found = timelineInstrumentPlayers.find(instrument);
    if (found == timelineInstrumentPlayers.end())
        return;
    found->second->stop();
    timelineInstrumentPlayers.erase(found);
}

} // namespace fotivela
