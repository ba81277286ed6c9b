#include "store_edit_test_support.h"
#include "store_test_support.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreAudio = StoreTest;

TEST_F(StoreAudio, TheSongFadesOutBeforeTheCutAndIsSilentFromIt)
{
    ProjectStore store;
    const auto volume = [&](double t) { return ProjectStoreEditTestAccess::mainAudioVolume(store, t); };
    EXPECT_EQ(volume(3), 1.0f);

    AudioTrack track = makeTrack(SyncMode::manual);
    track.cutToSlideshowDuration = true;
    track.cutFadeOutDuration = 2;
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = track;
        p.slides = {makeSlide(10)};
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(30);
    EXPECT_EQ(volume(8), 1.0f);
    EXPECT_FLOAT_EQ(volume(9), 0.5f);
    EXPECT_EQ(volume(10), 0.0f);
    EXPECT_EQ(volume(std::nan("")), 1.0f);

    // A fade longer than the slideshow starts at 0; one shorter than 0.2 s lasts 0.2 s.
    store.modifyProject([](FotivelaProject& p) { p.audio->cutFadeOutDuration = 40; });
    EXPECT_FLOAT_EQ(volume(5), 0.5f);
    store.modifyProject([](FotivelaProject& p) { p.audio->cutFadeOutDuration = 0; });
    EXPECT_FLOAT_EQ(volume(9.9), 0.5f);

    store.setIsMainAudioMuted(true);
    EXPECT_EQ(volume(1), 0.0f);
    store.setIsMainAudioMuted(false);
    store.setAudioDuration(10);
    EXPECT_EQ(volume(9.9), 1.0f);
}

} // namespace
