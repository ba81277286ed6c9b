#include "model/app_text.h"
#include "stem_runtime/demucs_runtime_install_state.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_production_io.h"
#include "stem_runtime/demucs_runtime_texts.h"
#include "stem_runtime/runtime_package_fixture.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

namespace fotivela {
namespace {

using namespace test;

// The package this build made, found where the program looks by default, installed on first
// demand, then run with the separation command line.
TEST(RuntimeShipped, BuiltPackageInstallsAndSeparatesASong)
{
    AudioTestFolder folder("fotivela-runtime-shipped");
    ScopedEnvironment suite("DUSKMERE_TEST_ROOT", folder.path().string());
    ScopedEnvironment noOverride(DemucsRuntimePackage::urlVariable, "");
    ASSERT_FALSE(std::string(DemucsRuntimePackage::builtArchiveSha256()).empty()) << "this build made no package";
    const auto root = folder / "DemucsRuntime";
    EXPECT_FALSE(std::filesystem::exists(root));

    const auto handle = DemucsRuntimeManager::shared().readyRuntime();
    EXPECT_EQ(handle.version, DemucsRuntimePackage::builtVersion());
    EXPECT_EQ(handle.modelName, "htdemucs");
    EXPECT_EQ(DemucsRuntimeInstallState::readActiveRecord(root)->archiveSha256, DemucsRuntimePackage::builtArchiveSha256());
    EXPECT_EQ(DemucsRuntimeManager::shared().readyRuntime(), handle);

    auto song = makeSine(220.0, 2.0);
    addDrumHits(song, {0.25, 0.75, 1.25, 1.75});
    const auto input = writeAudioFile(folder.path(), "song.take.1", song, TestAudioFormat::wavFloat);
    const auto out = folder / "work";
    const auto result = DemucsRuntimeProductionIO::runProcess(handle.executableURL,
        {"-n", handle.modelName, "--repo", handle.modelRepositoryURL.string(), "--device", "cpu", "--segment", "7",
            "--out", out.string(), input.string()},
        DemucsRuntimeProductionIO::offlineEnvironment(handle.cacheURL), 300.0, {}, 65536, {});
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* stem : {"drums.wav", "bass.wav", "vocals.wav", "other.wav"})
        EXPECT_GT(std::filesystem::file_size(out / "htdemucs" / "song.take.1" / stem), 44u) << stem;
}

TEST(RuntimeShipped, EveryFailureTextHasItsEnglish)
{
    for (const char* text : DemucsRuntimeTexts::all) {
        const auto english = AppText::translate(text, AppLanguage::english);
        EXPECT_NE(english, text);
        EXPECT_EQ(AppText::translate(text, AppLanguage::spanish), text);
    }
}

} // namespace
} // namespace fotivela
