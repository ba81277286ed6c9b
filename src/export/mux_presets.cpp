#include "export/mux_presets.h"

#include "export/song_mux.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "platform/log.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>

namespace fotivela::MuxPresets {

namespace {

MuxPreset reencoded(std::string name, ExportCodec codec, int longSide = 0, int shortSide = 0)
{
    return {std::move(name), false, codec, longSide, shortSide};
}

bool mp4Carries(AVCodecID codec)
{
    static const AVOutputFormat* const mp4 = av_guess_format("mp4", nullptr, nullptr);
    return mp4 != nullptr && codec != AV_CODEC_ID_NONE &&
           avformat_query_codec(mp4, codec, FF_COMPLIANCE_NORMAL) == 1;
}

// What a failed candidate's line says: our errors' own cause, else the library's words.
std::string reason(const std::exception& failure)
{
    std::string text;
    if (const auto* ours = dynamic_cast<const VideoExporterError*>(&failure))
        text = ours->detail().value_or(VideoExporterError::sentence(ours->kind()));
    else
        text = failure.what();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

} // namespace

std::vector<MuxPreset> candidates(ExportCodec codec, bool fades)
{
    std::vector<MuxPreset> list;
    if (!fades)
        list.push_back({"Passthrough", true, codec, 0, 0});
    if (codec == ExportCodec::h265) {
        list.push_back(reencoded("HEVCHighestQuality", ExportCodec::h265));
        list.push_back(reencoded("HEVC3840x2160", ExportCodec::h265, 3840, 2160));
        list.push_back(reencoded("HEVC1920x1080", ExportCodec::h265, 1920, 1080));
    }
    list.push_back(reencoded("HighestQuality", ExportCodec::h264));
    list.push_back(reencoded("1920x1080", ExportCodec::h264, 1920, 1080));
    return list;
}

std::pair<int, int> fittedSize(const MuxPreset& preset, int width, int height)
{
    double scale = 1.0;
    if (preset.longSide > 0 && preset.shortSide > 0 && width > 0 && height > 0) {
        const bool landscape = width >= height;
        const double boxWidth = landscape ? preset.longSide : preset.shortSide;
        const double boxHeight = landscape ? preset.shortSide : preset.longSide;
        scale = std::min({1.0, boxWidth / width, boxHeight / height});
    }
    const auto even = [scale](int side) {
        return std::max(2, static_cast<int>(std::floor(side * scale + 1e-9)) & ~1);
    };
    return {even(width), even(height)};
}

bool isCompatible(const MuxPreset& preset, const MuxComposition& composition)
{
    if (preset.passthrough)
        return mp4Carries(composition.videoCodec) && mp4Carries(composition.songCodec);
    return avcodec_find_decoder(composition.videoCodec) != nullptr &&
           avcodec_find_encoder_by_name(VideoEncoder::encoderName(preset.codec)) != nullptr;
}

void runInOrder(const std::vector<MuxPreset>& candidates, const std::function<bool(const MuxPreset&)>& compatible,
                const std::function<void(const MuxPreset&)>& run)
{
    std::string lines;
    bool tried = false;
    for (const MuxPreset& preset : candidates) {
        if (!compatible(preset))
            continue;
        tried = true;
        try {
            run(preset);
            return;
        } catch (const ExportCancelledError&) {
            throw;
        } catch (const std::exception& failure) {
            const std::string line = preset.name + ": " + reason(failure);
            logLine("Fotivela song mux: " + line);
            lines += (lines.empty() ? "" : "\n") + line;
        }
    }
    throw VideoExporterError::audioMuxFailed(tried ? lines : "No hay preset compatible para mezclar audio.");
}

} // namespace fotivela::MuxPresets
