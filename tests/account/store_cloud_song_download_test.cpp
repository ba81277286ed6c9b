// The store installs a cloud song that comes as an address: fetched by the account client's
// curl runner from the local service on loopback.

#include "account_test_support.h"

#include "account/account_error.h"
#include "store/project_store.h"

#include <QTest>

#include <gtest/gtest.h>

namespace fotivela {
namespace {

namespace fs = std::filesystem;

std::string errorText(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

class StoreCloudSongDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        fixture.service.setMusicAsDownload(true);
        fixture.api->login(testing::anaEmail, testing::anaPassword);
        FotivelaProject project = FotivelaProject::empty();
        project.name = "Fiesta";
        Slide slide;
        slide.id = Uuid::random();
        slide.duration = 2;
        project.slides = {slide};
        store.setProject(project);
        store.recalculateTotalDuration();
        store.setCurrentProjectURL(fixture.storage.path() / "Fiesta" / "Fiesta.fotivela");
        store.setGeneratedAudioClient(fixture.api);
        store.setAIMusicWithVocals(false);
        store.setAIMusicStylePrompt("Piano");
    }
    std::string install(const CloudMusicResponse& response)
    {
        std::optional<std::exception_ptr> result;
        store.installCloudGeneratedMusic(response, [&](std::exception_ptr error) { result = error; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
        return result ? errorText(*result) : "no answer";
    }
    fs::path generatedMusic() const { return fixture.storage.path() / "Fiesta" / "AI" / "GeneratedMusic"; }
    std::size_t storedSongs() const
    {
        std::error_code error;
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(generatedMusic(), error))
            ++count;
        return count;
    }

    testing::AccountServiceFixture fixture;
    ProjectStore store;
};

TEST_F(StoreCloudSongDownload, ASongAtAnAddressIsFetchedStoredAndInstalled)
{
    const CloudMusicResponse response = fixture.api->generateCloudMusic(store.makeCloudMusicRequest("op-1"));
    ASSERT_TRUE(response.audioURL);
    ASSERT_FALSE(response.audioBase64);
    EXPECT_EQ(install(response), "");
    ASSERT_TRUE(store.project().audio);
    EXPECT_EQ(store.project().audio->url.parent_path(), generatedMusic());
    EXPECT_GT(fs::file_size(store.project().audio->url), 1000u);
    EXPECT_GT(store.audioDuration(), 1.0);
    EXPECT_EQ(store.activeTab(), EditorTab::music);
}

TEST_F(StoreCloudSongDownload, AnErrorPageOrALocalFileIsNeverTheSong)
{
    CloudMusicResponse response;
    response.mimeType = "audio/wav";
    response.audioURL = fixture.service.baseURL() + "/audio/no-existe.wav";
    EXPECT_EQ(install(response), "La nube no ha devuelto audio.");

    const fs::path local = fixture.storage.path() / "privado.wav";
    std::ofstream(local) << "datos del usuario";
    response.audioURL = "file://" + local.string();
    EXPECT_EQ(install(response), "La nube no ha devuelto audio.");

    response.audioURL = "http://127.0.0.1:1/cancion.wav"; // nobody listens there
    EXPECT_NE(install(response), "");

    EXPECT_FALSE(store.project().audio);
    EXPECT_EQ(storedSongs(), 0u);
    fixture.api->waitForLaunchReports(); // the sign-in's launch report has a folder of its own
    EXPECT_EQ(fixture.requestFolderCount(), 0);
}

} // namespace
} // namespace fotivela
