#include "model/project_json.h"
#include "platform/json_encoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace fotivela;
namespace fs = std::filesystem;

// Inputs the fuzzer once crashed on: each must now decode and survive a
// write and read back unchanged, or fail with a decoding error.
TEST(FuzzFindings, EveryFoundInputDecodesCleanlyOrFails)
{
    const auto folder = fs::path(FOTIVELA_TEST_SOURCE_DIR) / "data";
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with("fuzz-"))
            continue;
        ++count;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        try {
            const auto project = decodeProject(bytes.str());
            const auto text = encodeProject(project);
            const auto again = decodeProject(text);
            EXPECT_EQ(again, project) << entry.path();
            EXPECT_EQ(encodeProject(again), text) << entry.path();
        } catch (const JsonDecodingError&) {
        }
    }
    EXPECT_GE(count, 1u);
}
