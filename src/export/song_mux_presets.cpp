// The song mux's second way, when copying the encoded video beside the song
// failed: the same film written again through the first preset that works.

#include "export/mux_presets.h"
#include "export/song_mux.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "export/video_reencoder.h"

#include <optional>
#include <tuple>

namespace fotivela {

void VideoExporter::exportCompositionWithFallback(const MuxComposition& composition,
                                                  const std::filesystem::path& outputURL) const
{
    MuxPresets::runInOrder(
        MuxPresets::candidates(m_project.exportSettings.codec, composition.fades),
        [&](const MuxPreset& preset) { return MuxPresets::isCompatible(preset, composition); },
        [&](const MuxPreset& preset) { exportComposition(composition, outputURL, preset); });
}

void VideoExporter::exportComposition(const MuxComposition& composition, const std::filesystem::path& outputURL,
                                      const MuxPreset& preset) const
{
    const auto throwIfStopped = [this] { throwIfCancelled(); };
    MuxSound sound;
    sound.song = composition.song;
    std::filesystem::path video = composition.video;
    std::optional<TemporaryMuxFile> reencoded;
    if (preset.passthrough) {
        sound.kind = MuxSound::Kind::copied;
    } else {
        // The export's own encoder settings, with the preset's codec and size.
        VideoEncoderSettings settings = videoSettings(renderSize(m_project), m_project.exportSettings);
        settings.codec = preset.codec;
        settings.preset = encoderPreset(preset.codec, m_project.exportSettings.quality);
        std::tie(settings.width, settings.height) = MuxPresets::fittedSize(preset, composition.width, composition.height);
        settings.fastStart = false;
        settings.lowMemory = static_cast<std::int64_t>(settings.width) * settings.height > std::int64_t{2} * 1920 * 1080;
        reencoded.emplace(TemporaryMuxFile::Kind::video);
        VideoReencoder(composition.video, composition.duration, settings, reencoded->path()).run(throwIfStopped);
        video = reencoded->path();
        sound.kind = MuxSound::Kind::encoded;
        sound.fade = composition.fade;
    }
    writeVideoWithSound(video, sound, composition.duration, outputURL, throwIfStopped);
}

} // namespace fotivela
