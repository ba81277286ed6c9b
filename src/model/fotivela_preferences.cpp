#include "model/fotivela_preferences.h"

#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fotivela {

namespace {

constexpr std::string_view preferencesFileName = "Preferences.plist";

std::optional<PlistValue::Dictionary> readDictionary(const std::filesystem::path& url)
{
    std::ifstream in(url, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    auto parsed = parsePropertyList(bytes);
    if (!parsed)
        return std::nullopt;
    if (auto* dictionary = std::get_if<PlistValue::Dictionary>(&parsed->value))
        return std::move(*dictionary);
    return std::nullopt;
}

// A place that cannot even be looked at counts as taken: it may hold the user's file.
bool somethingExistsAt(const std::filesystem::path& url)
{
    struct stat info {};
    return lstat(url.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

} // namespace

FotivelaPreferences& FotivelaPreferences::shared()
{
    // Never destroyed: a writer that finishes while the program quits still finds it whole.
    static auto* const instance = new FotivelaPreferences(DuskmereStorage::suiteDirectory() / "Fotivela", PlistValue::Dictionary{});
    return *instance;
}

FotivelaPreferences::FotivelaPreferences(const std::filesystem::path& directory, const PlistValue::Dictionary& legacy)
    : m_url(directory / std::string(preferencesFileName))
{
    if (auto stored = readDictionary(m_url)) {
        m_values = std::move(*stored);
        return;
    }
    for (const auto key : migratedKeys) {
        if (const auto found = legacy.find(std::string(key)); found != legacy.end())
            m_values.insert_or_assign(found->first, found->second);
    }
    m_preservesUnreadableDestination = somethingExistsAt(m_url);
    // Nothing else can see the object yet.
    persist();
}

std::optional<PlistValue> FotivelaPreferences::object(const std::string& key) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

void FotivelaPreferences::setValue(const std::string& key, PlistValue value)
{
    std::lock_guard lock(m_lock);
    m_values.insert_or_assign(key, std::move(value));
    persist();
}

void FotivelaPreferences::persist()
{
    if (m_preservesUnreadableDestination) {
        logLine("Fotivela: preferencias existentes ilegibles conservadas; guardado pendiente de recuperación");
        return;
    }
    const auto folder = m_url.parent_path();
    if (!DuskmereStorage::createPrivateDirectories(folder)) {
        logLine("Fotivela: no se pudieron guardar preferencias: no se pudo crear la carpeta " + folder.string());
        return;
    }
    try {
        const auto bytes = binaryPropertyList(PlistValue(m_values));
        atomicWriteFile(m_url, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600);
    } catch (const FileWriteError& error) {
        logLine(std::string("Fotivela: no se pudieron guardar preferencias: ") + error.what() + " (" +
                std::strerror(error.errorNumber()) + ")");
    } catch (const std::exception& error) {
        logLine(std::string("Fotivela: no se pudieron guardar preferencias: ") + error.what());
    }
}

} // namespace fotivela
