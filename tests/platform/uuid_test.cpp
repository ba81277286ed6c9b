#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace fotivela;

TEST(Uuid, PrintsUpperCaseAndParsesEitherCase)
{
    const auto id = Uuid::parse("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->toString(), "3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    EXPECT_EQ(Uuid::parse(id->toString()), id);
}

TEST(Uuid, RejectsEveryOtherForm)
{
    for (const char* bad : {"", "3F2504E0-4F89-41D3-9A0C-0305E82C330", "3F2504E0-4F89-41D3-9A0C-0305E82C33011",
                            "{3F2504E0-4F89-41D3-9A0C-0305E82C3301}", "3F2504E04F8941D39A0C0305E82C3301",
                            "3F2504E0-4F89-41D3-9A0C_0305E82C3301", "3F2504E0-4F89-41D3-9A0C-0305E82C33G1",
                            " 3F2504E0-4F89-41D3-9A0C-0305E82C330", "3F2504E0-4F8-941D3-9A0C-0305E82C3301"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
}

TEST(Uuid, RandomIdsAreVersionFourAndDistinct)
{
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto id = Uuid::random();
        EXPECT_EQ(id.toString()[14], '4');
        EXPECT_NE(std::string("89AB").find(id.toString()[19]), std::string::npos);
        EXPECT_TRUE(seen.insert(id).second);
    }
}
