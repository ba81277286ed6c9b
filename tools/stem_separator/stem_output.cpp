#include "stem_output.h"

#include "separation_error.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace fotivela::stem_separator {

namespace fs = std::filesystem;

const char* stemFileName(Stem stem)
{
    switch (stem) {
    case Stem::drums: return "drums.wav";
    case Stem::bass: return "bass.wav";
    case Stem::vocals: return "vocals.wav";
    case Stem::other: return "other.wav";
    }
    return "other.wav";
}

namespace {

[[noreturn]] void writeFailed(const std::string& detail)
{
    throw SeparationError("No se pudieron escribir los instrumentos separados: " + detail + ".");
}

std::string errnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

} // namespace

StemOutput::StemOutput(fs::path folder, int sampleRate) : m_folder(std::move(folder))
{
    try {
        // Remember which folders this run makes, so that a failure takes them away again.
        for (fs::path missing = m_folder; !missing.empty() && !fs::exists(missing); missing = missing.parent_path()) {
            m_createdFolders.push_back(missing);
            if (missing == missing.parent_path())
                break;
        }
        std::error_code error;
        fs::create_directories(m_folder, error);
        if (error)
            writeFailed(m_folder.string() + ": " + error.message());

        const std::string suffix = ".partial-" + std::to_string(::getpid());
        for (int i = 0; i < stemCount; ++i) {
            // Hidden and suffixed: never taken for a stem. Appended piece by piece, which
            // spares GCC 12's false overflow warning on "." + string.
            std::string name(1, '.');
            name += stemFileName(static_cast<Stem>(i));
            name += suffix;
            m_temporaryFiles[static_cast<std::size_t>(i)] = m_folder / name;
            SF_INFO info{};
            info.samplerate = sampleRate;
            info.channels = 2;
            // A WAV's sizes are 32-bit: past 4 GiB (3 h 22 min of stereo float at 44.1 kHz) they
            // wrap and readers stop short. RF64 holds any length and is written as a plain WAV
            // whenever the stem fits in one.
            info.format = SF_FORMAT_RF64 | SF_FORMAT_FLOAT;
            errno = 0;
            SNDFILE* file = sf_open(m_temporaryFiles[static_cast<std::size_t>(i)].c_str(), SFM_WRITE, &info);
            if (!file)
                writeFailed(m_temporaryFiles[static_cast<std::size_t>(i)].filename().string() + ": " + sf_strerror(nullptr));
            m_files[static_cast<std::size_t>(i)] = file;
            sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
        }
    } catch (...) {
        rollback();
        throw;
    }
}

StemOutput::~StemOutput()
{
    if (!m_committed)
        rollback();
}

void StemOutput::write(Stem stem, const float* left, const float* right, std::size_t frames)
{
    m_interleaved.resize(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        m_interleaved[2 * i] = left[i];
        m_interleaved[2 * i + 1] = right[i];
    }
    SNDFILE* file = m_files[static_cast<std::size_t>(stem)];
    errno = 0;
    const sf_count_t written = sf_writef_float(file, m_interleaved.data(), static_cast<sf_count_t>(frames));
    if (written != static_cast<sf_count_t>(frames)) {
        const int error = errno;
        writeFailed(std::string(stemFileName(stem)) + ": " + (error ? errnoText(error) : sf_strerror(file)));
    }
}

void StemOutput::commit()
{
    try {
        for (int i = 0; i < stemCount; ++i) {
            SNDFILE*& file = m_files[static_cast<std::size_t>(i)];
            sf_write_sync(file);
            const int status = sf_close(file);
            file = nullptr;
            if (status != 0)
                writeFailed(std::string(stemFileName(static_cast<Stem>(i))) + ": " + sf_error_number(status));
        }
        for (int i = 0; i < stemCount; ++i) {
            const fs::path target = m_folder / stemFileName(static_cast<Stem>(i));
            std::error_code error;
            fs::rename(m_temporaryFiles[static_cast<std::size_t>(i)], target, error);
            if (error)
                writeFailed(target.filename().string() + ": " + error.message());
            m_committedFiles.push_back(target);
        }
        m_committed = true;
    } catch (...) {
        rollback();
        throw;
    }
}

void StemOutput::rollback() noexcept
{
    for (SNDFILE*& file : m_files) {
        if (file)
            sf_close(file);
        file = nullptr;
    }
    std::error_code ignored;
    for (const fs::path& file : m_temporaryFiles)
        if (!file.empty())
            fs::remove(file, ignored);
    // A half-renamed set is no set: the stems renamed so far go too.
    for (const fs::path& file : m_committedFiles)
        fs::remove(file, ignored);
    m_committedFiles.clear();
    // Only folders this run made, and only while empty.
    for (const fs::path& folder : m_createdFolders)
        fs::remove(folder, ignored);
}

} // namespace fotivela::stem_separator
