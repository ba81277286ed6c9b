#include "analysis/stem_separation_service.h"
#include "model/separation_work_folder.h"
#include "platform/audio_file_reader.h"

#include "support/test_audio.h"
#include "support/test_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

namespace Stems = StemSeparationService;

constexpr const char* version = "test-1";

std::string readText(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fs::path> entries(const fs::path& folder)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        found.push_back(entry.path().filename());
    return found;
}

// A project folder with its song, and runtimes made of small shell scripts: each
// records its arguments and then does what the test asks of it.
class StemService : public ::testing::Test {
protected:
    AudioTestFolder m_folder{"fotivela-stem-service"};
    fs::path m_project = m_folder / "Viaje" / "Viaje.fotivela";
    fs::path m_stemsRoot = m_folder / "Viaje" / "AI" / "Stems";
    fs::path m_song;
    fs::path m_stemSource;

    void SetUp() override
    {
        fs::create_directories(m_project.parent_path());
        TestSignal song = makeSilence(1.0);
        addDrumHits(song, {0.25, 0.5, 0.75});
        m_song = writeAudioFile(m_folder.path(), "la.cancion", song, TestAudioFormat::wav16);
        // What the scripts write as every stem: a drum-like 16-bit stereo WAV.
        m_stemSource = writeAudioFile(m_folder.path(), "stem-source", song, TestAudioFormat::wav16);
    }

    // The script gets the runtime's command line: $10 the output folder, $11 the input.
    DemucsRuntimeHandle scriptRuntime(const std::string& body)
    {
        const fs::path script = m_folder / ("runtime-" + std::to_string(++m_scripts) + ".sh");
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "printf '%s\\n' \"$@\" > '" << (m_folder / "arguments.txt").string() << "'\n"
            << "f=${11##*/}; dir=\"${10}/htdemucs/${f%.*}\"\n"
            << body << "\n";
        out.close();
        fs::permissions(script, fs::perms::owner_all);
        return DemucsRuntimeHandle{script, m_folder / "model", "htdemucs", version, m_folder / "cache"};
    }
    // A runtime that writes the named stems as 16-bit WAV files.
    DemucsRuntimeHandle writingRuntime(const std::vector<std::string>& stems, const std::string& extra = "")
    {
        std::string body = "/bin/mkdir -p \"$dir\"\n";
        for (const std::string& stem : stems)
            body += "/bin/cp '" + m_stemSource.string() + "' \"$dir/" + stem + ".wav\"\n";
        return scriptRuntime(body + extra);
    }

    Stems::RuntimeProvider provide(const DemucsRuntimeHandle& handle)
    {
        return [this, handle](std::stop_token) {
            ++m_runtimeRequests;
            return handle;
        };
    }

    StemSeparationResult prepare(const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& state,
                                 const Stems::RuntimeProvider& runtime, std::stop_token stop = {})
    {
        return Stems::prepareSources(m_song, m_project, instruments, state, stop, runtime);
    }

    // A finished stem set as a separation leaves it, in AI/Stems/<folder>.
    fs::path handMadeStemSet(const std::string& folder, const std::vector<std::string>& stems)
    {
        const fs::path stemFolder = m_stemsRoot / folder / "htdemucs" / "la.cancion";
        fs::create_directories(stemFolder);
        for (const std::string& stem : stems)
            fs::copy_file(m_stemSource, stemFolder / (stem + ".wav"));
        return stemFolder;
    }

    bool noWorkFolderLeft() const
    {
        for (const fs::path& name : entries(m_stemsRoot))
            if (name.string().starts_with(".separation-"))
                return false;
        return true;
    }

    int m_scripts = 0;
    std::atomic<int> m_runtimeRequests = 0;
};

void expectFallback(const StemSeparationResult& result, const std::string& message, const std::string& signature)
{
    EXPECT_TRUE(result.usesFallback);
    EXPECT_TRUE(result.sources.empty());
    EXPECT_EQ(result.state.engine, StemSeparationEngine::fallbackMix);
    EXPECT_FALSE(result.state.cacheDirectory);
    EXPECT_TRUE(result.state.stems.empty());
    EXPECT_EQ(result.state.sourceSignature, signature);
    EXPECT_EQ(result.state.message, message);
}

} // namespace

TEST(StemServiceRules, CacheIdSignatureAndStemFolders)
{
    EXPECT_EQ(Stems::sanitizedCacheID(""), "CBF29CE484222325");
    EXPECT_EQ(Stems::sanitizedCacheID("a"), "AF63DC4C8601EC8C");
    // No leading zeros.
    EXPECT_EQ(Stems::sanitizedCacheID("aa"), "89C4307B54596B7");

    AudioTestFolder folder;
    const fs::path song = writeAudioFile(folder.path(), "tema", makeSilence(0.1), TestAudioFormat::wav16);
    const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, song.c_str(), times, 0), 0);
    EXPECT_EQ(Stems::signature(song), song.string() + "|" + std::to_string(fs::file_size(song)) + "|1700000000.0");
    EXPECT_EQ(Stems::signature(folder / "missing.mp3"), (folder / "missing.mp3").string() + "|0|0.0");

    // Only the last extension goes; without that folder the first folder inside "htdemucs" is taken.
    const fs::path dotted = folder / "mi.tema.final.mp3";
    fs::create_directories(folder / "out" / "htdemucs" / "mi.tema.final");
    EXPECT_EQ(Stems::demucsStemDirectory(folder / "out", dotted), folder / "out" / "htdemucs" / "mi.tema.final");
    fs::create_directories(folder / "other" / "htdemucs" / "otro");
    writeTextFile(folder / "other" / "htdemucs" / "a-file", "x");
    EXPECT_EQ(Stems::demucsStemDirectory(folder / "other", dotted), folder / "other" / "htdemucs" / "otro");
    EXPECT_THROW(Stems::demucsStemDirectory(folder / "none", dotted), fs::filesystem_error);

    // FLAC before WAV.
    const fs::path stems = folder / "stems";
    fs::create_directories(stems);
    for (const char* name : {"drums.wav", "drums.flac", "bass.wav", "other.flac"})
        writeTextFile(stems / name, "x");
    const std::map<AudioStem, fs::path> found = Stems::collectStems(stems);
    EXPECT_EQ(found, (std::map<AudioStem, fs::path>{
                         {AudioStem::drums, stems / "drums.flac"},
                         {AudioStem::bass, stems / "bass.wav"},
                         {AudioStem::other, stems / "other.flac"},
                     }));
}

TEST_F(StemService, StoredStateIsReusedWithoutTheRuntime)
{
    const fs::path stemFolder = handMadeStemSet("STORED", {"drums", "bass", "vocals", "other"});
    StemSeparationState state;
    state.engine = StemSeparationEngine::demucs;
    state.sourceSignature = Stems::signature(m_song);
    state.cacheDirectory = stemFolder;
    for (const auto& [stem, name] : std::map<AudioStem, std::string>{
             {AudioStem::drums, "drums"}, {AudioStem::bass, "bass"}, {AudioStem::vocals, "vocals"}, {AudioStem::other, "other"}})
        state.stems[stem] = stemFolder / (name + ".wav");
    state.message = "guardado";
    const auto noRuntime = [this](std::stop_token) -> DemucsRuntimeHandle {
        ++m_runtimeRequests;
        throw DemucsRuntimeError("no");
    };

    // Kick and cymbals need only the drum stem; the filtered parts are made beside it.
    const StemSeparationResult drums = prepare({AutoBeatInstrument::kick, AutoBeatInstrument::cymbalHats}, state, noRuntime);
    EXPECT_EQ(m_runtimeRequests, 0);
    EXPECT_FALSE(drums.usesFallback);
    ASSERT_EQ(drums.sources.size(), 1u);
    EXPECT_EQ(drums.sources.at(AutoBeatInstrument::drums).analysisURL, stemFolder / "drums.wav");
    EXPECT_EQ(drums.state.message, "guardado");
    EXPECT_EQ(drums.state.instrumentPreviewURLs.at(AutoBeatInstrument::kick),
              stemFolder / "instrument-previews" / "kick-filtered-v2.wav");
    EXPECT_EQ(AudioFileReader::formatOf(stemFolder / "instrument-previews" / "cymbal-hats-filtered-v2.wav").channelCount, 2);
    EXPECT_TRUE(fs::exists(stemFolder / "instrument-previews" / "clap-snare-filtered-v2.wav"));
    EXPECT_EQ(drums.state.instrumentPreviewURLs.at(AutoBeatInstrument::bass), stemFolder / "bass.wav");

    const StemSeparationResult bass = prepare({AutoBeatInstrument::kick, AutoBeatInstrument::bass}, state, noRuntime);
    ASSERT_EQ(bass.sources.size(), 1u);
    EXPECT_TRUE(bass.sources.contains(AutoBeatInstrument::bass));

    // A state naming a folder outside the project's stems, or missing a stem the
    // instruments need, is not trusted: the runtime is asked for.
    StemSeparationState outside = state;
    fs::create_directories(m_folder / "elsewhere");
    fs::copy(stemFolder, m_folder / "elsewhere" / "la.cancion", fs::copy_options::recursive);
    outside.cacheDirectory = m_folder / "elsewhere" / "la.cancion";
    for (auto& [stem, file] : outside.stems)
        file = *outside.cacheDirectory / file.filename();
    expectFallback(prepare({AutoBeatInstrument::drums}, outside, noRuntime), "No se pudo preparar Demucs: no",
                   Stems::signature(m_song));
    StemSeparationState lacking = state;
    fs::remove(stemFolder / "vocals.wav");
    EXPECT_TRUE(prepare({AutoBeatInstrument::bass}, lacking, noRuntime).sources.contains(AutoBeatInstrument::bass));
    EXPECT_EQ(m_runtimeRequests, 1);
    EXPECT_TRUE(prepare({AutoBeatInstrument::vocals}, lacking, noRuntime).usesFallback);
    EXPECT_EQ(m_runtimeRequests, 2);
}

TEST_F(StemService, SeparationRunsOnceAndItsCacheFolderIsFoundAgain)
{
    const DemucsRuntimeHandle runtime =
        writingRuntime({"drums", "bass", "vocals", "other"}, "/bin/touch '" + (m_folder / "ran").string() + "'");
    const StemSeparationResult first = prepare({AutoBeatInstrument::drums, AutoBeatInstrument::vocals}, {}, provide(runtime));
    ASSERT_FALSE(first.usesFallback) << first.state.message;
    EXPECT_EQ(first.state.message,
              "Stems reales preparados con Demucs; bateria usa filtros internos para bombo/caja/platillos");
    ASSERT_TRUE(first.separationSeconds);

    const std::string id = Stems::sanitizedCacheID(Stems::signature(m_song) + "|" + version);
    const fs::path stemFolder = m_stemsRoot / id / "htdemucs" / "la.cancion";
    EXPECT_EQ(first.state.cacheDirectory, stemFolder);
    EXPECT_EQ(first.state.sourceSignature, Stems::signature(m_song));
    // The 16-bit stems were stored losslessly as FLAC.
    EXPECT_EQ(first.state.stems.at(AudioStem::vocals), stemFolder / "vocals.flac");
    EXPECT_FALSE(fs::exists(stemFolder / "vocals.wav"));
    EXPECT_EQ(first.sources.at(AutoBeatInstrument::vocals),
              (StemSource{AutoBeatInstrument::vocals, stemFolder / "vocals.flac", stemFolder / "vocals.flac",
                          StemSeparationEngine::demucs}));
    std::vector<std::string> arguments;
    std::istringstream lines(readText(m_folder / "arguments.txt"));
    for (std::string line; std::getline(lines, line);)
        arguments.push_back(line);
    ASSERT_EQ(arguments.size(), 11u);
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.begin() + 9),
              (std::vector<std::string>{"-n", "htdemucs", "--repo", (m_folder / "model").string(), "--device", "cpu",
                                        "--segment", "7", "--out"}));
    EXPECT_TRUE(arguments[9].starts_with((m_stemsRoot / ".separation-").string())) << arguments[9];
    EXPECT_EQ(arguments[10], m_song.string());
    EXPECT_TRUE(noWorkFolderLeft());

    // The stored state lost, the same song and runtime: the folder is reused without a run.
    fs::remove(m_folder / "ran");
    const StemSeparationResult again = prepare({AutoBeatInstrument::bass}, {}, provide(runtime));
    EXPECT_FALSE(again.usesFallback);
    EXPECT_EQ(again.state.message, "Stems reales recuperados de cache Demucs");
    EXPECT_FALSE(again.separationSeconds);
    EXPECT_FALSE(fs::exists(m_folder / "ran"));
    EXPECT_EQ(again.state.cacheDirectory, stemFolder);

    // A cache folder without the stem now needed: a new run beside it, the old one stays.
    fs::remove(stemFolder / "other.flac");
    const StemSeparationResult beside = prepare({AutoBeatInstrument::other}, {}, provide(runtime));
    ASSERT_FALSE(beside.usesFallback) << beside.state.message;
    EXPECT_TRUE(fs::exists(m_folder / "ran"));
    const std::string besideFolder = beside.state.cacheDirectory->parent_path().parent_path().filename().string();
    EXPECT_TRUE(besideFolder.starts_with(id + "-")) << besideFolder;
    EXPECT_EQ(besideFolder.size(), id.size() + 1 + 36);
    EXPECT_TRUE(fs::exists(stemFolder / "drums.flac"));
}

TEST_F(StemService, FailureRowsGiveTheirTextAndTheFallback)
{
    const std::string signature = Stems::signature(m_song);
    const auto failingRuntime = [](std::stop_token) -> DemucsRuntimeHandle {
        throw DemucsRuntimeError("El paquete del motor está dañado.");
    };
    expectFallback(prepare({AutoBeatInstrument::drums}, {}, failingRuntime),
                   "No se pudo preparar Demucs: El paquete del motor está dañado.", signature);

    expectFallback(prepare({AutoBeatInstrument::drums}, {}, provide(scriptRuntime("exit 1"))),
                   "No se pudo separar con Demucs (1). Reintenta o revisa el motor de ondas separadas.", signature);

    const std::string detail(500, 'e');
    expectFallback(prepare({AutoBeatInstrument::drums}, {}, provide(scriptRuntime("printf '" + detail + "' >&2; exit 3"))),
                   "No se pudo separar con Demucs (3). " + detail.substr(0, 220), signature);

    expectFallback(prepare({AutoBeatInstrument::drums}, {}, provide(writingRuntime({"drums", "bass", "vocals"}))),
                   "No se pudo separar con Demucs (-1). Faltan instrumentos", signature);

    // A runtime that wrote its stems elsewhere: no stem folder.
    expectFallback(prepare({AutoBeatInstrument::drums}, {}, provide(scriptRuntime("exit 0"))),
                   "No se pudo separar con Demucs. Revisa que el motor de ondas separadas esté disponible.", signature);
    EXPECT_TRUE(noWorkFolderLeft());
    EXPECT_EQ(entries(m_stemsRoot).size(), 0u);
}

TEST_F(StemService, WorkFoldersOfEndedRunsAreSweptAndTheRunningOneIsHeld)
{
    // What a separation killed with its program leaves: half-written stems in a work folder.
    const fs::path leftover = m_stemsRoot / ".separation-0B3E3C1A-64C4-4D4B-9A0D-6E1B1F1E2A11";
    fs::create_directories(leftover / "htdemucs" / "la.cancion");
    std::ofstream(leftover / "htdemucs" / "la.cancion" / ".drums.wav.partial-1") << "half";

    // The runtime waits for the test, which sweeps meanwhile as a save or another run would.
    const fs::path started = m_folder / "started";
    const fs::path release = m_folder / "release";
    const DemucsRuntimeHandle runtime = writingRuntime({"drums", "bass", "vocals", "other"},
        "/bin/touch '" + started.string() + "'; while [ ! -e '" + release.string() + "' ]; do /bin/sleep 0.05; done");
    std::vector<fs::path> sweptWhileRunning;
    bool runningFolderStayed = false;
    bool leftoverGoneAtStart = false;
    std::thread sweeper([&] {
        for (int i = 0; i < 1200 && !fs::exists(started); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        leftoverGoneAtStart = !fs::exists(leftover);
        sweptWhileRunning = SeparationWorkFolder::sweepAbandoned(m_stemsRoot);
        runningFolderStayed = !noWorkFolderLeft();
        std::ofstream(release) << "";
    });
    const StemSeparationResult result = prepare({AutoBeatInstrument::drums}, {}, provide(runtime));
    sweeper.join();
    EXPECT_FALSE(result.usesFallback) << result.state.message;
    EXPECT_TRUE(leftoverGoneAtStart);
    EXPECT_TRUE(sweptWhileRunning.empty());
    EXPECT_TRUE(runningFolderStayed);
    EXPECT_TRUE(noWorkFolderLeft());
}

TEST_F(StemService, CancelStopsTheChildProcessGroupAtOnce)
{
    // The script starts a grandchild that sleeps: the whole group must go.
    const fs::path pids = m_folder / "pids.txt";
    const DemucsRuntimeHandle runtime = scriptRuntime("/bin/sleep 60 & echo $$ $! > '" + pids.string() + "'; wait");
    std::stop_source stop;
    std::thread canceller([&] {
        for (int i = 0; i < 200 && !fs::exists(pids); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    const StemSeparationResult result = prepare({AutoBeatInstrument::drums}, {}, provide(runtime), stop.get_token());
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    expectFallback(result, "No se pudo separar con Demucs. Revisa que el motor de ondas separadas esté disponible.",
                   Stems::signature(m_song));
    EXPECT_TRUE(noWorkFolderLeft());
    std::istringstream ids(readText(pids));
    pid_t shell = 0, sleeper = 0;
    ids >> shell >> sleeper;
    ASSERT_GT(sleeper, 0);
    bool gone = false;
    for (int i = 0; i < 40 && !gone; ++i) {
        gone = processHasEnded(sleeper);
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone);
}

// Cancelled after the runtime wrote its stems and before they reach the cache: the run ends
// in the fallback and leaves no stem set behind that a later run would take up.
TEST_F(StemService, CancelAfterTheSeparationKeepsItsStemsOutOfTheCache)
{
    // Long stems: their lossless conversion gives the canceller its moment, between the
    // first converted stem and the last.
    TestSignal long_ = makeSine(220.0, 25.0);
    addDrumHits(long_, {1.0, 2.0, 3.0});
    m_stemSource = writeAudioFile(m_folder.path(), "long-stem", long_, TestAudioFormat::wav16);
    const DemucsRuntimeHandle runtime = writingRuntime({"drums", "bass", "vocals", "other"});
    std::stop_source stop;
    std::atomic<bool> done = false;
    std::thread canceller([&] {
        const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!done && std::chrono::steady_clock::now() < patience) {
            std::error_code error;
            for (auto it = fs::recursive_directory_iterator(m_stemsRoot, error); !error && it != fs::end(it);
                 it.increment(error)) {
                if (it->path().extension() == ".flac") {
                    stop.request_stop();
                    return;
                }
            }
            std::this_thread::yield();
        }
    });
    const StemSeparationResult result = prepare({AutoBeatInstrument::drums}, {}, provide(runtime), stop.get_token());
    done = true;
    canceller.join();
    ASSERT_TRUE(stop.stop_requested()) << "the conversion ended before the canceller saw it";
    expectFallback(result, "No se pudo separar con Demucs. Revisa que el motor de ondas separadas esté disponible.",
                   Stems::signature(m_song));
    EXPECT_TRUE(noWorkFolderLeft());
    EXPECT_EQ(entries(m_stemsRoot).size(), 0u);
}

TEST_F(StemService, MonoSongIsConvertedToStereoFloatFirst)
{
    TestSignal mono = makeSilence(0.5, 44100, 1);
    addDrumHits(mono, {0.1, 0.3});
    m_song = writeAudioFile(m_folder.path(), "mono", mono, TestAudioFormat::wav16);
    const fs::path kept = m_folder / "input-copy.wav";
    const DemucsRuntimeHandle runtime =
        writingRuntime({"drums", "bass", "vocals", "other"}, "/bin/cp \"${11}\" '" + kept.string() + "'");
    const StemSeparationResult result = prepare({AutoBeatInstrument::drums}, {}, provide(runtime));
    ASSERT_FALSE(result.usesFallback) << result.state.message;
    const std::string arguments = readText(m_folder / "arguments.txt");
    EXPECT_NE(arguments.find("/.mono-input-"), std::string::npos) << arguments;
    EXPECT_TRUE(arguments.ends_with("/mono.wav\n"));
    const AudioFileFormat format = AudioFileReader::formatOf(kept);
    EXPECT_EQ(format.channelCount, 2);
    EXPECT_TRUE(format.isFloat);
    EXPECT_EQ(format.lengthFrames, 22050);
}
