// The marker detector on songs made here with known hits, analysed and
// detected the way the store does it.

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
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

Detection detect(const TestSignal& song, BeatDetectionFocus focus, const BeatDetectionProfile& profile)
{
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(song.channels, kRate, 1400, focus);
    const double duration = song.durationSeconds();
    const auto all = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, duration, 0.0, 1, profile, std::nullopt, true), 0.22);
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
    // In silence the onset is found two to three buckets back; a decaying tail or a
    // pad keeps the envelope up, and the search runs on towards the end of its
    // window, which for a hit judged further up its rise starts from where it passes.
    const std::vector<Case> cases {{"kicks, clap-snare focus", shortKick, 0.5, BeatDetectionFocus::clapSnare, 3.5},
        {"kicks, kick focus", shortKick, 0.5, BeatDetectionFocus::kick, 3.5},
        {"kicks, full-mix focus", shortKick, 0.5, BeatDetectionFocus::fullMix, 3.5},
        {"bursts, clap-snare focus", burst(), 0.9, BeatDetectionFocus::clapSnare, 3.5},
        {"bursts, cymbal focus", burst(), 0.9, BeatDetectionFocus::cymbal, 3.5},
        {"long kicks, full-mix focus", kick(0.18), 0.5, BeatDetectionFocus::fullMix, 5.5},
        {"kicks under a pad, full-mix focus", shortKick, 0.5, BeatDetectionFocus::fullMix, 7.5, true}};
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
