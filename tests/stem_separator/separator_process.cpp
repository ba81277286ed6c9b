#include "separator_process.h"

#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fotivela::test {

namespace fs = std::filesystem;

SeparatorRun runSeparator(const std::vector<std::string>& arguments, long fileSizeLimit)
{
    const fs::path errorFile = fs::temp_directory_path() / ("fotivela-separator-stderr-" + std::to_string(::getpid()));
    std::vector<std::string> argv{FOTIVELA_STEM_SEPARATOR};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0)
            ::_exit(127);
        ::dup2(err, STDERR_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (fileSizeLimit > 0) {
            // Past the limit a write fails with EFBIG, as on a full disk, instead of killing the child.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    SeparatorRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream stream(errorFile);
    std::ostringstream text;
    text << stream.rdbuf();
    run.standardError = text.str();
    fs::remove(errorFile);
    return run;
}

std::vector<std::string> separatorArguments(const fs::path& out, const fs::path& input, const std::string& segment)
{
    return {"-n", "htdemucs", "--repo", FOTIVELA_STEM_MODEL_DIR, "--device", "cpu", "--segment", segment, "--out",
        out.string(), input.string()};
}

const std::vector<std::string>& stemNames()
{
    static const std::vector<std::string> names{"drums.wav", "bass.wav", "vocals.wav", "other.wav"};
    return names;
}

StemFile readStem(const fs::path& file)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (!handle)
        throw std::runtime_error("cannot open " + file.string());
    StemFile stem;
    // Extensible WAV is how a float WAV that may grow into RF64 is written.
    const int container = info.format & SF_FORMAT_TYPEMASK;
    stem.isFloatWav = (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX)
        && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT && info.channels == 2;
    stem.signal.sampleRate = info.samplerate;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    sf_readf_float(handle, interleaved.data(), info.frames);
    sf_close(handle);
    stem.signal.channels.assign(static_cast<std::size_t>(info.channels), std::vector<float>(static_cast<std::size_t>(info.frames)));
    for (std::size_t i = 0; i < static_cast<std::size_t>(info.frames); ++i)
        for (std::size_t c = 0; c < static_cast<std::size_t>(info.channels); ++c)
            stem.signal.channels[c][i] = interleaved[i * static_cast<std::size_t>(info.channels) + c];
    return stem;
}

std::vector<std::string> filesUnder(const fs::path& folder)
{
    std::vector<std::string> files;
    if (!fs::exists(folder))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            files.push_back(fs::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

double energy(const TestSignal& signal)
{
    double total = 0;
    for (const auto& channel : signal.channels)
        for (const float sample : channel)
            total += static_cast<double>(sample) * sample;
    return total;
}

} // namespace fotivela::test
