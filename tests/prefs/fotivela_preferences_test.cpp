#include "model/app_language.h"
#include "model/fotivela_preferences.h"
#include "model/project_file_layout.h"
#include "platform/uuid.h"
#include "temporary_folder.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

using namespace fotivela;
using fotivela::testing::readBytes;
using fotivela::testing::ScopedEnvironment;
using fotivela::testing::StorageRoot;
using fotivela::testing::TemporaryFolder;
using fotivela::testing::writeText;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

PlistValue::Dictionary decodedFile(const fs::path& url)
{
    const auto parsed = parsePropertyList(readBytes(url));
    if (!parsed || !parsed->as<PlistValue::Dictionary>())
        return {{"<undecodable>", PlistValue(true)}};
    return *parsed->as<PlistValue::Dictionary>();
}

std::vector<std::string> entriesOf(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(FotivelaPreferences, FirstStartWritesAnEmptyPrivateFile)
{
    StorageRoot temp;
    const auto directory = temp.path() / "suite" / "Fotivela";
    FotivelaPreferences preferences(directory, {});
    EXPECT_FALSE(preferences.preservesUnreadableDestination());
    EXPECT_EQ(preferences.url(), directory / "Preferences.plist");
    EXPECT_EQ(decodedFile(preferences.url()), PlistValue::Dictionary{});
    EXPECT_EQ(modeOf(temp.path() / "suite"), 0700u);
    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_EQ(modeOf(preferences.url()), 0600u);
    EXPECT_EQ(preferences.object("showInterfaceTooltips"), std::nullopt);
}

TEST(FotivelaPreferences, MigratesOnlyTheKnownLegacyKeys)
{
    StorageRoot temp;
    const PlistValue::Dictionary legacy{
        {"showInterfaceTooltips", PlistValue(false)}, {"appLanguage", PlistValue("en")}, {"NSWindow Frame", PlistValue("0 0 10 10")}};
    FotivelaPreferences preferences(temp.path(), legacy);
    const PlistValue::Dictionary expected{{"showInterfaceTooltips", PlistValue(false)}, {"appLanguage", PlistValue("en")}};
    EXPECT_EQ(decodedFile(preferences.url()), expected);
    EXPECT_EQ(preferences.object("appLanguage"), PlistValue("en"));
    EXPECT_EQ(preferences.object("NSWindow Frame"), std::nullopt);
}

TEST(FotivelaPreferences, ReadableFileIsTakenAsItStandsAndNotRewritten)
{
    StorageRoot temp;
    // An XML file stays XML until the first change: start-up writes nothing.
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>fotivela.appLanguage</key><string>es</string><key>stemSecondsPerAudioSecond</key><string>rapido</string></dict></plist>)";
    writeText(temp.path() / "Preferences.plist", xml);
    FotivelaPreferences preferences(temp.path(), {{"showInterfaceTooltips", PlistValue(true)}});
    EXPECT_FALSE(preferences.preservesUnreadableDestination());
    EXPECT_EQ(preferences.object("showInterfaceTooltips"), std::nullopt);
    // A value of an unexpected type is handed back as it is.
    EXPECT_EQ(preferences.object("stemSecondsPerAudioSecond"), PlistValue("rapido"));
    const auto bytes = readBytes(preferences.url());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), xml);

    preferences.setValue("showInterfaceTooltips", PlistValue(false));
    const PlistValue::Dictionary expected{{"fotivela.appLanguage", PlistValue("es")},
                                          {"stemSecondsPerAudioSecond", PlistValue("rapido")},
                                          {"showInterfaceTooltips", PlistValue(false)}};
    EXPECT_EQ(decodedFile(preferences.url()), expected);
}

namespace {

// A binary list whose key "idiomé" ends in U+0000 instead of "é": the library cannot hand it over.
std::string binaryListWithNulInAKey()
{
    auto bytes = binaryPropertyList(PlistValue(PlistValue::Dictionary{{"idiom\xC3\xA9", PlistValue("es")}}));
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0x00 && bytes[i + 1] == 0xE9) {
            bytes[i + 1] = 0x00;
            break;
        }
    }
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(FotivelaPreferences, UnreadableFileIsPreservedByteForByte)
{
    for (const std::string& content :
         {std::string("esto no es una lista de propiedades\n"),
          std::string(R"(<?xml version="1.0"?><plist version="1.0"><array><string>a</string></array></plist>)"),
          binaryListWithNulInAKey()}) {
        StorageRoot temp;
        const auto url = temp.path() / "Preferences.plist";
        writeText(url, content);
        ::testing::internal::CaptureStderr();
        FotivelaPreferences preferences(temp.path(), {{"appLanguage", PlistValue("en")}});
        preferences.setValue("showInterfaceTooltips", PlistValue(true));
        preferences.setValue("fotivela.appLanguage", PlistValue("en"));
        const std::string log = ::testing::internal::GetCapturedStderr();

        EXPECT_TRUE(preferences.preservesUnreadableDestination());
        const auto bytes = readBytes(url);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
        EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"Preferences.plist"});
        // The run goes on with the migrated values and its own changes, in memory.
        EXPECT_EQ(preferences.object("appLanguage"), PlistValue("en"));
        EXPECT_EQ(preferences.object("showInterfaceTooltips"), PlistValue(true));
        const std::string line = "Fotivela: preferencias existentes ilegibles conservadas; guardado pendiente de recuperación\n";
        EXPECT_EQ(log, line + line + line);
    }
}

TEST(FotivelaPreferences, WriteFailureIsLoggedAndKeepsTheValueInMemory)
{
    StorageRoot temp;
    writeText(temp.path() / "blocker", "a file where the folder should be");
    ::testing::internal::CaptureStderr();
    FotivelaPreferences preferences(temp.path() / "blocker" / "Fotivela", {});
    preferences.setValue("showInterfaceTooltips", PlistValue(false));
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Fotivela: no se pudieron guardar preferencias: "), std::string::npos) << log;
    EXPECT_EQ(preferences.object("showInterfaceTooltips"), PlistValue(false));
}

TEST(FotivelaPreferences, TextThatWouldNotReadBackIsNeverWritten)
{
    StorageRoot temp;
    FotivelaPreferences preferences(temp.path(), {});
    preferences.setValue("fotivela.appLanguage", PlistValue("es"));
    const auto before = readBytes(preferences.url());
    ::testing::internal::CaptureStderr();
    // A folder name in another encoding than UTF-8.
    preferences.setValue("defaultProjectDirectory", PlistValue("/home/ana/V\xED" "deos"));
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Fotivela: no se pudieron guardar preferencias: "), std::string::npos) << log;
    EXPECT_EQ(readBytes(preferences.url()), before);
    EXPECT_EQ(preferences.object("defaultProjectDirectory"), PlistValue("/home/ana/V\xED" "deos"));

    FotivelaPreferences reread(temp.path(), {});
    EXPECT_FALSE(reread.preservesUnreadableDestination());
    EXPECT_EQ(reread.object("fotivela.appLanguage"), PlistValue("es"));
}

TEST(FotivelaPreferences, ConcurrentWritersNeverInterleave)
{
    StorageRoot temp;
    FotivelaPreferences preferences(temp.path(), {});
    constexpr int writers = 6;
    constexpr int rounds = 60;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 1; i <= rounds; ++i) {
                preferences.setValue("writer." + std::to_string(w), PlistValue(i));
                preferences.setValue("shared", PlistValue(std::to_string(w)));
                EXPECT_TRUE(preferences.object("writer." + std::to_string(w)));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    const auto stored = decodedFile(preferences.url());
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(stored.at("writer." + std::to_string(w)), PlistValue(rounds)) << w;
    EXPECT_EQ(stored.at("shared"), preferences.object("shared"));
    EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"Preferences.plist"});
}

TEST(FotivelaPreferences, FileRoundTripsThroughPlistutil)
{
    StorageRoot temp;
    {
        FotivelaPreferences preferences(temp.path(), {});
        preferences.setValue("recentProjects", PlistValue(PlistValue::Data{'[', '\n', ']'}));
        preferences.setValue("defaultProjectDirectory", PlistValue("/home/ana/Vídeos/Fotivela Projects"));
        preferences.setValue("showInterfaceTooltips", PlistValue(false));
        preferences.setValue("stemSecondsPerAudioSecond", PlistValue(1.15));
        preferences.setValue("fotivela.appLanguage", PlistValue("es"));
        // Kinds our keys do not use yet, checked against the tool's reading of them.
        using namespace std::chrono;
        preferences.setValue("checkedAt", PlistValue(PlistValue::Date(sys_days(2026y / March / 1) + 9h + 30min)));
        preferences.setValue("offset", PlistValue(-5));
    }
    const auto url = temp.path() / "Preferences.plist";
    const auto original = readBytes(url);
    const auto xml = temp.path() / "preferences.xml";
    const auto back = temp.path() / "again";
    fs::create_directory(back);

    auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start("plistutil", arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    };
    run({"-i", QString::fromStdString(url.string()), "-o", QString::fromStdString(xml.string()), "-f", "xml"});
    const auto xmlBytes = readBytes(xml);
    const std::string xmlText(xmlBytes.begin(), xmlBytes.end());
    EXPECT_NE(xmlText.find("<key>stemSecondsPerAudioSecond</key>"), std::string::npos) << xmlText;
    EXPECT_NE(xmlText.find("<false/>"), std::string::npos);
    EXPECT_NE(xmlText.find("<date>2026-03-01T09:30:00Z</date>"), std::string::npos);
    EXPECT_NE(xmlText.find("<integer>-5</integer>"), std::string::npos);
    run({"-i", QString::fromStdString(xml.string()), "-o", QString::fromStdString((back / "Preferences.plist").string()),
         "-f", "bin"});

    // Both the tool's XML and its binary read back to the same values.
    fs::create_directories(temp.path() / "from-xml");
    fs::copy_file(xml, temp.path() / "from-xml" / "Preferences.plist");
    FotivelaPreferences readXml(temp.path() / "from-xml", {});
    FotivelaPreferences readBinary(back, {});
    for (const auto* reread : {&readXml, &readBinary}) {
        EXPECT_FALSE(reread->preservesUnreadableDestination());
        EXPECT_EQ(decodedFile(reread->url()).size(), 7u);
        EXPECT_EQ(reread->object("defaultProjectDirectory"), PlistValue("/home/ana/Vídeos/Fotivela Projects"));
        EXPECT_EQ(reread->object("stemSecondsPerAudioSecond"), PlistValue(1.15));
        EXPECT_EQ(reread->object("recentProjects"), PlistValue(PlistValue::Data{'[', '\n', ']'}));
        EXPECT_EQ(reread->object("showInterfaceTooltips"), PlistValue(false));
    }
    EXPECT_EQ(decodedFile(url), decodedFile(back / "Preferences.plist"));
    EXPECT_EQ(readBytes(url), original);
}

TEST(FotivelaPreferences, LanguageIsStoredAndReadBack)
{
    StorageRoot temp;
    ScopedEnvironment language("LANGUAGE", "es_ES");
    FotivelaPreferences preferences(temp.path(), {});
    EXPECT_EQ(AppLanguages::storedOrDetected(preferences), AppLanguage::spanish);
    AppLanguages::applyRuntimeLocalization(AppLanguage::english, preferences);
    EXPECT_EQ(decodedFile(preferences.url()).at("fotivela.appLanguage"), PlistValue("en"));
    EXPECT_EQ(AppLanguages::storedOrDetected(preferences), AppLanguage::english);
    // Only the exact texts count: anything else is detected again, and nothing is written.
    preferences.setValue("fotivela.appLanguage", PlistValue("EN"));
    EXPECT_EQ(AppLanguages::storedOrDetected(preferences), AppLanguage::spanish);
    preferences.setValue("fotivela.appLanguage", PlistValue(true));
    EXPECT_EQ(AppLanguages::storedOrDetected(preferences), AppLanguage::spanish);
    EXPECT_EQ(preferences.object("fotivela.appLanguage"), PlistValue(true));
}

TEST(FotivelaPreferences, SharedStoreLivesInTheProgramsFolderOfTheSuite)
{
    // The only test of this executable that touches the process-wide store.
    StorageRoot temp;
    AppLanguages::applyRuntimeLocalization(AppLanguage::english);
    EXPECT_EQ(FotivelaPreferences::shared().url(), temp.path() / "Fotivela" / "Preferences.plist");
    EXPECT_EQ(decodedFile(temp.path() / "Fotivela" / "Preferences.plist"),
              (PlistValue::Dictionary{{"fotivela.appLanguage", PlistValue("en")}}));
    EXPECT_EQ(AppLanguages::storedOrDetected(), AppLanguage::english);
}

TEST(FotivelaPreferences, DefaultProjectDirectory)
{
    StorageRoot temp;
    ScopedEnvironment home("HOME", temp.path().string());
    ScopedEnvironment config("XDG_CONFIG_HOME", (temp.path() / "config").string());
    writeText(temp.path() / "config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documentos\"\n");
    FotivelaPreferences preferences(temp.path() / "prefs", {});

    EXPECT_EQ(ProjectFileLayout::loadDefaultProjectDirectory("defaultProjectDirectory", preferences),
              temp.path() / "Documentos" / "Fotivela Projects");
    preferences.setValue("defaultProjectDirectory", PlistValue(""));
    EXPECT_EQ(ProjectFileLayout::loadDefaultProjectDirectory("defaultProjectDirectory", preferences),
              temp.path() / "Documentos" / "Fotivela Projects");
    preferences.setValue("defaultProjectDirectory", PlistValue("/media/ana/Proyectos"));
    EXPECT_EQ(ProjectFileLayout::loadDefaultProjectDirectory("defaultProjectDirectory", preferences), fs::path("/media/ana/Proyectos"));
}

TEST(FotivelaPreferencesDeathTest, SharedStoreOutlivesEveryExitHandler)
{
    // A fresh process, so that the store is made after the handler below is registered.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static TemporaryFolder* folder = new TemporaryFolder;
            setenv("DUSKMERE_TEST_ROOT", folder->path().c_str(), 1);
            // The random source of the file names registers its own clean-up; it must run after ours.
            (void)Uuid::random();
            // Runs after everything registered later, as a write that arrives while the program quits.
            std::atexit([] {
                FotivelaPreferences::shared().setValue("stemSecondsPerAudioSecond", PlistValue(1.2));
                const bool kept = decodedFile(folder->path() / "Fotivela" / "Preferences.plist").size() == 2;
                fs::remove_all(folder->path());
                std::_Exit(kept ? 0 : 1);
            });
            FotivelaPreferences::shared().setValue("showInterfaceTooltips", PlistValue(false));
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}
