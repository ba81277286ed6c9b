// Separation quality on songs the separator was never tuned on, from another
// generator: each part is written as MIDI and rendered by fluidsynth with the
// General MIDI sound font (sampled kits, basses, keys, guitars and voices,
// with its reverb and chorus), so neither the sounds nor the arrangement come
// from the code the separator was tuned with. Per stem the signal-to-distortion
// ratio gain over the mix, for the separator and for a plain median-filter
// split of the same song; and where the true drums went.
//
// Needs fluidsynth and fluid-soundfont-gm (scripts/bench installs them).
// FOTIVELA_STEM_SOUNDFONT=<file.sf2> renders with another sound font.
// FOTIVELA_STEM_SOUNDFONT_SONG=<style>[take] runs one style (e.g. hiphop), or
// one take of it (hiphop0). FOTIVELA_STEM_SOUNDFONT_DUMP=<folder> keeps each
// song's mix, true parts and both splits there as WAV files, to see where
// the energy went.

#include "bench_stem_separation.h"

#include "platform/audio_file_reader.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>

using namespace fotivela;
using namespace fotivela::bench;

namespace {

const char* const kStemNames[] = {"drums", "bass", "vocals", "other"};
constexpr int kTicksPerBeat = 480;

// One part as a type-0 MIDI file: a channel, its programs and its notes.
class MidiPart {
public:
    MidiPart(int channel, double bpm) : m_channel(channel)
    {
        const auto microseconds = static_cast<std::uint32_t>(60e6 / bpm);
        add(0, 0,
            {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microseconds >> 16), static_cast<std::uint8_t>(microseconds >> 8),
                static_cast<std::uint8_t>(microseconds)});
    }

    // A second channel lets one part hold two instruments.
    void program(int number, int pan, int channel = -1)
    {
        const auto c = static_cast<std::uint8_t>(channel < 0 ? m_channel : channel);
        add(0, 1, {static_cast<std::uint8_t>(0xB0 | c), 10, static_cast<std::uint8_t>(pan)});
        add(0, 1, {static_cast<std::uint8_t>(0xC0 | c), static_cast<std::uint8_t>(number)});
    }

    void note(double beat, double lengthBeats, int key, int velocity, int channel = -1)
    {
        const auto c = static_cast<std::uint8_t>(channel < 0 ? m_channel : channel);
        const int on = static_cast<int>(std::lround(beat * kTicksPerBeat));
        const int off = on + std::max(1, static_cast<int>(std::lround(lengthBeats * kTicksPerBeat)));
        const auto k = static_cast<std::uint8_t>(std::clamp(key, 0, 127));
        add(on, 3, {static_cast<std::uint8_t>(0x90 | c), k, static_cast<std::uint8_t>(std::clamp(velocity, 1, 127))});
        add(off, 2, {static_cast<std::uint8_t>(0x80 | c), k, 0});
    }

    void write(const std::filesystem::path& file) const
    {
        auto events = m_events;
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::vector<std::uint8_t> track;
        int last = 0;
        for (const Event& event : events) {
            writeVariableLength(track, static_cast<std::uint32_t>(event.tick - last));
            last = event.tick;
            track.insert(track.end(), event.bytes.begin(), event.bytes.end());
        }
        track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
        std::ofstream out(file, std::ios::binary);
        const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kTicksPerBeat >> 8, kTicksPerBeat & 0xFF};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        const auto size = static_cast<std::uint32_t>(track.size());
        const std::uint8_t chunk[] = {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(size >> 24),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
        out.write(reinterpret_cast<const char*>(chunk), sizeof chunk);
        out.write(reinterpret_cast<const char*>(track.data()), static_cast<std::streamsize>(track.size()));
    }

private:
    struct Event {
        int tick;
        int order; // at one tick: set-up, then note-offs, then note-ons
        std::vector<std::uint8_t> bytes;
    };

    void add(int tick, int order, std::vector<std::uint8_t> bytes) { m_events.push_back({tick, order, std::move(bytes)}); }

    static void writeVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value)
    {
        std::uint8_t bytes[5];
        int count = 0;
        do {
            bytes[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value);
        while (count--)
            out.push_back(static_cast<std::uint8_t>(bytes[count] | (count ? 0x80 : 0)));
    }

    int m_channel;
    std::vector<Event> m_events;
};

enum class Groove { rock, funk, ballad, jazz, house, hiphop, shuffle, reggae };

struct Style {
    std::string name;
    Groove groove;
    double bpm;
    int kit;           // drum kit program on the percussion channel
    int bass;          // General MIDI programs, 0-based
    int keys, keys2;   // the "other" instruments
    int voice;
    int key;           // tonic, MIDI note in the bass octave
    bool minor;
};

std::vector<Style> styles()
{
    return {
        {"rock", Groove::rock, 124, 16, 33, 30, 29, 53, 28, false},
        {"funk", Groove::funk, 102, 8, 36, 7, 61, 54, 33, false},
        {"ballad", Groove::ballad, 74, 0, 35, 0, 48, 52, 31, false},
        {"jazz", Groove::jazz, 150, 40, 32, 4, 65, 53, 29, false},
        {"house", Groove::house, 124, 24, 38, 89, 81, 85, 33, true},
        {"hiphop", Groove::hiphop, 88, 25, 38, 0, 49, 54, 26, true},
        {"shuffle", Groove::shuffle, 112, 32, 34, 16, 27, 53, 28, false},
        {"reggae", Groove::reggae, 76, 0, 33, 2, 18, 52, 31, false},
    };
}

struct Arrangement {
    MidiPart drums, bass, voice, other;
};

// A song of `bars` bars in 4/4: drums, bass, a sung-like lead (vocals) and two
// accompanying instruments (other), over a four-chord progression.
Arrangement arrange(const Style& style, int bars, std::mt19937& random)
{
    Arrangement song{MidiPart(9, style.bpm), MidiPart(0, style.bpm), MidiPart(1, style.bpm), MidiPart(2, style.bpm)};
    song.drums.program(style.kit, 64);
    song.bass.program(style.bass, 64);
    song.voice.program(style.voice, 64);
    song.other.program(style.keys, 40);
    constexpr int secondInstrument = 3;
    song.other.program(style.keys2, 88, secondInstrument);
    std::uniform_int_distribution<int> jitter(-8, 8);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const auto v = [&](int base) { return base + jitter(random); };
    const bool swing = style.groove == Groove::jazz || style.groove == Groove::shuffle;
    // Where the second eighth of a beat falls.
    const double offbeat = swing ? 2.0 / 3.0 : 0.5;
    const std::vector<int> progression = style.minor ? std::vector<int>{0, 8, 3, 10} : std::vector<int>{0, 7, 9, 5};
    const std::vector<int> scale = style.minor ? std::vector<int>{0, 3, 5, 7, 10} : std::vector<int>{0, 2, 4, 7, 9};

    int melody = 2;
    for (int bar = 0; bar < bars; ++bar) {
        const double b0 = bar * 4.0;
        const int root = style.key + progression[static_cast<std::size_t>(bar % 4)];
        const bool minorChord = style.minor ? (bar % 4 == 0) : (bar % 4 == 2);
        const int third = minorChord ? 3 : 4;
        const bool fill = bar % 8 == 7;

        // Drums.
        switch (style.groove) {
        case Groove::rock:
        case Groove::ballad:
            for (int beat = 0; beat < 4; ++beat) {
                if (beat % 2 == 0)
                    song.drums.note(b0 + beat, 0.25, 36, v(110));
                else
                    song.drums.note(b0 + beat, 0.25, 38, v(105));
                if (style.groove == Groove::rock) {
                    song.drums.note(b0 + beat, 0.25, 42, v(80));
                    song.drums.note(b0 + beat + 0.5, 0.25, 42, v(65));
                } else {
                    song.drums.note(b0 + beat, 0.5, 51, v(70));
                }
            }
            if (style.groove == Groove::rock && chance(random) < 0.5)
                song.drums.note(b0 + 2.5, 0.25, 36, v(95));
            break;
        case Groove::funk:
            for (int s = 0; s < 16; ++s)
                song.drums.note(b0 + s * 0.25, 0.2, s % 4 == 2 ? 46 : 42, v(s % 2 ? 55 : 80));
            for (const double t : {0.0, 0.75, 2.5})
                song.drums.note(b0 + t, 0.25, 36, v(110));
            song.drums.note(b0 + 1, 0.25, 38, v(110));
            song.drums.note(b0 + 3, 0.25, 38, v(110));
            song.drums.note(b0 + 3.75, 0.2, 38, v(50)); // ghost note
            break;
        case Groove::jazz:
            for (int beat = 0; beat < 4; ++beat) {
                song.drums.note(b0 + beat, 0.5, 51, v(85));
                if (beat % 2 == 1) {
                    song.drums.note(b0 + beat + offbeat, 0.3, 51, v(70));
                    song.drums.note(b0 + beat, 0.25, 44, v(70));
                }
            }
            song.drums.note(b0, 0.25, 36, v(60));
            if (chance(random) < 0.6)
                song.drums.note(b0 + 2 + offbeat, 0.25, 38, v(55));
            break;
        case Groove::house:
            for (int beat = 0; beat < 4; ++beat) {
                song.drums.note(b0 + beat, 0.25, 36, v(115));
                song.drums.note(b0 + beat + 0.5, 0.25, 46, v(75));
                if (beat % 2 == 1)
                    song.drums.note(b0 + beat, 0.25, 39, v(100));
            }
            break;
        case Groove::hiphop:
            song.drums.note(b0, 0.5, 36, v(115));
            song.drums.note(b0 + 1.75, 0.5, 36, v(100));
            song.drums.note(b0 + 2.5, 0.5, 36, v(105));
            song.drums.note(b0 + 1, 0.25, 39, v(110));
            song.drums.note(b0 + 3, 0.25, 39, v(110));
            for (int e = 0; e < 8; ++e)
                song.drums.note(b0 + e * 0.5, 0.2, 42, v(e % 2 ? 60 : 75));
            if (chance(random) < 0.5)
                song.drums.note(b0 + 3.25, 0.2, 42, v(55));
            break;
        case Groove::shuffle:
            for (int beat = 0; beat < 4; ++beat) {
                song.drums.note(b0 + beat, 0.3, 42, v(80));
                song.drums.note(b0 + beat + offbeat, 0.3, 42, v(60));
                song.drums.note(b0 + beat, 0.25, beat % 2 ? 38 : 36, v(105));
            }
            break;
        case Groove::reggae:
            // One drop: kick and rim together on the third beat.
            song.drums.note(b0 + 2, 0.25, 36, v(110));
            song.drums.note(b0 + 2, 0.25, 37, v(95));
            for (int e = 0; e < 8; ++e)
                song.drums.note(b0 + e * 0.5, 0.2, 42, v(e % 2 ? 55 : 70));
            break;
        }
        if (fill) {
            for (int s = 0; s < 4; ++s)
                song.drums.note(b0 + 3 + s * 0.25, 0.2, s < 2 ? 48 : 45, v(95));
        }
        if (bar % 8 == 0)
            song.drums.note(b0, 1.0, 49, v(100));

        // Bass.
        switch (style.groove) {
        case Groove::rock:
            for (int e = 0; e < 8; ++e)
                song.bass.note(b0 + e * 0.5, 0.45, root, v(95));
            break;
        case Groove::funk:
            for (const auto& [t, interval] : std::vector<std::pair<double, int>>{{0, 0}, {0.75, 12}, {1.5, 0}, {2.5, 7}, {3.0, 10}, {3.5, 12}})
                song.bass.note(b0 + t, 0.2, root + interval, v(100));
            break;
        case Groove::ballad:
            song.bass.note(b0, 1.9, root, v(90));
            song.bass.note(b0 + 2, 1.9, root + 7, v(85));
            break;
        case Groove::jazz: {
            const int walk[] = {0, third, 7, chance(random) < 0.5 ? 11 : 10};
            for (int beat = 0; beat < 4; ++beat)
                song.bass.note(b0 + beat, 0.9, root + walk[beat], v(90));
            break;
        }
        case Groove::house:
            for (int beat = 0; beat < 4; ++beat)
                song.bass.note(b0 + beat + 0.5, 0.35, root + (beat == 3 ? 12 : 0), v(100));
            break;
        case Groove::hiphop:
            // Long low notes under the kicks, as 808 basses are played.
            song.bass.note(b0, 1.6, root, v(110));
            song.bass.note(b0 + 1.75, 0.7, root, v(100));
            song.bass.note(b0 + 2.5, 1.4, bar % 2 ? root + 3 : root, v(105));
            break;
        case Groove::shuffle:
            for (int beat = 0; beat < 4; ++beat) {
                song.bass.note(b0 + beat, offbeat - 0.05, root + (beat % 2 ? 7 : 0), v(95));
                song.bass.note(b0 + beat + offbeat, 0.25, root + (beat % 2 ? 9 : 4), v(80));
            }
            break;
        case Groove::reggae:
            song.bass.note(b0, 0.9, root, v(100));
            song.bass.note(b0 + 1.5, 0.4, root + 7, v(90));
            song.bass.note(b0 + 2.5, 0.9, root + 12, v(95));
            break;
        }

        // Other: chords on the first instrument, a second voice on the second.
        const int chordBase = root + 24;
        const auto chord = [&](double t, double length, int velocity) {
            for (const int interval : {0, third, 7})
                song.other.note(b0 + t, length, chordBase + interval, velocity);
        };
        switch (style.groove) {
        case Groove::rock:
            for (int e = 0; e < 8; ++e)
                for (const int interval : {0, 7, 12})
                    song.other.note(b0 + e * 0.5, 0.45, root + 12 + interval, v(85));
            break;
        case Groove::funk:
            for (int s = 0; s < 16; ++s)
                if (s % 4 == 2 || s % 7 == 3)
                    chord(s * 0.25, 0.15, v(85));
            break;
        case Groove::ballad:
            for (int e = 0; e < 8; ++e)
                song.other.note(b0 + e * 0.5, 1.0, chordBase + std::array<int, 4>{0, 7, 12, third + 12}[static_cast<std::size_t>(e % 4)], v(70));
            break;
        case Groove::jazz:
            chord(1 + offbeat, 0.4, v(70));
            chord(3, 0.6, v(65));
            break;
        case Groove::house:
            chord(0, 4.0, v(60));
            break;
        case Groove::hiphop:
            chord(0, 2.0, v(70));
            chord(2, 2.0, v(65));
            break;
        case Groove::shuffle:
            for (int beat = 0; beat < 4; ++beat)
                chord(beat + offbeat, 0.25, v(70));
            break;
        case Groove::reggae:
            for (int beat = 1; beat < 4; beat += 2)
                chord(beat, 0.3, v(80));
            break;
        }

        // The second instrument holds the chord's third and fifth an octave up.
        for (const int interval : {third, 7})
            song.other.note(b0, 3.9, chordBase + 12 + interval, v(55), secondInstrument);

        // A sung line: two bars of phrase, one bar of rest, in the scale.
        if (bar % 3 != 2) {
            double t = 0;
            while (t < 4.0) {
                const double length = chance(random) < 0.6 ? 1.0 : 0.5;
                melody = std::clamp(melody + std::uniform_int_distribution<int>(-2, 2)(random), 0, 9);
                const int pitch = style.key + 36 + 12 * (melody / 5) + scale[static_cast<std::size_t>(melody % 5)];
                if (chance(random) < 0.85)
                    song.voice.note(b0 + t, length * 0.95, pitch, v(90));
                t += length;
            }
        }
    }
    return song;
}

TestSignal readSignal(const std::filesystem::path& file)
{
    const AudioBuffer buffer = AudioFileReader::readWhole(file);
    TestSignal signal;
    signal.sampleRate = static_cast<int>(buffer.sampleRate);
    signal.channels = buffer.channels;
    if (signal.channels.size() == 1)
        signal.channels.push_back(signal.channels.front());
    return signal;
}

struct Rendered {
    TestSignal mix;
    std::array<TestSignal, 4> parts;
};

// A second take moves the song up a minor third and 6 % faster, with other draws.
std::optional<Rendered> render(const std::filesystem::path& folder, Style style, int take, const std::string& font)
{
    std::mt19937 random(static_cast<unsigned>(1234 + take * 97 + style.bpm));
    style.key += 3 * take;
    style.bpm *= 1.0 + 0.06 * take;
    const int bars = static_cast<int>(std::ceil(30.0 / (4 * 60.0 / style.bpm)));
    const Arrangement song = arrange(style, bars, random);
    const MidiPart* parts[] = {&song.drums, &song.bass, &song.voice, &song.other};
    Rendered rendered;
    std::size_t frames = 0;
    for (std::size_t s = 0; s < 4; ++s) {
        const auto midi = folder / (style.name + "-" + kStemNames[s] + ".mid");
        const auto wav = folder / (style.name + "-" + kStemNames[s] + ".wav");
        parts[s]->write(midi);
        const ChildRun run = runChild("/usr/bin/fluidsynth",
            {"-n", "-i", "-q", "-g", "0.5", "-r", "44100", "-T", "wav", "-O", "float", "-F", wav.string(), font, midi.string()},
            folder / "fluidsynth.txt", false);
        if (run.exitStatus != 0 || !std::filesystem::exists(wav)) {
            std::printf("fluidsynth failed on %s (%d): %s\n", midi.c_str(), run.exitStatus, run.output.c_str());
            return std::nullopt;
        }
        rendered.parts[s] = readSignal(wav);
        frames = std::max(frames, rendered.parts[s].frameCount());
    }
    rendered.mix = test::makeSilenceFrames(frames);
    for (auto& part : rendered.parts) {
        for (auto& channel : part.channels)
            channel.resize(frames, 0.0f);
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                rendered.mix.channels[c][i] += part.channels[c][i];
    }
    return rendered;
}

struct Row {
    std::string name;
    std::array<double, 4> gain{}, plainGain{};
    std::array<double, 4> drumsGoTo{}; // the true drums' share in each separated stem
};

std::array<std::vector<std::vector<float>>, 4> separate(const std::filesystem::path& folder, const std::string& tag,
    const std::filesystem::path& input, const std::optional<std::filesystem::path>& models,
    const std::optional<std::filesystem::path>& keep)
{
    auto arguments = separatorArguments(folder / tag, input);
    if (models)
        arguments[3] = models->string();
    const ChildRun run = runChild(FOTIVELA_STEM_SEPARATOR, arguments, folder / "separator.txt", false);
    if (run.exitStatus != 0) {
        std::printf("separator failed (%d): %s\n", run.exitStatus, run.output.c_str());
        std::exit(1);
    }
    std::array<std::vector<std::vector<float>>, 4> stems;
    const auto base = folder / tag / "htdemucs" / input.stem();
    for (std::size_t s = 0; s < 4; ++s)
        stems[s] = AudioFileReader::readWhole(base / (std::string(kStemNames[s]) + ".wav")).channels;
    if (keep)
        for (std::size_t s = 0; s < 4; ++s)
            std::filesystem::copy_file(base / (std::string(kStemNames[s]) + ".wav"),
                *keep / (input.stem().string() + "-" + tag + "-" + kStemNames[s] + ".wav"),
                std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(folder / tag);
    return stems;
}

} // namespace

int main()
{
    const char* chosenFont = std::getenv("FOTIVELA_STEM_SOUNDFONT");
    const std::string font = chosenFont ? chosenFont : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (!std::filesystem::exists("/usr/bin/fluidsynth") || !std::filesystem::exists(font)) {
        std::printf("needs /usr/bin/fluidsynth and %s (Debian: fluidsynth, fluid-soundfont-gm)\n", font.c_str());
        return 1;
    }
    const test::AudioTestFolder folder("fotivela-soundfont-bench");
    const auto plainModels = writePlainModel(folder / "plain-model");
    std::printf("SDR gain over the mix in dB, separator / plain median-filter split; 30 s songs rendered by fluidsynth in two takes\n"
                "with %s; \"drums in\" is where the true drums went (share in each separated stem)\n\n",
        font.c_str());
    std::printf("%-11s | %-13s | %-13s | %-13s | %-13s | drums in drums/bass/vocals/other\n", "song", "drums", "bass",
        "vocals", "other");
    std::vector<Row> rows;
    const char* chosenSong = std::getenv("FOTIVELA_STEM_SOUNDFONT_SONG");
    const std::string only = chosenSong ? chosenSong : "";
    std::optional<std::filesystem::path> dump;
    if (const char* folderName = std::getenv("FOTIVELA_STEM_SOUNDFONT_DUMP")) {
        dump = folderName;
        std::filesystem::create_directories(*dump);
    }
    std::vector<std::pair<Style, int>> songs;
    for (int take = 0; take < 2; ++take)
        for (const Style& style : styles())
            if (only.empty() || only == style.name || only == style.name + std::to_string(take))
                songs.emplace_back(style, take);
    if (songs.empty()) {
        std::printf("no song is called %s\n", only.c_str());
        return 1;
    }
    for (const auto& [style, take] : songs) {
        const auto rendered = render(folder.path(), style, take, font);
        if (!rendered)
            return 1;
        const std::string songName = style.name + std::to_string(take);
        const auto input = test::writeAudioFile(folder.path(), songName, rendered->mix, test::TestAudioFormat::wavFloat);
        if (dump) {
            std::filesystem::copy_file(input, *dump / (songName + "-mix.wav"), std::filesystem::copy_options::overwrite_existing);
            for (std::size_t s = 0; s < 4; ++s)
                test::writeAudioFile(*dump, songName + "-true-" + kStemNames[s], rendered->parts[s],
                    test::TestAudioFormat::wavFloat);
        }
        const auto ours = separate(folder.path(), "ours", input, std::nullopt, dump);
        const auto plain = separate(folder.path(), "plain", input, plainModels, dump);
        Row row;
        row.name = songName;
        const double drumsInMix = dot(rendered->mix.channels, rendered->parts[0].channels);
        for (std::size_t s = 0; s < 4; ++s) {
            const double mixSdr = sdr(rendered->parts[s], rendered->mix.channels);
            row.gain[s] = sdr(rendered->parts[s], ours[s]) - mixSdr;
            row.plainGain[s] = sdr(rendered->parts[s], plain[s]) - mixSdr;
            row.drumsGoTo[s] = dot(ours[s], rendered->parts[0].channels) / std::max(drumsInMix, 1e-20);
        }
        std::printf("%-11s |", row.name.c_str());
        for (std::size_t s = 0; s < 4; ++s)
            std::printf(" %+5.2f/%+5.2f |", row.gain[s], row.plainGain[s]);
        std::printf(" %.2f/%.2f/%.2f/%.2f\n", row.drumsGoTo[0], row.drumsGoTo[1], row.drumsGoTo[2], row.drumsGoTo[3]);
        std::fflush(stdout);
        rows.push_back(row);
    }
    std::printf("%-11s |", "median");
    for (std::size_t s = 0; s < 4; ++s) {
        std::vector<double> ours, plain;
        for (const Row& row : rows) {
            ours.push_back(row.gain[s]);
            plain.push_back(row.plainGain[s]);
        }
        std::printf(" %+5.2f/%+5.2f |", median(ours), median(plain));
    }
    std::printf("\n");
    return 0;
}
