#pragma once

#include "platform/ffmpeg_handles.h"

#include <QImage>

#include <cstddef>
#include <vector>

namespace fotivela {

// Turns drawn frames (QImage::Format_RGB32) into BT.709 video-range 4:2:0,
// the matrix the file's colour tags name; each chroma sample is the mean of
// its 2 × 2 pixels.
class Bt709FrameConverter {
public:
    Bt709FrameConverter(int width, int height);

    // A new reference to the converted picture. The converter never writes
    // over a picture still held elsewhere: it takes one of its pictures nobody
    // holds any more, or new memory.
    FramePtr convert(const QImage& image);

private:
    // Pictures kept for reuse: a new 4K one costs the system 12 MB of fresh
    // zeroed pages on every frame.
    static constexpr std::size_t keptFrames = 8;

    AVFrame* writableFrame();

    int m_width;
    int m_height;
    std::vector<FramePtr> m_frames;
};

// The conversion itself, for a picture of at least width × height pixels.
void convertToBt709(const QImage& image, AVFrame& frame);

} // namespace fotivela
