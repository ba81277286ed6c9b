#pragma once

namespace fotivela {

// FFmpeg and its encoders print statistics and notes on stderr by default.
// After this call only their errors reach the program's log, one line each.
// Safe to call from any thread, any number of times.
void routeFfmpegLogToLog();

} // namespace fotivela
