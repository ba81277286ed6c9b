#include "export/small_exports.h"

#include "platform/uuid.h"
#include "support/test_images.h"

namespace fotivela::test {

FotivelaProject onePhotoProject(const std::filesystem::path& folder, double seconds)
{
    const std::filesystem::path photo = folder / "photo.png";
    writeImage(photo, makeTwoToneImage(64, 48, Qt::red, Qt::blue), "PNG");
    FotivelaProject project = FotivelaProject::empty();
    project.fps = 10;
    project.exportSettings.quality = ExportQuality::quick;
    project.exportSettings.codec = ExportCodec::h264;
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = photo;
    slide.duration = seconds;
    project.slides = {slide};
    return project;
}

VideoEncoderSettings squareH264Settings(int side, std::int64_t averageBitRate, int maxKeyFrameInterval)
{
    VideoEncoderSettings settings;
    settings.codec = ExportCodec::h264;
    settings.width = side;
    settings.height = side;
    settings.averageBitRate = averageBitRate;
    settings.framesPerSecond = 10;
    settings.maxKeyFrameInterval = maxKeyFrameInterval;
    return settings;
}

} // namespace fotivela::test
