#include "platform/ffmpeg_file_input.h"

#include <cerrno>
#include <limits>

#include <unistd.h>

namespace fotivela {

namespace {

constexpr int bufferSize = 64 * 1024;

struct Cursor {
    std::shared_ptr<const RegularFile> file;
    std::int64_t position = 0;
};

int readPacket(void* opaque, std::uint8_t* buffer, int size)
{
    auto& cursor = *static_cast<Cursor*>(opaque);
    for (;;) {
        const ssize_t count = ::pread(cursor.file->descriptor(), buffer, static_cast<std::size_t>(size), cursor.position);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return AVERROR(errno);
        if (count == 0)
            return AVERROR_EOF;
        cursor.position += count;
        return static_cast<int>(count);
    }
}

std::int64_t currentSize(const Cursor& cursor)
{
    // The file may still grow or shrink while it is read: ask, rather than trust the size at opening.
    const off_t end = ::lseek(cursor.file->descriptor(), 0, SEEK_END);
    return end < 0 ? static_cast<std::int64_t>(cursor.file->size()) : static_cast<std::int64_t>(end);
}

std::int64_t seekTo(void* opaque, std::int64_t offset, int whence)
{
    auto& cursor = *static_cast<Cursor*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return currentSize(cursor);
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += cursor.position;
        break;
    case SEEK_END:
        offset += currentSize(cursor);
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    cursor.position = offset;
    return offset;
}

// A song is one file: a playlist or a reference inside it never makes FFmpeg open another
// path, which could be a FIFO or a file the song has no business reading.
int refuseFurtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

void freeReader(AVIOContext* io)
{
    if (io == nullptr)
        return;
    const std::unique_ptr<Cursor> cursor(static_cast<Cursor*>(io->opaque));
    av_freep(&io->buffer);
    avio_context_free(&io);
}

} // namespace

void FileInputDeleter::operator()(AVFormatContext* context) const
{
    if (context == nullptr)
        return;
    // The demuxer may still read through its context while it closes.
    AVIOContext* io = context->pb;
    avformat_close_input(&context);
    freeReader(io);
}

FileInputPtr openFileInput(std::shared_ptr<const RegularFile> file, const std::filesystem::path& name, int& result)
{
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(bufferSize));
    if (buffer == nullptr) {
        result = AVERROR(ENOMEM);
        return nullptr;
    }
    auto cursor = std::make_unique<Cursor>(Cursor{std::move(file), 0});
    AVIOContext* io = avio_alloc_context(buffer, bufferSize, 0, cursor.get(), readPacket, nullptr, seekTo);
    if (io == nullptr) {
        av_free(buffer);
        result = AVERROR(ENOMEM);
        return nullptr;
    }
    cursor.release(); // the reader owns it now
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) {
        freeReader(io);
        result = AVERROR(ENOMEM);
        return nullptr;
    }
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->io_open = refuseFurtherFiles;
    // On failure FFmpeg frees the format context but leaves a reader it did not make.
    result = avformat_open_input(&context, name.c_str(), nullptr, nullptr);
    if (result < 0) {
        freeReader(io);
        return nullptr;
    }
    return FileInputPtr(context);
}

} // namespace fotivela
