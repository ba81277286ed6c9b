#pragma once

// Runs the real stem separator as a child process and reads back what it wrote.

#include "support/test_audio.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fotivela::test {

struct SeparatorRun {
    int exitStatus = -1; // -1 when the child did not exit normally
    std::string standardError;
};

// `fileSizeLimit` > 0 caps the size of any file the child writes (a disk that fills up).
SeparatorRun runSeparator(const std::vector<std::string>& arguments, long fileSizeLimit = 0);

// The usual command line: the shipped model, "cpu", the given block length.
std::vector<std::string> separatorArguments(const std::filesystem::path& out, const std::filesystem::path& input,
    const std::string& segment = "7");

const std::vector<std::string>& stemNames();

// A stem file as written: its samples, and whether it is a stereo 32-bit float WAV (plain or
// extensible).
struct StemFile {
    TestSignal signal;
    bool isFloatWav = false;
};
StemFile readStem(const std::filesystem::path& file);

// Every regular file under a folder, relative to it, sorted.
std::vector<std::string> filesUnder(const std::filesystem::path& folder);

double energy(const TestSignal& signal);

} // namespace fotivela::test
