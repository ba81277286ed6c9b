#include "ui/preview/preview_transition_layer.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

using namespace fotivela;

namespace {

Slide slideWithID()
{
    Slide slide;
    slide.id = Uuid::random();
    return slide;
}

} // namespace

TEST(PreviewTransitionLayer, FirstSlideAppearsWithoutDissolveAndSameIdNeverDissolves)
{
    PreviewTransitionLayer layer;
    Slide a = slideWithID();
    layer.setCurrentSlide(a);
    EXPECT_FALSE(layer.outgoingSlide());
    EXPECT_EQ(layer.incomingOpacity(), 1.0);

    a.imageScale = 2;
    a.title = "Nuevo";
    layer.setCurrentSlide(a);
    EXPECT_FALSE(layer.outgoingSlide());
    EXPECT_EQ(layer.incomingOpacity(), 1.0);
    EXPECT_EQ(layer.currentSlide()->title, "Nuevo");
}

TEST(PreviewTransitionLayer, DissolvesAndDropsTheOutgoingSlideOnlyForItsOwnStep)
{
    PreviewTransitionLayer layer;
    const Slide a = slideWithID();
    const Slide b = slideWithID();
    const Slide c = slideWithID();
    layer.setCurrentSlide(a);
    layer.setCurrentSlide(b);
    ASSERT_TRUE(layer.outgoingSlide());
    EXPECT_EQ(layer.outgoingSlide()->id, a.id);
    EXPECT_LT(layer.incomingOpacity(), 0.05);

    QTest::qWait(200);
    EXPECT_GT(layer.incomingOpacity(), 0.0);
    EXPECT_LT(layer.incomingOpacity(), 1.0);
    // C within A's 0.74 s: B becomes the outgoing slide at once and outlives A's clean-up.
    layer.setCurrentSlide(c);
    QElapsedTimer sinceC;
    sinceC.start();
    EXPECT_EQ(layer.outgoingSlide()->id, b.id);
    QTest::qWait(600);
    // Only meaningful while C's own clean-up is still ahead (a loaded machine may oversleep).
    if (sinceC.elapsed() < PreviewTransitionLayer::cleanupMilliseconds - 20) {
        ASSERT_TRUE(layer.outgoingSlide());
        EXPECT_EQ(layer.outgoingSlide()->id, b.id);
    }
    QTest::qWait(300);
    EXPECT_FALSE(layer.outgoingSlide());
    EXPECT_EQ(layer.incomingOpacity(), 1.0);
}

TEST(PreviewTransitionLayer, CutShowsTheNewSlideAtOnceAndChangingTransitionSettles)
{
    PreviewTransitionLayer layer;
    layer.setTransition(SlideTransition::cut);
    const Slide a = slideWithID();
    const Slide b = slideWithID();
    layer.setCurrentSlide(a);
    layer.setCurrentSlide(b);
    EXPECT_FALSE(layer.outgoingSlide());
    EXPECT_EQ(layer.incomingOpacity(), 1.0);

    layer.setTransition(SlideTransition::dissolve);
    layer.setCurrentSlide(a);
    ASSERT_TRUE(layer.outgoingSlide());
    layer.setTransition(SlideTransition::cut);
    EXPECT_FALSE(layer.outgoingSlide());
    EXPECT_EQ(layer.incomingOpacity(), 1.0);
    EXPECT_EQ(layer.lastSlide()->id, a.id);
}
