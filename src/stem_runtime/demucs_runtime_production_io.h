#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace fotivela::DemucsRuntimeProductionIO {

struct ProcessResult {
    std::int32_t status = 0;
    std::string output; // standard output and error, the first retainedOutputByteLimit bytes
};

// Runs a child process in its own process group and waits for it. The child is killed when the
// thread that started it ends, so it never outlives the program, however the program ended.
// Throws DemucsRuntimeError when the limits are invalid (timeout <= 0, byte limit outside 1...1,048,576), the child cannot
// be launched, the time-out passes or `stop` is requested; the child's process group is
// stopped in the last two cases, within a second.
// The environment is exactly the one given; standard input is empty. Output beyond the limit is
// read and dropped, so the child never blocks on it. A child killed by signal N answers 128 + N.
// periodicCheck, when given, runs about every 100 ms while the child runs; an exception from it
// stops the group and propagates. terminationOperation, when given, runs once after the group
// was stopped early (time-out, stop, failed check). Descendants that still hold the output open
// a second after the child has ended are stopped too. fileSizeLimit, when given, is the largest
// file the child may write (writes past it fail with EFBIG); a lower limit of the program stays.
ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment, double timeout,
    const std::function<void()>& periodicCheck, std::size_t retainedOutputByteLimit,
    const std::function<void()>& terminationOperation, std::stop_token stop = {},
    std::optional<std::uint64_t> fileSizeLimit = std::nullopt);

// The environment of runtime child processes: offline, no telemetry, caches in cacheURL,
// TMPDIR the program's private temporary folder.
std::map<std::string, std::string> offlineEnvironment(const std::filesystem::path& cacheURL);

} // namespace fotivela::DemucsRuntimeProductionIO
