// The marker detector on songs made here with known hits, analysed and
// detected the way the store does it.

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>

using namespace fotivela;
using namespace fotivela::test;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 20.0; // long enough for 80 buckets a second
constexpr double kEarly = 0.120;  // a cut this much before its hit still looks on the beat
constexpr double kLate = 0.050;

// A kick: a falling sine under an exponential decay, with a click on top.
std::vector<float> kick(double decay)
{
    std::vector<float> samples(static_cast<std::size_t>(decay * 6 * kRate));
    double phase = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += 2 * std::numbers::pi * (50 + 100 * std::exp(-t / 0.03)) / kRate;
        samples[i] = static_cast<float>(std::exp(-t / decay) * std::sin(phase) + (i < 40 ? 0.3 * (1 - i / 40.0) : 0));
    }
    return samples;
}

// White noise under an exponential decay.
std::vector<float> burst()
{
    std::mt19937 random(9);
    std::uniform_real_distribution<double> noise(-1, 1);
    std::vector<float> samples(kRate / 4);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(std::exp(-static_cast<double>(i) / kRate / 0.05) * noise(random));
    return samples;
}

// White noise with a low body under a slower decay, whose tail the next hit rides on.
std::vector<float> snare(std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1, 1);
    std::vector<float> samples(kRate / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        samples[i] = static_cast<float>(std::exp(-t / 0.1) * (0.7 * noise(random) + 0.5 * std::sin(2 * std::numbers::pi * 190 * t)));
    }
    return samples;
}

// A short burst of differentiated noise: all highs, as a closed hi-hat.
std::vector<float> hat(std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1, 1);
    std::vector<float> samples(kRate / 10);
    double previous = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double n = noise(random);
        samples[i] = static_cast<float>(std::exp(-static_cast<double>(i) / kRate / 0.015) * (n - previous));
        previous = n;
    }
    return samples;
}

// A steady chord under the whole song, which the hits' onsets must stand out of.
TestSignal pad()
{
    TestSignal song = makeSilence(kSeconds, kRate, 1);
    auto& samples = song.channels.front();
    for (double f : {110.0, 138.6, 164.8, 220.0}) {
        double phase = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            phase += 2 * std::numbers::pi * f / kRate;
            samples[i] += static_cast<float>(0.05 * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
        }
    }
    return song;
}

// The pad with a bass note on every second, as the bed of a song.
TestSignal bed()
{
    TestSignal song = pad();
    auto& samples = song.channels.front();
    for (double start = 0; start + 1 < kSeconds; start += 1) {
        const auto first = static_cast<std::size_t>(start * kRate);
        double phase = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(0.95 * kRate); ++i) {
            const double t = static_cast<double>(i) / kRate;
            phase += 2 * std::numbers::pi * 55 / kRate;
            samples[first + i] += static_cast<float>(0.12 * std::min({1.0, t / 0.02, (0.95 - t) / 0.05})
                * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
        }
    }
    return song;
}

void addHit(TestSignal& song, const std::vector<float>& hit, double time, double gain)
{
    auto& samples = song.channels.front();
    const auto start = static_cast<std::size_t>(std::llround(time * kRate));
    for (std::size_t i = 0; i < hit.size() && start + i < samples.size(); ++i)
        samples[start + i] += static_cast<float>(gain) * hit[i];
}

struct Detection {
    std::vector<BeatMarker> markers; // without the start and end markers
    double bucketSeconds = 0;
};

Detection detect(const TestSignal& song, BeatDetectionFocus focus, const BeatDetectionProfile& profile,
    double spacing = 0.22, int64_t beatsPerBar = 1)
{
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(song.channels, kRate, 1400, focus);
    const double duration = song.durationSeconds();
    const auto all = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, duration, 0.0, beatsPerBar, profile, std::nullopt, true),
        spacing);
    Detection d;
    d.bucketSeconds = duration / static_cast<double>(analysis.detection.size());
    for (const BeatMarker& m : all) {
        if (m.time != 0.0 && m.time != duration)
            d.markers.push_back(m);
    }
    return d;
}

std::vector<const BeatMarker*> markersAround(const Detection& d, double hit)
{
    std::vector<const BeatMarker*> near;
    for (const BeatMarker& m : d.markers) {
        if (m.time - hit >= -kEarly && m.time - hit <= kLate)
            near.push_back(&m);
    }
    return near;
}

} // namespace

// Identical hits must not be found or lost by where they fall inside a time
// bucket: each song is shifted through a whole bucket in small steps. Every
// hit gets exactly one marker, enabled, a little before it.
TEST(BeatMarkerHits, EveryCleanHitIsFoundOnceWhateverItsPhaseInTheBucket)
{
    struct Case {
        const char* name;
        std::vector<float> hit;
        double every;
        BeatDetectionFocus focus;
        double maxLeadBuckets;
        bool pad = false;
    };
    const std::vector<float> shortKick = kick(0.07);
    // In silence the onset is found two to three buckets back. A long tail or a pad
    // keeps the envelope above a tenth of the next hit's, but the onset is still
    // found where that hit's own rise starts, no further back.
    const std::vector<Case> cases {{"kicks, clap-snare focus", shortKick, 0.5, BeatDetectionFocus::clapSnare, 3.5},
        {"kicks, kick focus", shortKick, 0.5, BeatDetectionFocus::kick, 3.5},
        {"kicks, full-mix focus", shortKick, 0.5, BeatDetectionFocus::fullMix, 3.5},
        {"bursts, clap-snare focus", burst(), 0.9, BeatDetectionFocus::clapSnare, 3.5},
        {"bursts, cymbal focus", burst(), 0.9, BeatDetectionFocus::cymbal, 3.5},
        {"long kicks, full-mix focus", kick(0.18), 0.5, BeatDetectionFocus::fullMix, 3.5},
        {"kicks under a pad, full-mix focus", shortKick, 0.5, BeatDetectionFocus::fullMix, 3.5, true}};
    constexpr int steps = 5;
    const TestSignal padOnly = pad();
    for (const Case& c : cases) {
        for (int step = 0; step < steps; ++step) {
            const double offset = 0.0125 * step / steps;
            TestSignal song = c.pad ? padOnly : makeSilence(kSeconds, kRate, 1);
            std::vector<double> hits;
            for (double t = 0.5 + offset; t < kSeconds - 0.5; t += c.every) {
                addHit(song, c.hit, t, 0.7);
                hits.push_back(t);
            }
            const Detection d = detect(song, c.focus, BeatDetectionProfile::attack());
            const std::string where = std::string(c.name) + ", offset " + std::to_string(offset * 1000) + " ms";
            EXPECT_EQ(d.markers.size(), hits.size()) << where;
            for (double hit : hits) {
                const auto near = markersAround(d, hit);
                ASSERT_EQ(near.size(), 1u) << where << ", hit at " << hit;
                EXPECT_TRUE(near.front()->isEnabled) << where << ", hit at " << hit;
                const double lead = (hit - near.front()->time) / d.bucketSeconds;
                EXPECT_GE(lead, 2.0) << where << ", hit at " << hit;
                EXPECT_LE(lead, c.maxLeadBuckets) << where << ", hit at " << hit;
            }
        }
    }
}

// A steady pad keeps the envelope above a tenth of any hit's, so a search
// measured from silence would run to the end of its window. Hits are marked
// where their rise starts, as in silence, whether they pass on their peak or
// only further up their rise.
TEST(BeatMarkerHits, APadDoesNotPushTheMarkersOfHitsFoundOnTheirRiseAhead)
{
    const std::vector<float> sound = kick(0.07);
    const TestSignal padOnly = pad();
    std::vector<double> leads;
    for (int step = 0; step < 5; ++step) {
        TestSignal song = padOnly;
        std::vector<double> hits;
        for (double t = 0.5 + 0.0125 * step / 5; t < kSeconds - 0.5; t += 0.5) {
            addHit(song, sound, t, 0.7);
            hits.push_back(t);
        }
        const Detection d = detect(song, BeatDetectionFocus::fullMix, BeatDetectionProfile::attack());
        for (double hit : hits) {
            const auto near = markersAround(d, hit);
            ASSERT_EQ(near.size(), 1u) << "hit at " << hit;
            leads.push_back((hit - near.front()->time) / d.bucketSeconds);
        }
    }
    std::sort(leads.begin(), leads.end());
    EXPECT_LE(leads[leads.size() / 2], 5.0);
    EXPECT_GE(leads.front(), 2.0);
}

// A pad's partials beat against each other into a small ripple of the
// envelope; against the dip a kick's tail leaves, one such ripple can pass the
// score and contrast tests and draw a second, disabled marker beside the kick.
TEST(BeatMarkerHits, APadsRippleAfterAKickGivesNoSecondMarker)
{
    constexpr double seconds = 40;
    TestSignal song = makeSilence(seconds, kRate, 1);
    auto& samples = song.channels.front();
    for (double f : {103.4, 130.3, 154.9, 206.8}) {
        double phase = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            phase += 2 * std::numbers::pi * f / kRate;
            samples[i] += static_cast<float>(0.05 * std::min({1.0, t / 1.5, (seconds - t) / 0.05})
                * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
        }
    }
    const std::vector<float> sound = kick(0.07);
    std::vector<double> hits;
    for (double t = 0.5087; t < seconds - 0.5; t += 0.47) {
        addHit(song, sound, t, 0.5);
        hits.push_back(t);
    }
    addNoise(song, 0.004, 6);
    const Detection d = detect(song, BeatDetectionFocus::clapSnare, BeatDetectionProfile::attack());
    for (double hit : hits)
        EXPECT_EQ(markersAround(d, hit).size(), 1u) << "hit at " << hit;
    EXPECT_EQ(d.markers.size(), hits.size());
}

// The per-instrument profiles judge hits the same way (drums, bass, vocals and
// other share one profile).
TEST(BeatMarkerHits, InstrumentProfilesFindEveryHitOnce)
{
    struct Case {
        AutoBeatInstrument instrument;
        BeatDetectionFocus focus;
        std::vector<float> sound;
        double every;
    };
    const std::vector<Case> cases {{AutoBeatInstrument::kick, BeatDetectionFocus::kick, kick(0.07), 0.5},
        {AutoBeatInstrument::clapSnare, BeatDetectionFocus::clapSnare, burst(), 0.9},
        {AutoBeatInstrument::drums, BeatDetectionFocus::fullMix, kick(0.07), 0.5}};
    for (const Case& c : cases) {
        for (int step = 0; step < 4; ++step) {
            TestSignal song = makeSilence(kSeconds, kRate, 1);
            std::vector<double> hits;
            for (double t = 0.5 + 0.0125 * step / 4; t < kSeconds - 0.5; t += c.every) {
                addHit(song, c.sound, t, 0.7);
                hits.push_back(t);
            }
            const Detection d = detect(song, c.focus, BeatDetectionProfile::instrument(c.instrument));
            for (double t : hits) {
                const auto near = markersAround(d, t);
                ASSERT_EQ(near.size(), 1u) << toStored(c.instrument) << ", step " << step << ", hit at " << t;
                EXPECT_TRUE(near.front()->isEnabled);
            }
        }
    }
}

// Hits that fail for reasons of their own stay without a marker: a hit a
// quarter as loud as the others, which the level floor keeps out at its peak
// although the top of its rise would pass it, and the second of two hits
// closer than the minimum spacing (kept, but disabled).
TEST(BeatMarkerHits, QuietAndCrowdedHitsStayRejected)
{
    const std::vector<float> sound = kick(0.07);
    for (int step = 0; step < 4; ++step) {
        const double offset = 0.0125 * step / 4;
        TestSignal song = makeSilence(kSeconds, kRate, 1);
        std::vector<double> loud, quiet, crowded;
        for (double t = 0.5 + offset; t < kSeconds - 1; t += 1.0) {
            addHit(song, sound, t, 0.7);
            loud.push_back(t);
            if (static_cast<int>(t) % 2 == 0) {
                addHit(song, sound, t + 0.5, 0.18);
                quiet.push_back(t + 0.5);
            } else {
                addHit(song, sound, t + 0.12, 0.5);
                crowded.push_back(t + 0.12);
            }
        }
        const Detection d = detect(song, BeatDetectionFocus::clapSnare, BeatDetectionProfile::attack());
        for (double hit : loud) {
            const auto near = markersAround(d, hit);
            ASSERT_FALSE(near.empty()) << hit;
            EXPECT_TRUE(near.front()->isEnabled) << hit;
        }
        for (double hit : quiet)
            EXPECT_TRUE(markersAround(d, hit).empty()) << "quiet hit at " << hit;
        for (double hit : crowded) {
            // One enabled marker for the pair, the louder first hit's.
            std::size_t enabled = 0;
            for (const BeatMarker& m : d.markers) {
                if (m.isEnabled && m.time >= hit - 0.12 - kEarly && m.time <= hit + kLate) {
                    ++enabled;
                    EXPECT_LE(m.time, hit - 0.12) << "crowded hit at " << hit;
                }
            }
            EXPECT_EQ(enabled, 1u) << "crowded hit at " << hit;
        }
    }
}

// A hit that rides on the tail of the one before, or on a bed, never falls to
// a tenth of its own level before it: its marker must still lead it no more
// than a hit out of silence, for the spacing is judged on marker times and
// would switch off hits that lie farther apart than it.
TEST(BeatMarkerHits, HitsFartherApartThanTheSpacingKeepTheirMarkers)
{
    struct Case {
        const char* name;
        double gap;    // from a hit to the next
        double period; // from a pair to the next; 0 for a hit on every beat, kick and snare in turn
        double spacing;
        bool onBed;
    };
    const std::vector<Case> cases {{"kick and snare at 140 BPM", 60.0 / 140, 0, 0.40, false},
        {"kick and snare at 128 BPM", 60.0 / 128, 0, 0.45, false},
        {"kick pairs 0.24 s apart", 0.24, 1.0013, 0.22, false},
        {"kick pairs 0.24 s apart on a bed", 0.24, 1.0013, 0.22, true}};
    const std::vector<float> longKick = kick(0.18);
    const TestSignal bedOnly = bed();
    constexpr int steps = 4;
    for (const Case& c : cases) {
        for (int step = 0; step < steps; ++step) {
            const double offset = 0.0125 * step / steps;
            TestSignal song = c.onBed ? bedOnly : makeSilence(kSeconds, kRate, 1);
            std::vector<double> hits;
            if (c.period == 0) {
                for (int beat = 0; 0.5 + beat * c.gap < kSeconds - 0.5; ++beat) {
                    const double t = 0.5 + offset + beat * c.gap;
                    if (beat % 2 == 0)
                        addHit(song, longKick, t, 0.7);
                    else
                        addHit(song, snare(static_cast<std::uint32_t>(beat)), t, 0.5);
                    hits.push_back(t);
                }
            } else {
                for (double t = 0.5 + offset; t + c.gap < kSeconds - 0.5; t += c.period) {
                    addHit(song, longKick, t, 0.7);
                    addHit(song, longKick, t + c.gap, 0.7);
                    hits.push_back(t);
                    hits.push_back(t + c.gap);
                }
            }
            const Detection d = detect(song, BeatDetectionFocus::fullMix, BeatDetectionProfile::attack(), c.spacing);
            const std::string where = std::string(c.name) + ", offset " + std::to_string(offset * 1000) + " ms";
            std::size_t kept = 0;
            for (double hit : hits) {
                const BeatMarker* enabled = nullptr;
                for (const BeatMarker* m : markersAround(d, hit))
                    enabled = m->isEnabled ? m : enabled;
                if (!enabled) {
                    ADD_FAILURE() << where << ": no enabled marker for the hit at " << hit;
                    continue;
                }
                ++kept;
                EXPECT_LE((hit - enabled->time) / d.bucketSeconds, 4.0) << where << ", hit at " << hit;
            }
            EXPECT_EQ(kept, hits.size()) << where;
        }
    }
}

// On a drum stem the hats between the beats ride on the kick's and the
// snare's tails. A hat's marker must not run back to where nothing sounds,
// where it would also switch off the marker of the beat before it.
TEST(BeatMarkerHits, OffBeatHatsOnADrumStemAreMarkedOnTheirOwnRise)
{
    TestSignal song = makeSilence(kSeconds, kRate, 1);
    const std::vector<float> shortKick = kick(0.07);
    std::vector<double> beats, all;
    for (int beat = 0; 0.5 + beat * 0.5 < kSeconds - 1; ++beat) {
        const double t = 0.5041 + beat * 0.5;
        if (beat % 2 == 0)
            addHit(song, shortKick, t, 0.7);
        else
            addHit(song, snare(static_cast<std::uint32_t>(beat)), t, 0.5);
        addHit(song, hat(static_cast<std::uint32_t>(1000 + beat)), t, 0.12);
        addHit(song, hat(static_cast<std::uint32_t>(2000 + beat)), t + 0.25, 0.15);
        beats.push_back(t);
        all.push_back(t);
        all.push_back(t + 0.25);
    }
    addNoise(song, 0.002, 3);
    const Detection d = detect(
        song, BeatDetectionFocus::fullMix, BeatDetectionProfile::instrument(AutoBeatInstrument::drums), 0.22, 4);
    for (const BeatMarker& m : d.markers) {
        const bool onAHit = std::any_of(all.begin(), all.end(), [&](double hit) {
            return hit - m.time >= -kLate && hit - m.time <= 4 * d.bucketSeconds;
        });
        EXPECT_TRUE(onAHit) << "marker at " << m.time << " leads no hit";
    }
    for (double beat : beats) {
        const auto near = markersAround(d, beat);
        EXPECT_TRUE(std::any_of(near.begin(), near.end(), [](const BeatMarker* m) { return m->isEnabled; }))
            << "beat at " << beat;
    }
}
