#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace fotivela::stem_separator {

enum class Stem { drums, bass, vocals, other };
constexpr int stemCount = 4;
const char* stemFileName(Stem stem);

// The four stem files of one run, written as stereo 32-bit float WAV (RF64 past 4 GiB) under
// temporary names in the stem folder and renamed into place only when all four
// are complete. Destroyed without commit() (an error on the way), it removes
// every file and folder it made, so a failed run leaves no partial stem.
class StemOutput {
public:
    StemOutput(std::filesystem::path folder, int sampleRate);
    ~StemOutput();
    StemOutput(const StemOutput&) = delete;
    StemOutput& operator=(const StemOutput&) = delete;

    // Appends frames to one stem; left and right hold `frames` samples each.
    void write(Stem stem, const float* left, const float* right, std::size_t frames);
    // Closes the four files and renames them into place. Throws SeparationError.
    void commit();

private:
    void rollback() noexcept;

    std::filesystem::path m_folder;
    std::vector<std::filesystem::path> m_createdFolders; // deepest first
    std::array<std::filesystem::path, stemCount> m_temporaryFiles;
    std::array<SNDFILE*, stemCount> m_files{};
    std::vector<std::filesystem::path> m_committedFiles;
    std::vector<float> m_interleaved;
    bool m_committed = false;
};

} // namespace fotivela::stem_separator
