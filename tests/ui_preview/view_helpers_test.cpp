#include "ui/common/view_helpers.h"

#include <gtest/gtest.h>

#include <limits>

using namespace fotivela;

TEST(ViewHelpers, FormatDurationRoundsHalvesUpAndClampsNonsense)
{
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(59.4), "0:59");
    EXPECT_EQ(formatDuration(59.5), "1:00");
    EXPECT_EQ(formatDuration(3725), "62:05");
    EXPECT_EQ(formatDuration(-3), "0:00");
    EXPECT_EQ(formatDuration(std::numeric_limits<double>::infinity()), "0:00");
    EXPECT_EQ(formatDuration(std::numeric_limits<double>::quiet_NaN()), "0:00");
}

TEST(ViewHelpers, FormatPreviewTimecodeShowsHundredths)
{
    EXPECT_EQ(formatPreviewTimecode(0), "00:00:00");
    EXPECT_EQ(formatPreviewTimecode(61.257), "01:01:26");
    EXPECT_EQ(formatPreviewTimecode(0.004), "00:00:00");
    EXPECT_EQ(formatPreviewTimecode(0.005), "00:00:01");
    EXPECT_EQ(formatPreviewTimecode(6000), "100:00:00");
    EXPECT_EQ(formatPreviewTimecode(-1.5), "00:00:00");
    EXPECT_EQ(formatPreviewTimecode(-std::numeric_limits<double>::infinity()), "00:00:00");
    EXPECT_EQ(formatPreviewTimecode(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
}

TEST(ViewHelpers, InstrumentColoursAreFixedAndDistinct)
{
    EXPECT_EQ(instrumentColor(AutoBeatInstrument::kick), instrumentColor(AutoBeatInstrument::kick));
    EXPECT_NE(instrumentColor(AutoBeatInstrument::kick), instrumentColor(AutoBeatInstrument::bass));
    const QColor drums = instrumentColor(AutoBeatInstrument::drums);
    EXPECT_NEAR(drums.redF(), 0.98, 1e-3);
    EXPECT_NEAR(drums.greenF(), 0.52, 1e-3);
    EXPECT_NEAR(drums.blueF(), 0.24, 1e-3);
    EXPECT_EQ(drums.alphaF(), 1.0f);
}
