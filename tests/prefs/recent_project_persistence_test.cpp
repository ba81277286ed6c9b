#include "model/fotivela_preferences.h"
#include "model/recent_project_persistence.h"
#include "temporary_folder.h"

#include <gtest/gtest.h>

using namespace fotivela;
using namespace std::chrono;
using fotivela::testing::StorageRoot;
namespace fs = std::filesystem;

namespace {

RecentProject entry(int n, const std::string& name = "")
{
    const auto dir = "/home/ana/Fotivela Projects/P" + std::to_string(n);
    return RecentProject{name.empty() ? "Proyecto " + std::to_string(n) : name, fs::path(dir) / ("P" + std::to_string(n) + ".fotivela"),
                         sys_days(2026y / 1 / 1) + hours(n)};
}

std::vector<RecentProject> entries(int from, int to)
{
    std::vector<RecentProject> list;
    for (int n = from; n <= to; ++n)
        list.push_back(entry(n));
    return list;
}

void storeText(FotivelaPreferences& preferences, const std::string& text)
{
    preferences.setValue("recentProjects", PlistValue(PlistValue::Data(text.begin(), text.end())));
}

} // namespace

TEST(RecentProjectPersistence, RememberingKeepsEightNewestFirst)
{
    using RecentProjectPersistence::remembering;
    const auto eight = entries(1, 8);
    const auto nine = remembering(entry(9), eight);
    ASSERT_EQ(nine.size(), 8u);
    EXPECT_EQ(nine.front(), entry(9));
    EXPECT_EQ(nine.back(), entry(7));

    // Remembering a listed project moves it to the front with its new name and date.
    auto again = entry(5, "Boda renombrada");
    again.savedAt += hours(100);
    const auto moved = remembering(again, eight);
    ASSERT_EQ(moved.size(), 8u);
    EXPECT_EQ(moved.front(), again);
    EXPECT_EQ(std::count_if(moved.begin(), moved.end(), [&](const RecentProject& e) { return e.url == again.url; }), 1);

    // The same folder spelt differently is another entry: URLs compare as written.
    auto other = entry(1);
    other.url = "/home/ana/Fotivela Projects/./P1/P1.fotivela";
    EXPECT_EQ(remembering(other, eight).size(), 8u);
    EXPECT_EQ(remembering(other, entries(1, 3)).size(), 4u);
}

TEST(RecentProjectPersistence, RemovingDropsEveryEntryOfThatFile)
{
    auto list = entries(1, 4);
    list.push_back(entry(2, "Duplicado"));
    const auto result = RecentProjectPersistence::removing(entry(2), list);
    EXPECT_EQ(result, (std::vector<RecentProject>{entry(1), entry(3), entry(4)}));
    EXPECT_EQ(RecentProjectPersistence::removing(entry(9), list), list);
}

TEST(RecentProjectPersistence, SavedListLoadsBackAndIsTheProgramsJson)
{
    StorageRoot temp;
    FotivelaPreferences preferences(temp.path(), {});
    EXPECT_TRUE(RecentProjectPersistence::load(preferences).empty());

    auto list = entries(1, 3);
    list[0].savedAt += milliseconds(700); // dates are kept to the whole second
    list[1].url = "/home/ana/Vídeos/Año nuevo/Año nuevo.fotivela";
    RecentProjectPersistence::save(list, preferences);

    const auto stored = preferences.object("recentProjects");
    ASSERT_TRUE(stored && stored->as<PlistValue::Data>());
    const auto& bytes = *stored->as<PlistValue::Data>();
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("[\n  {\n    \"name\" : \"Proyecto 1\",\n    \"savedAt\" : \"2026-01-01T01:00:00Z\",\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"url\" : \"file:\\/\\/\\/home\\/ana\\/V%C3%ADdeos\\/A%C3%B1o%20nuevo\\/"), std::string::npos) << text;

    list[0].savedAt = floor<seconds>(list[0].savedAt);
    EXPECT_EQ(RecentProjectPersistence::load(preferences), list);
    // A second store on the same file sees what was written.
    FotivelaPreferences reread(temp.path(), {});
    EXPECT_EQ(RecentProjectPersistence::load(reread), list);
}

TEST(RecentProjectPersistence, LongerListsLoadWholeAndAreTrimmedOnTheNextRemember)
{
    StorageRoot temp;
    FotivelaPreferences preferences(temp.path(), {});
    RecentProjectPersistence::save(entries(1, 12), preferences);
    const auto loaded = RecentProjectPersistence::load(preferences);
    EXPECT_EQ(loaded.size(), 12u);
    const auto remembered = RecentProjectPersistence::remembering(entry(20), loaded);
    EXPECT_EQ(remembered.size(), 8u);
    EXPECT_EQ(remembered[7], entry(7));
}

TEST(RecentProjectPersistence, AnythingUndecodableLoadsAsEmpty)
{
    StorageRoot temp;
    FotivelaPreferences preferences(temp.path(), {});
    for (const std::string& text :
         {std::string("no json"), std::string("{}"),
          std::string(R"([{"name":"A","url":"file:\/\/\/a\/A.fotivela"}])"),
          std::string(R"([{"name":"A","url":"file:\/\/\/a\/A.fotivela","savedAt":"2026-01-01T10:00:00.5Z"}])"),
          std::string(R"([{"name":"A","url":"relative\/A.fotivela","savedAt":"2026-01-01T10:00:00Z"}])")}) {
        storeText(preferences, text);
        EXPECT_TRUE(RecentProjectPersistence::load(preferences).empty()) << text;
    }
    preferences.setValue("recentProjects", PlistValue("[]"));
    EXPECT_TRUE(RecentProjectPersistence::load(preferences).empty());

    storeText(preferences, R"([{"name":"A","url":"file:\/\/\/a\/A.fotivela","savedAt":"2026-01-01T10:00:00Z","extra":1}])");
    const auto one = RecentProjectPersistence::load(preferences);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].url, fs::path("/a/A.fotivela"));
}
