#pragma once

#include "platform/plist_value.h"

#include <array>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela {

// The program's own settings, kept in memory and written as the binary property list
// "Preferences.plist" in the program's folder of the suite folder. One process-wide instance.
class FotivelaPreferences {
public:
    // The settings older versions kept elsewhere, in the order they are carried over.
    static constexpr std::array<std::string_view, 6> migratedKeys{
        "recentProjects", "defaultProjectDirectory", "showInterfaceTooltips",
        "appLanguage", "fotivela.appLanguage", "stemSecondsPerAudioSecond"};

    // The process-wide store in <suite folder>/Fotivela. Linux keeps no older settings elsewhere,
    // so its legacy source is empty.
    static FotivelaPreferences& shared();

    // Reads directory/"Preferences.plist"; when that is missing or unreadable, takes the migrated
    // keys from `legacy` and writes them only if nothing stands at the file's place. Never fails.
    FotivelaPreferences(const std::filesystem::path& directory, const PlistValue::Dictionary& legacy);

    FotivelaPreferences(const FotivelaPreferences&) = delete;
    FotivelaPreferences& operator=(const FotivelaPreferences&) = delete;

    // A copy of the value under the key, or nothing.
    std::optional<PlistValue> object(const std::string& key) const;

    // The writer order every setting follows: take the lock, set the key, persist, release. Two
    // writers never interleave their file writes.
    void setValue(const std::string& key, PlistValue value);

    const std::filesystem::path& url() const { return m_url; }
    bool preservesUnreadableDestination() const { return m_preservesUnreadableDestination; }

private:
    // Writes the values to the file; the caller holds the lock.
    void persist();

    mutable std::mutex m_lock;
    std::filesystem::path m_url;
    PlistValue::Dictionary m_values;
    // An unreadable file stood at the file's place at start: it is never overwritten in this run.
    bool m_preservesUnreadableDestination = false;
};

} // namespace fotivela
