#pragma once

// A harder multitrack set for the separation benchmarks, made in code: long
// reverb tails, 808 kicks sweeping down over a sub bass that glides, pads
// side-chained to the kick, swing and ghost notes, a tempo change, legato and
// slid bass notes, double-tracked distorted guitars and a centre-panned lead
// that is not a voice. Every kind comes in two takes (other seed, key, tempo
// and balance): the first take is for tuning, the second is held out.

#include "bench_stem_separation.h"

#include <array>
#include <functional>

namespace fotivela::bench {

namespace hard {

constexpr double twoPi = 2 * std::numbers::pi;

// One pitched line over part of the song: a frequency per sample reached by
// gliding, and an amplitude envelope, from song frame `offset` on.
struct Voice {
    std::int64_t size = 0; // the song's frames
    std::int64_t offset = 0;
    std::vector<double> frequency;
    std::vector<double> amplitude;
};

inline Voice makeVoice(std::size_t frames)
{
    Voice voice;
    voice.size = static_cast<std::int64_t>(frames);
    return voice;
}

// Sets a note from `start` for `length` seconds. With `glide` > 0 the pitch
// slides from `fromHz` over that time and the note does not start again
// (legato).
inline void setNote(Voice& voice, int rate, double start, double length, double hz, double level, double attack,
    double release, double decay = 0, double glide = 0, double fromHz = 0)
{
    const auto first = std::max<std::int64_t>(0, static_cast<std::int64_t>(start * rate));
    const auto end = std::min(voice.size, static_cast<std::int64_t>(start * rate) + static_cast<std::int64_t>(length * rate));
    if (end <= first)
        return;
    voice.offset = first;
    voice.frequency.assign(static_cast<std::size_t>(end - first), 0.0);
    voice.amplitude.assign(static_cast<std::size_t>(end - first), 0.0);
    const auto begin = static_cast<std::int64_t>(start * rate);
    for (std::int64_t frame = first; frame < end; ++frame) {
        const double t = static_cast<double>(frame - begin) / rate;
        double f = hz;
        if (glide > 0 && t < glide)
            f = fromHz * std::pow(hz / fromHz, t / glide);
        const double rise = glide > 0 ? 1.0 : std::min(1.0, t / attack);
        const double fall = std::min(1.0, (length - t) / release);
        const double body = decay > 0 ? std::exp(-t / decay) : 1.0;
        voice.frequency[static_cast<std::size_t>(frame - first)] = f;
        voice.amplitude[static_cast<std::size_t>(frame - first)] = level * std::max(0.0, rise * fall * body);
    }
}

// Renders a voice as a sum of harmonics (amplitudes per harmonic, 1 first)
// with a per-side gain; harmonics above 16 kHz are left out.
inline void renderVoice(TestSignal& s, const Voice& voice, const std::vector<double>& harmonics, double left,
    double right, double vibrato = 0, double vibratoHz = 5.5)
{
    double phase = 0;
    for (std::size_t k = 0; k < voice.amplitude.size(); ++k) {
        const std::size_t i = static_cast<std::size_t>(voice.offset) + k;
        const double a = voice.amplitude[k];
        const double t = static_cast<double>(i) / s.sampleRate;
        const double f = voice.frequency[k] * (1 + vibrato * std::sin(twoPi * vibratoHz * t));
        phase += twoPi * f / s.sampleRate;
        double value = 0;
        for (std::size_t h = 0; h < harmonics.size() && f * static_cast<double>(h + 1) < 16000; ++h)
            value += harmonics[h] * std::sin(static_cast<double>(h + 1) * phase);
        s.channels[0][i] += static_cast<float>(a * left * value);
        s.channels[1][i] += static_cast<float>(a * right * value);
    }
}

inline std::vector<double> sawHarmonics(int count, double tilt = 1.0)
{
    std::vector<double> h;
    for (int k = 1; k <= count; ++k)
        h.push_back(1.0 / std::pow(k, tilt));
    return h;
}

// An 808: a long sine whose pitch falls from `startHz` to `endHz` (time
// constant `sweep`), a click and some drive (none at 0: a pure sine).
inline void add808(TestSignal& s, double time, double gain, double decay, double startHz, double endHz, double drive,
    double sweep = 0.05)
{
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    double phase = 0;
    const int frames = static_cast<int>(s.sampleRate * decay * 4);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        phase += twoPi * (endHz + (startHz - endHz) * std::exp(-t / sweep)) / s.sampleRate;
        const double body = std::exp(-t / decay) * std::min(1.0, t / 0.002) * std::sin(phase);
        const double shaped = drive > 0 ? std::tanh(drive * body) / std::tanh(drive) : body;
        const double value = gain * (shaped + (i < 60 ? 0.25 * (1 - i / 60.0) : 0));
        addSample(s, 0, start + i, value);
        addSample(s, 1, start + i, value);
    }
}

// A clap: three quick noise bursts and a tail, a little wider than the snare.
inline void addClap(TestSignal& s, double time, double gain, std::mt19937& random)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    std::array<double, 2> previous{0, 0};
    for (int i = 0; i < s.sampleRate / 4; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        double envelope = std::exp(-t / 0.06);
        for (int b = 0; b < 3; ++b)
            if (t >= b * 0.009)
                envelope += (b < 2 ? 0.8 : 0.0) * std::exp(-(t - b * 0.009) / 0.004);
        for (std::size_t c = 0; c < 2; ++c) {
            const double n = noise(random);
            const double bright = n - 0.6 * previous[c];
            previous[c] = n;
            addSample(s, c, start + i, gain * 0.6 * envelope * bright);
        }
    }
}

// A ride or open hat: longer bright noise with a faint ring.
inline void addRide(TestSignal& s, double time, double gain, std::mt19937& random)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    double previous = 0;
    for (int i = 0; i < s.sampleRate / 3; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        const double n = noise(random);
        const double value = gain * std::exp(-t / 0.09) * ((n - previous) * 0.7 + 0.15 * std::sin(twoPi * 5200 * t));
        previous = n;
        addSample(s, 0, start + i, value);
        addSample(s, 1, start + i, value * 0.85);
    }
}

// A stereo Schroeder reverb of `dry` (summed to mono) added to `into`: four
// combs and two all-passes per side, the tail `seconds` long (to −60 dB).
inline void addReverb(TestSignal& into, const TestSignal& dry, double seconds, double wet)
{
    const int rate = into.sampleRate;
    const std::array<std::array<double, 4>, 2> combMs{{{29.7, 37.1, 41.1, 43.7}, {31.3, 35.9, 40.3, 44.9}}};
    const std::size_t n = into.frameCount();
    std::vector<float> mono(n);
    for (std::size_t i = 0; i < n; ++i)
        mono[i] = 0.5f * (dry.channels[0][i] + dry.channels[1][i]);
    for (std::size_t c = 0; c < 2; ++c) {
        std::vector<double> sum(n, 0.0);
        for (double ms : combMs[c]) {
            const auto delay = static_cast<std::size_t>(ms * rate / 1000);
            const double feedback = std::pow(0.001, ms / 1000 / seconds);
            std::vector<double> line(n, 0.0);
            double damp = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double back = i >= delay ? line[i - delay] : 0.0;
                damp = 0.7 * back + 0.3 * damp; // high frequencies die sooner
                line[i] = mono[i] + feedback * damp;
                sum[i] += back;
            }
        }
        for (double ms : {5.0 + static_cast<double>(c), 1.7}) {
            const auto delay = static_cast<std::size_t>(ms * rate / 1000);
            std::vector<double> out(n, 0.0);
            for (std::size_t i = 0; i < n; ++i) {
                const double x = sum[i];
                const double delayedOut = i >= delay ? out[i - delay] : 0.0;
                const double delayedIn = i >= delay ? sum[i - delay] : 0.0;
                out[i] = -0.7 * x + delayedIn + 0.7 * delayedOut;
            }
            sum = std::move(out);
        }
        for (std::size_t i = 0; i < n; ++i)
            into.channels[c][i] += static_cast<float>(wet * 0.25 * sum[i]);
    }
}

inline void drive(TestSignal& s, double amount, double level)
{
    for (auto& channel : s.channels)
        for (float& v : channel)
            v = static_cast<float>(level * std::tanh(amount * v) / std::tanh(amount));
}

inline void lowPass(TestSignal& s, double hz)
{
    const double a = std::exp(-twoPi * hz / s.sampleRate);
    for (auto& channel : s.channels) {
        double y = 0;
        for (float& v : channel) {
            y = (1 - a) * v + a * y;
            v = static_cast<float>(y);
        }
    }
}

inline void addInto(TestSignal& into, const TestSignal& part, double gain = 1.0)
{
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < into.frameCount(); ++i)
            into.channels[c][i] += static_cast<float>(gain * part.channels[c][i]);
}

// The beat grid of a song: beat times, with a tempo change at `changeAt` beats.
struct Grid {
    std::vector<double> beats;
    double swing = 0.5; // where the off-beat eighth falls within the beat (0.5 straight, 0.667 triplet swing)

    double at(int beat, double fraction) const
    {
        const auto b = static_cast<std::size_t>(beat);
        const double length = b + 1 < beats.size() ? beats[b + 1] - beats[b] : beats[b] - beats[b - 1];
        // Eighths swing; finer divisions follow their eighth.
        const double f = fraction < 0.5 ? fraction / 0.5 * swing : swing + (fraction - 0.5) / 0.5 * (1 - swing);
        return beats[b] + f * length;
    }
    double length(int beat) const
    {
        const auto b = static_cast<std::size_t>(beat);
        return b + 1 < beats.size() ? beats[b + 1] - beats[b] : beats[b] - beats[b - 1];
    }
};

inline Grid makeGrid(double seconds, double bpm, double swing = 0.5, double changeSeconds = 0, double bpmAfter = 0)
{
    Grid grid;
    grid.swing = swing;
    for (double t = 0.2; t < seconds - 0.6;) {
        grid.beats.push_back(t);
        t += 60.0 / (changeSeconds > 0 && t >= changeSeconds ? bpmAfter : bpm);
    }
    return grid;
}

inline double noteHz(double semitonesFromA1) { return 55.0 * std::pow(2.0, semitonesFromA1 / 12.0); }

// A formant-shaped sung line in the centre (or close to it), vowels changing slowly.
inline void addSungLine(TestSignal& s, const Grid& grid, int rate, const std::vector<int>& melody, double gain,
    double key, int notesPerBar, std::mt19937& random, double syllableSeconds = 0)
{
    std::uniform_real_distribution<double> unit(0, 1);
    const std::array<std::array<double, 3>, 4> vowels{{{730, 1090, 2440}, {270, 2290, 3010}, {570, 840, 2410}, {440, 1020, 2240}}};
    const int beats = static_cast<int>(grid.beats.size());
    const int step = 4 / notesPerBar;
    std::size_t index = 0;
    for (int b = 4; b + step < beats - 2; b += step) {
        if ((b / 16) % 2 == 1 && b % 16 >= 12)
            continue; // breaths between phrases
        const double hz = noteHz(melody[index % melody.size()] + 24 + key);
        const auto& vowel = vowels[static_cast<std::size_t>(unit(random) * 4) % 4];
        std::vector<double> harmonics;
        for (int k = 1; k <= 24; ++k) {
            const double f = hz * k;
            double a = 0;
            for (int m = 0; m < 3; ++m)
                a += (m == 0 ? 1.0 : 0.5) * std::exp(-std::pow((f - vowel[static_cast<std::size_t>(m)]) / 160.0, 2));
            harmonics.push_back((0.15 + a) / k);
        }
        const double start = grid.beats[static_cast<std::size_t>(b)];
        const double length = grid.beats[static_cast<std::size_t>(b + step)] - start;
        if (syllableSeconds > 0) {
            // Rap-like: short syllables on the sixteenths.
            for (int k = 0; k < 4 * step; ++k) {
                if (unit(random) < 0.3)
                    continue;
                Voice v = makeVoice(s.frameCount());
                setNote(v, rate, start + k * length / (4 * step), syllableSeconds, hz * (1 + 0.05 * unit(random)), gain,
                    0.01, 0.03);
                renderVoice(s, v, harmonics, 1.0, 0.97, 0.004);
            }
        } else {
            Voice v = makeVoice(s.frameCount());
            setNote(v, rate, start, length * 0.92, hz, gain, 0.04, 0.08);
            renderVoice(s, v, harmonics, 1.0, 0.97, 0.012);
        }
        ++index;
    }
}

// Chords held over the bar: several detuned saw voices, left and right apart.
inline void addPad(TestSignal& s, const Grid& grid, int rate, const std::vector<int>& roots, double key, double gain,
    int octave, double brightness)
{
    const int beats = static_cast<int>(grid.beats.size());
    for (int b = 0; b + 4 <= beats; b += 4) {
        const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
        const double start = grid.beats[static_cast<std::size_t>(b)];
        const double length = (b + 4 < beats ? grid.beats[static_cast<std::size_t>(b + 4)] : start + 4 * grid.length(b)) - start;
        const int chord[] = {0, 3, 7, 10};
        for (int n = 0; n < 4; ++n) {
            const double hz = noteHz(root + chord[n] + 12 * octave + key);
            Voice v = makeVoice(s.frameCount());
            setNote(v, rate, start, length + 0.05, hz, gain, 0.15, 0.2);
            const double pan = (n % 2 == 0) ? 0.25 : 1.0;
            renderVoice(s, v, sawHarmonics(10, brightness), pan, 1.25 - pan, 0.003, 0.3 + 0.1 * n);
            Voice d = makeVoice(s.frameCount());
            setNote(d, rate, start, length + 0.05, hz * 1.004, gain, 0.15, 0.2);
            renderVoice(s, d, sawHarmonics(10, brightness), 1.25 - pan, pan, 0.003, 0.25 + 0.1 * n);
        }
    }
}

} // namespace hard

// A song of the set and whether it is held out.
struct HardSong {
    MultitrackSong song;
    bool heldOut = false;
};

// The kinds of the set, by name; take 0 tunes, take 1 is held out, takes 2–5
// are more tuning takes of one kind.
inline std::vector<std::string> hardSongKinds()
{
    return {"ballad", "rock", "blues", "tempo", "house", "hiphop"};
}

// The hip-hop kind's 808s and sub bass; the defaults are the set's own, the
// variants bench changes one thing at a time.
struct HipHopShape {
    double decay = 0.45; // the 808s on the beat
    double shortDecay = 0.3; // the pick-up 808s between beats
    double drive = 2.5;
    double fromHz = 120, shortFromHz = 110;
    double sweep = 0.05;
    double underNote = 0.98, shortUnderNote = 1.0; // the 808's pitch over its note's
    double noteAfter = 0.5; // beats from the kick to the sub bass note
    double bpm = 88;
    bool subBass = true;
    bool glideAll = false; // every sub bass note glides in from the one before
    bool everyBeat = false; // an 808 on every beat, no pick-ups
    bool rolls = false; // pick-ups as rolls of three 808s an eighth of a beat apart
};

inline MultitrackSong makeHardSong(
    const std::string& kind, int take, double seconds = 30.0, int rate = 44100, const HipHopShape& shape = {})
{
    using namespace hard;
    MultitrackSong song;
    for (TestSignal& part : song.parts)
        part = test::makeSilence(seconds, rate, 2);
    TestSignal& drums = song.parts[0];
    TestSignal& bass = song.parts[1];
    TestSignal& vocals = song.parts[2];
    TestSignal& other = song.parts[3];
    std::mt19937 random(static_cast<std::uint32_t>(1000 + 17 * take + std::hash<std::string>{}(kind) % 997));
    std::uniform_real_distribution<double> unit(0, 1);
    // Takes from 2 on are extra tuning material: keys, tempi and balances neither half uses.
    const std::size_t extra = static_cast<std::size_t>(std::max(0, take - 2)) % 4;
    const double key = take == 0 ? 0.0
        : take == 1              ? (kind == "rock" || kind == "hiphop" ? -2.0 : 3.0)
                                 : std::array{-3.0, -1.0, 2.0, 1.0}[extra];
    const double tempoScale = take == 0 ? 1.0 : take == 1 ? 1.06 : std::array{0.96, 1.03, 1.09, 0.99}[extra];
    // drums against the rest
    const double balance = take == 0 ? 1.0 : take == 1 ? 0.85 : std::array{0.92, 1.08, 0.95, 0.88}[extra];
    const std::size_t n = drums.frameCount();
    // Reverb sends: what of each part goes to its own room, kept in the same part.
    TestSignal drumSend = test::makeSilence(seconds, rate, 2);

    const auto kick = [&](double t, double gain) {
        addKick(drums, t, gain * balance);
        song.kicks.push_back(t);
    };
    const auto snare = [&](double t, double gain, bool counted, bool clap = false) {
        TestSignal& target = drumSend;
        if (clap)
            addClap(target, t, gain * balance, random);
        else
            addSnare(target, t, gain * balance, random);
        if (counted)
            song.snares.push_back(t);
    };
    const auto bassOnset = [&](double t) { song.bassNotes.push_back(t); };

    if (kind == "ballad") {
        const Grid grid = makeGrid(seconds, 70 * tempoScale);
        const std::vector<int> roots{3, 10, 0, 8};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            if (b < 4)
                continue;
            if (b % 4 == 0 || (b % 4 == 2 && b % 8 == 6))
                kick(t, 0.55);
            if (b % 2 == 1)
                snare(t, 0.3, true);
            addHat(drums, t, 0.05 * balance, random);
            addHat(drums, grid.at(b, 0.5), 0.035 * balance, random);
        }
        // Held bass notes, some slid into from the note before.
        for (int b = 0; b + 4 <= static_cast<int>(grid.beats.size()); b += 4) {
            const double start = grid.beats[static_cast<std::size_t>(b)];
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            const double hz = noteHz(root + key - 12 + 12 * (root < 5));
            const double length = 4 * grid.length(b);
            const bool slide = b > 0 && (b / 4) % 2 == 1;
            if (slide) {
                const int before = roots[static_cast<std::size_t>(b / 4 - 1) % roots.size()];
                Voice v = makeVoice(n);
                setNote(v, rate, start, length, hz, 0.32, 0.01, 0.1, 0, 0.12, noteHz(before + key - 12 + 12 * (before < 5)));
                renderVoice(bass, v, {1.0, 0.45, 0.2, 0.1, 0.05}, 1, 1);
            } else {
                Voice v = makeVoice(n);
                setNote(v, rate, start, length * 0.5, hz, 0.32, 0.008, 0.05, 1.5);
                renderVoice(bass, v, {1.0, 0.45, 0.2, 0.1, 0.05}, 1, 1);
                Voice w = makeVoice(n);
                setNote(w, rate, start + length * 0.5, length * 0.48, hz * 1.5, 0.28, 0.008, 0.1, 1.5);
                renderVoice(bass, w, {1.0, 0.45, 0.2, 0.1, 0.05}, 1, 1);
                bassOnset(start);
                bassOnset(start + length * 0.5);
            }
            if (slide)
                bassOnset(start);
        }
        TestSignal dryVoice = test::makeSilence(seconds, rate, 2);
        addSungLine(dryVoice, grid, rate, {15, 17, 19, 20, 19, 17, 15, 12}, 0.1, key, 2, random);
        addInto(vocals, dryVoice);
        addReverb(vocals, dryVoice, 2.8, 0.9);
        // Piano-like decaying chords and a soft wide pad, all in a hall.
        TestSignal keys = test::makeSilence(seconds, rate, 2);
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            for (int note : {12, 15, 19}) {
                Voice v = makeVoice(n);
                setNote(v, rate, grid.beats[static_cast<std::size_t>(b)] + 0.01 * note / 12, grid.length(b), noteHz(root + note + key + 12), 0.035, 0.004, 0.05, 0.6);
                renderVoice(keys, v, {1.0, 0.5, 0.3, 0.15, 0.1, 0.05}, 0.8 + 0.1 * (note % 3), 1.0 - 0.1 * (note % 3));
            }
        }
        addPad(keys, grid, rate, roots, key, 0.01, 2, 1.6);
        addInto(other, keys);
        addReverb(other, keys, 2.8, 0.8);
        addReverb(drums, drumSend, 2.8, 0.9);
    } else if (kind == "rock") {
        const Grid grid = makeGrid(seconds, 140 * tempoScale);
        const std::vector<int> roots{7, 7, 10, 5};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            if (b % 2 == 0)
                kick(t, 0.75);
            if (b % 8 == 6)
                kick(grid.at(b, 0.5), 0.6);
            if (b % 2 == 1)
                snare(t, 0.5, true);
            if (b % 16 == 0)
                addRide(drums, t, 0.3 * balance, random);
            addHat(drums, t, 0.12 * balance, random);
            addHat(drums, grid.at(b, 0.5), 0.09 * balance, random);
        }
        // Picked bass on the eighths, a little driven; two takes of driven power chords.
        TestSignal picked = test::makeSilence(seconds, rate, 2);
        std::array<TestSignal, 2> guitars{test::makeSilence(seconds, rate, 2), test::makeSilence(seconds, rate, 2)};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            for (double half : {0.0, 0.5}) {
                const double t = grid.at(b, half);
                const double length = grid.length(b) / 2;
                Voice v = makeVoice(n);
                setNote(v, rate, t, length * 0.75, noteHz(root + key - 12), 0.3, 0.003, 0.02, 0.12);
                renderVoice(picked, v, sawHarmonics(12, 1.3), 1, 1);
                bassOnset(t);
                for (std::size_t g = 0; g < 2; ++g) {
                    const double late = (g == 0 ? 0.004 : 0.011) + 0.004 * unit(random);
                    for (double interval : {0.0, 7.0, 12.0}) {
                        Voice c = makeVoice(n);
                        setNote(c, rate, t + late, length * 0.9, noteHz(root + interval + key + 12) * (g == 0 ? 1.0 : 1.003), 0.25,
                            0.002, 0.02, 0.5);
                        renderVoice(guitars[g], c, sawHarmonics(30, 0.9), g == 0 ? 1.0 : 0.12, g == 0 ? 0.12 : 1.0);
                    }
                }
            }
        }
        drive(picked, 2.0, 0.3);
        lowPass(picked, 1800);
        addInto(bass, picked);
        for (TestSignal& g : guitars) {
            drive(g, 6.0, 0.16);
            lowPass(g, 4500);
            addInto(other, g);
        }
        TestSignal dryVoice = test::makeSilence(seconds, rate, 2);
        addSungLine(dryVoice, grid, rate, {19, 22, 24, 22, 19, 17, 19, 14}, 0.12, key, 4, random);
        addInto(vocals, dryVoice);
        addReverb(vocals, dryVoice, 1.2, 0.4);
        addReverb(drums, drumSend, 0.9, 0.5);
        addInto(drums, drumSend);
    } else if (kind == "blues") {
        const Grid grid = makeGrid(seconds, 96 * tempoScale, 0.667);
        const std::vector<int> roots{0, 5, 0, 7};
        const int walk[] = {0, 4, 7, 9};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            if (b % 4 == 0 || b % 4 == 2)
                kick(t, 0.55);
            if (b % 2 == 1)
                snare(t, 0.4, true);
            // Ghost notes on the swung off-beats.
            if (unit(random) < 0.6)
                snare(grid.at(b, 0.5), 0.07, false);
            addRide(drums, t, 0.12 * balance, random);
            addRide(drums, grid.at(b, 0.5), 0.08 * balance, random);
            // Walking bass: a plucked note on every beat, sometimes a swung pickup.
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            const double hz = noteHz(root + walk[b % 4] + key);
            const bool pickup = b % 4 == 3 && unit(random) < 0.5;
            Voice v = makeVoice(n);
            setNote(v, rate, t, grid.length(b) * (pickup ? 0.6 : 0.75), hz, 0.36, 0.004, 0.03, 0.25);
            renderVoice(bass, v, {1.0, 0.6, 0.35, 0.25, 0.15, 0.1, 0.06}, 1, 1);
            bassOnset(t);
            if (pickup) {
                Voice p = makeVoice(n);
                setNote(p, rate, grid.at(b, 0.5), grid.length(b) * 0.3, hz * std::pow(2.0, -1.0 / 12), 0.3, 0.004, 0.03, 0.5);
                renderVoice(bass, p, {1.0, 0.6, 0.35, 0.25, 0.15, 0.1, 0.06}, 1, 1);
                bassOnset(grid.at(b, 0.5));
            }
            // Organ comping on the swung off-beats, left of centre.
            if (b % 2 == 0) {
                for (int note : {16, 19, 22}) {
                    Voice o = makeVoice(n);
                    setNote(o, rate, grid.at(b, 0.5), grid.length(b) * 0.8, noteHz(root + note + key), 0.04, 0.01, 0.04);
                    renderVoice(other, o, {1.0, 0.7, 0.5, 0.0, 0.3, 0.0, 0.0, 0.2}, 1.0, 0.45);
                }
            }
        }
        TestSignal dryVoice = test::makeSilence(seconds, rate, 2);
        addSungLine(dryVoice, grid, rate, {15, 18, 19, 22, 19, 18, 15, 12}, 0.11, key, 2, random);
        addInto(vocals, dryVoice);
        addReverb(vocals, dryVoice, 1.5, 0.5);
        addInto(drums, drumSend);
        addReverb(drums, drumSend, 1.2, 0.4);
    } else if (kind == "tempo") {
        const Grid grid = makeGrid(seconds, 100 * tempoScale, 0.5, seconds / 2, 128 * tempoScale);
        const std::vector<int> roots{9, 5, 0, 7};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            if (b % 2 == 0 || (t > seconds / 2 && b % 4 == 3))
                kick(t, 0.7);
            if (b % 2 == 1)
                snare(t, 0.45, true, t > seconds / 2);
            for (double q : {0.0, 0.25, 0.5, 0.75})
                addHat(drums, grid.at(b, q), (q == 0 ? 0.09 : 0.05) * balance, random);
        }
        // Synth bass on the eighths; every other bar the last two notes slide legato.
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            const int nextRoot = roots[static_cast<std::size_t>(b / 4 + 1) % roots.size()];
            for (double half : {0.0, 0.5}) {
                const double t = grid.at(b, half);
                const double length = grid.length(b) / 2;
                Voice v = makeVoice(n);
                const bool slid = b % 8 == 7 && half == 0.5;
                if (slid) {
                    setNote(v, rate, t, length, noteHz(nextRoot + key - 12), 0.3, 0.005, 0.02, 0, length * 0.8, noteHz(root + key - 12));
                } else {
                    setNote(v, rate, t, length * 0.6, noteHz(root + key - 12), 0.3, 0.005, 0.02, 0.15);
                    bassOnset(t);
                }
                renderVoice(bass, v, sawHarmonics(8, 1.6), 1, 1);
            }
        }
        // A centre-panned square lead with vibrato, and wide pads: all "other".
        int index = 0;
        const int lead[] = {21, 24, 28, 26, 24, 21, 19, 24};
        for (int b = 8; b + 2 < static_cast<int>(grid.beats.size()) - 2; b += 2) {
            Voice v = makeVoice(n);
            const double hz = noteHz(lead[index++ % 8] + key + 12);
            setNote(v, rate, grid.beats[static_cast<std::size_t>(b)], 2 * grid.length(b) * 0.9, hz, 0.06, 0.02, 0.05);
            renderVoice(other, v, {1.0, 0.0, 0.33, 0.0, 0.2, 0.0, 0.14, 0.0, 0.11}, 1, 1, 0.01, 6.0);
        }
        addPad(other, grid, rate, roots, key, 0.012, 2, 1.3);
        addInto(drums, drumSend);
        addReverb(drums, drumSend, 1.0, 0.35);
    } else if (kind == "house") {
        const Grid grid = makeGrid(seconds, 124 * tempoScale);
        const std::vector<int> roots{5, 5, 8, 3};
        std::vector<double> kicks;
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            kick(t, 0.8);
            kicks.push_back(t);
            if (b % 2 == 1)
                snare(t, 0.45, true, true);
            addRide(drums, grid.at(b, 0.5), 0.1 * balance, random);
            addHat(drums, grid.at(b, 0.25), 0.05 * balance, random);
            addHat(drums, grid.at(b, 0.75), 0.05 * balance, random);
        }
        // Sub bass on the off-beats, gliding into every fourth note.
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            const double t = grid.at(b, 0.5);
            const double hz = noteHz(root + key + (b % 4 == 2 ? 12 : 0));
            Voice v = makeVoice(n);
            if (b % 4 == 3) {
                setNote(v, rate, t, grid.length(b) * 0.45, hz, 0.42, 0.004, 0.03, 0, 0.06, noteHz(root + key + 12));
            } else {
                setNote(v, rate, t, grid.length(b) * 0.45, hz, 0.42, 0.004, 0.03);
                bassOnset(t);
            }
            renderVoice(bass, v, {1.0, 0.25, 0.08}, 1, 1);
        }
        // Wide pads pumping: ducked after every kick.
        TestSignal pad = test::makeSilence(seconds, rate, 2);
        addPad(pad, grid, rate, roots, key, 0.03, 2, 1.1);
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            while (k + 1 < kicks.size() && kicks[k + 1] <= t)
                ++k;
            const double since = kicks.empty() || t < kicks[0] ? 10.0 : t - kicks[k];
            const double gain = 1 - 0.85 * std::exp(-since / 0.12);
            pad.channels[0][i] *= static_cast<float>(gain);
            pad.channels[1][i] *= static_cast<float>(gain);
        }
        addInto(other, pad);
        TestSignal dryVoice = test::makeSilence(seconds, rate, 2);
        addSungLine(dryVoice, grid, rate, {20, 20, 22, 24, 22, 20, 17, 20}, 0.08, key, 2, random);
        addInto(vocals, dryVoice);
        addReverb(vocals, dryVoice, 1.8, 0.6);
        addInto(drums, drumSend);
        addReverb(drums, drumSend, 1.5, 0.45);
    } else { // hiphop
        const Grid grid = makeGrid(seconds, shape.bpm * tempoScale, 0.58);
        const std::vector<int> roots{1, 1, 4, -1};
        for (int b = 0; b < static_cast<int>(grid.beats.size()); ++b) {
            const double t = grid.beats[static_cast<std::size_t>(b)];
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            if (shape.everyBeat || b % 4 == 0 || (b % 4 == 2 && b % 8 == 2)) {
                add808(drums, t, 0.7 * balance, shape.decay, shape.fromHz, noteHz(root + key) * shape.underNote,
                    shape.drive, shape.sweep);
                song.kicks.push_back(t);
            }
            if (!shape.everyBeat && (b % 8 == 3 || (shape.rolls && b % 8 == 7))) {
                for (int k = 0; k < (shape.rolls ? 3 : 1); ++k) {
                    const double at = grid.at(b, 0.5 + 0.125 * k);
                    add808(drums, at, 0.55 * balance, shape.shortDecay, shape.shortFromHz,
                        noteHz(root + key) * shape.shortUnderNote, shape.drive, shape.sweep);
                    song.kicks.push_back(at);
                }
            }
            if (b % 2 == 1)
                snare(t, 0.5, true, b % 4 == 3);
            if (unit(random) < 0.35)
                snare(grid.at(b, 0.75), 0.06, false);
            // Sixteenth hats with a roll now and then.
            const int ticks = b % 8 == 7 ? 8 : 4;
            for (int q = 0; q < ticks; ++q)
                addHat(drums, grid.at(b, static_cast<double>(q) / ticks), (q % 2 == 0 ? 0.09 : 0.05) * balance, random);
        }
        // An 808-style sub bass that glides between long notes, under the kicks.
        for (int b = 0; shape.subBass && b + 2 <= static_cast<int>(grid.beats.size()); b += 2) {
            const int root = roots[static_cast<std::size_t>(b / 4) % roots.size()];
            const int before = roots[static_cast<std::size_t>(std::max(0, b - 2) / 4) % roots.size()];
            const double t = shape.noteAfter < 1 ? grid.at(b, shape.noteAfter) : grid.beats[static_cast<std::size_t>(b + 1)];
            const double hz = noteHz(root + key + (b % 4 == 2 ? 7 : 0));
            const double from = noteHz(before + key + (b % 4 == 0 ? 7 : 0));
            Voice v = makeVoice(n);
            if (b % 8 == 6 || (shape.glideAll && b > 0)) {
                setNote(v, rate, t, 2 * grid.length(b) * 0.9, hz, 0.4, 0.004, 0.06, 0, 0.15, from);
            } else {
                setNote(v, rate, t, 2 * grid.length(b) * 0.9, hz, 0.4, 0.004, 0.06, 1.2);
                bassOnset(t);
            }
            renderVoice(bass, v, {1.0, 0.12, 0.04}, 1, 1);
        }
        drive(bass, 1.5, 0.45);
        TestSignal dryVoice = test::makeSilence(seconds, rate, 2);
        addSungLine(dryVoice, grid, rate, {12, 12, 15, 12, 10, 12, 8, 12}, 0.12, key, 4, random, 0.09);
        addInto(vocals, dryVoice);
        addReverb(vocals, dryVoice, 0.8, 0.25);
        TestSignal keys = test::makeSilence(seconds, rate, 2);
        addPad(keys, grid, rate, roots, key, 0.02, 2, 1.8);
        addInto(other, keys);
        addReverb(other, keys, 2.0, 0.5);
        addInto(drums, drumSend);
        addReverb(drums, drumSend, 1.4, 0.5);
    }
    if (kind == "ballad")
        addInto(drums, drumSend);
    std::sort(song.kicks.begin(), song.kicks.end());
    std::sort(song.snares.begin(), song.snares.end());
    std::sort(song.bassNotes.begin(), song.bassNotes.end());
    song.mix = test::makeSilence(seconds, rate, 2);
    for (const TestSignal& part : song.parts)
        addInto(song.mix, part);
    return song;
}

} // namespace fotivela::bench
