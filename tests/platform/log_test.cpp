#include "platform/log.h"

#include <gtest/gtest.h>

TEST(Log, WritesOneLineToStderr)
{
    testing::internal::CaptureStderr();
    fotivela::logLine("Fotivela test line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fotivela test line\n");
}
