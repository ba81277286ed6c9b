#pragma once

#include "model/recent_project.h"

#include <vector>

namespace fotivela {

class FotivelaPreferences;

// The recently used projects, newest first, kept in the preferences under "recentProjects" as
// the JSON array of the program's JSON encoding.
namespace RecentProjectPersistence {

inline constexpr std::size_t maximumCount = 8;
inline constexpr std::string_view preferencesKey = "recentProjects";

// The stored list as it stands (not sorted, trimmed or checked against the disk); empty when it is
// missing or cannot be decoded.
std::vector<RecentProject> load(FotivelaPreferences& preferences);
std::vector<RecentProject> load();

// The entry first, every entry with the same file removed, at most eight entries.
std::vector<RecentProject> remembering(const RecentProject& entry, const std::vector<RecentProject>& list);

// The list without the entries with the same file, order kept.
std::vector<RecentProject> removing(const RecentProject& entry, const std::vector<RecentProject>& list);

// Stores the list with the preferences' writer order; a list that cannot be encoded is not stored.
void save(const std::vector<RecentProject>& list, FotivelaPreferences& preferences);
void save(const std::vector<RecentProject>& list);

} // namespace RecentProjectPersistence

} // namespace fotivela
