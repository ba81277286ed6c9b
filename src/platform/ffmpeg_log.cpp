#include "platform/ffmpeg_log.h"

#include "platform/log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>
#include <string>

namespace fotivela {

namespace {

void forwardErrors(void* context, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[1024];
    int printPrefix = 1;
    if (av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix) < 0)
        return;
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!text.empty())
        logLine("FFmpeg: " + text);
}

} // namespace

void routeFfmpegLogToLog()
{
    static std::once_flag routed;
    std::call_once(routed, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(forwardErrors);
    });
}

} // namespace fotivela
