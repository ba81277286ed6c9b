#include "store_test_support.h"

#include "account/account_error.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <sstream>

namespace fotivela {

struct ProjectStoreAIMusicTestAccess {
    static std::string fileName(const ProjectStore& store, const CloudMusicResponse& response, const std::string& fallback)
    {
        return store.generatedCloudMusicFileName(response, fallback);
    }
};

} // namespace fotivela

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string errorText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

class StoreAIMusic : public StoreTest {
protected:
    void openProject(ProjectStore& store, int photos)
    {
        FotivelaProject project = FotivelaProject::empty();
        project.name = "Verano";
        for (int i = 0; i < photos; ++i) {
            const fs::path photo = m_root / ("foto" + std::to_string(i) + ".jpg");
            writeImage(photo, makeTwoToneImage(80, 60));
            Slide slide = makeSlide(2.0, photo.filename().string());
            slide.imageURL = photo;
            project.slides.push_back(slide);
        }
        store.setProject(project);
        store.recalculateTotalDuration();
        store.setCurrentProjectURL(m_root / "Verano" / "Verano.fotivela");
    }
    // A short WAV as the cloud would send it inline.
    std::string songBytes(const std::string& name, double seconds)
    {
        const fs::path file = writeAudioFile(m_root, name, makeSine(440, seconds, 44100, 2, 0.4), TestAudioFormat::wav16);
        return fileBytes(file);
    }
    std::exception_ptr install(ProjectStore& store, const CloudMusicResponse& response)
    {
        std::optional<std::exception_ptr> result;
        store.installCloudGeneratedMusic(response, [&](std::exception_ptr error) { result = error; });
        EXPECT_TRUE(waitFor([&] { return result.has_value(); }, 20000));
        return result.value_or(nullptr);
    }
};

TEST_F(StoreAIMusic, SettingsAreMadeOnFirstUseAndEveryTypedTextIsSaved)
{
    ProjectStore store;
    openProject(store, 1);
    store.setAIMusicSubjectName("  Ana y Luis ");
    ASSERT_TRUE(store.project().aiMusic);
    EXPECT_EQ(store.project().aiMusic->subjectName, "  Ana y Luis ");
    EXPECT_EQ(store.project().aiMusic->requestedMusicStyle, "Pop calido, suave");
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave()) << "typed text must reach the file without another edit";

    store.setAILyricsText("Letra");
    store.setAIMusicStylePrompt("   ");
    store.setAIMusicWithVocals(false);
    EXPECT_EQ(store.project().aiMusic->lyrics, "");
    EXPECT_EQ(store.project().aiMusic->stylePrompt, "   ") << "a blank style stays as it was";
    store.setAIMusicStylePrompt("Pop acustico con voz suave");
    store.setAIMusicWithVocals(true);
    store.setAIMusicWithVocals(false);
    const std::string instrumental = store.project().aiMusic->stylePrompt;
    EXPECT_NE(instrumental, "Pop acustico con voz suave");
    store.setAIMusicWithVocals(true);
    EXPECT_EQ(store.project().aiMusic->lyrics, "");
    EXPECT_EQ(store.project().aiMusic->stylePrompt, instrumental);
}

TEST_F(StoreAIMusic, ADraftUntouchedGivesBackTheEarlierSettings)
{
    ProjectStore store;
    openProject(store, 1);
    store.setAiLyricsStatusMessage("fallo anterior");
    store.modifyProject([](FotivelaProject& p) { p.aiMusic.reset(); });
    const std::optional<AIMusicSettings> earlier = store.project().aiMusic;
    store.setHasUnsavedChanges(false);
    store.beginNewAIMusicDraft();
    EXPECT_EQ(store.project().aiMusic->requestedMusicStyle, "");
    EXPECT_TRUE(store.isAIMusicGenerationDraftEmpty());
    EXPECT_EQ(store.aiLyricsStatusMessage(), "");
    EXPECT_FALSE(store.hasUnsavedChanges());

    store.setAIMusicWithVocals(false);
    EXPECT_TRUE(store.isAIMusicGenerationDraftEmpty()) << "the vocals switch is no content";
    store.restoreAIMusicSettings(earlier);
    ASSERT_TRUE(store.project().aiMusic) << "absent settings come back as the empty draft";
    EXPECT_EQ(store.project().aiMusic->requestedMusicStyle, "");

    store.restoreAIMusicSettings(AIMusicSettings{});
    EXPECT_FALSE(store.isAIMusicGenerationDraftEmpty()) << "the default settings are not a draft";
}

TEST_F(StoreAIMusic, TheLyricsRequestCarriesTheContactSheetAndTheAnswerIsApplied)
{
    ProjectStore store;
    std::optional<std::exception_ptr> refused;
    store.makeCloudLyricsRequest("op-0", false, [&](auto, std::exception_ptr error) { refused = error; });
    ASSERT_TRUE(refused && *refused);
    EXPECT_EQ(errorText(*refused), "Necesitas añadir fotos antes de generar la letra.");

    openProject(store, 3);
    store.setAILyricsText("vieja letra");
    store.setAIMusicStylePrompt("Balada con voz rasgada");
    store.setAIMusicRequestedStyle("Rock con coros");
    store.setHasUnsavedChanges(false);
    std::optional<CloudLyricsRequest> request;
    bool answered = false;
    store.makeCloudLyricsRequest("op-1", true, [&](std::optional<CloudLyricsRequest> made, std::exception_ptr error) {
        EXPECT_FALSE(error);
        request = std::move(made);
        answered = true;
    });
    ASSERT_TRUE(waitFor([&] { return answered; }, 20000));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->operationId, "op-1");
    EXPECT_EQ(request->modelPreference, "gemini-2.5-flash-lite");
    EXPECT_EQ(request->slideCount, 3);
    EXPECT_DOUBLE_EQ(request->duration, 6.0);
    EXPECT_FALSE(request->withVocals);
    EXPECT_TRUE(request->styleOnly);
    EXPECT_EQ(request->contactSheetMimeType, "image/jpeg");
    const std::optional<std::string> sheet = decodeStrictBase64(request->contactSheetBase64);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(store.project().aiMusic->lyrics, "") << "style-only empties the lyrics before the answer";
    EXPECT_EQ(store.project().aiMusic->lastContactSheetURL, std::optional<fs::path>(store.aiCloudContactSheetURL()));
    EXPECT_FALSE(store.hasUnsavedChanges());

    // With an empty style field the style comes from the marker in the text.
    CloudLyricsResponse answer;
    answer.lyrics = "Letra:\nSol de julio\n\nEstilo musical: Pop rock, guitarras";
    answer.style = "  ";
    ASSERT_TRUE(store.applyCloudLyricsResponse(answer, false));
    EXPECT_EQ(store.project().aiMusic->lyrics, "Sol de julio");
    EXPECT_EQ(store.project().aiMusic->stylePrompt, "Pop rock, guitarras");
    EXPECT_TRUE(store.hasUnsavedChanges());
    answer.lyrics = "Solo letra";
    answer.style.reset();
    ASSERT_TRUE(store.applyCloudLyricsResponse(answer, false));
    EXPECT_EQ(store.project().aiMusic->stylePrompt, "Pop rock, guitarras");
}

TEST_F(StoreAIMusic, LongTextsAreCleanedOffTheMainThreadAndWrittenWhenReady)
{
    ProjectStore store;
    openProject(store, 1);
    std::string style;
    while (style.size() < 40 * 1024)
        style += "Pop con voz suave, piano y cuerdas, ";
    store.setAIMusicStylePrompt(style);
    store.setAIMusicWithVocals(false);
    // The switch answers at once; the long style is rewritten a moment later.
    EXPECT_FALSE(store.project().aiMusic->withVocals);
    EXPECT_EQ(store.project().aiMusic->stylePrompt, style);
    ASSERT_TRUE(waitFor([&] { return store.project().aiMusic->stylePrompt != style; }, 20000));
    EXPECT_EQ(store.project().aiMusic->stylePrompt.find("voz suave"), std::string::npos);
    EXPECT_TRUE(store.project().aiMusic->stylePrompt.starts_with("Pop con melodia suave, piano y cuerdas"));

    CloudLyricsResponse answer;
    answer.lyrics = "Letra:\n" + std::string(40 * 1024, 'a') + "\nEstilo musical: Bolero";
    store.setAIMusicWithVocals(true);
    ASSERT_TRUE(store.applyCloudLyricsResponse(answer, false));
    ASSERT_TRUE(waitFor([&] { return store.project().aiMusic->stylePrompt == "Bolero"; }, 20000));
    EXPECT_EQ(store.project().aiMusic->lyrics, std::string(40 * 1024, 'a'));
    EXPECT_TRUE(store.hasUnsavedChanges());
}

TEST_F(StoreAIMusic, AnAnswerForAProjectThatIsNoLongerOpenIsNotApplied)
{
    ProjectStore store;
    openProject(store, 1);
    bool answered = false;
    store.makeCloudLyricsRequest("op", false, [&](auto, auto) { answered = true; });
    ASSERT_TRUE(waitFor([&] { return answered; }, 20000));
    openProject(store, 1); // another project (a fresh identity) replaces it
    const FotivelaProject other = store.project();
    CloudLyricsResponse answer;
    answer.lyrics = "Letra de otro proyecto";
    EXPECT_FALSE(store.applyCloudLyricsResponse(answer, false));
    EXPECT_EQ(store.project(), other);
    EXPECT_NE(store.aiLyricsStatusMessage(), "");
}

TEST_F(StoreAIMusic, TheSongRequestNeedsLyricsOrAnInstrumentalStyle)
{
    ProjectStore store;
    openProject(store, 2);
    const auto refusal = [&] {
        try {
            store.makeCloudMusicRequest("op");
        } catch (const AccountError& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(refusal(), "Necesitas tener una letra antes de generar la canción.");
    store.setAIMusicWithVocals(false);
    EXPECT_EQ(refusal(), "Necesitas indicar un estilo musical para generar una canción instrumental.");
    store.setAIMusicStylePrompt("  Piano tranquilo \n");
    const CloudMusicRequest request = store.makeCloudMusicRequest("op-2");
    EXPECT_EQ(request.stylePrompt, "Piano tranquilo");
    EXPECT_EQ(request.modelPreference, "lyria-3-pro-preview");
    EXPECT_FALSE(request.withVocals);
    EXPECT_DOUBLE_EQ(request.duration, 4.0);
    EXPECT_EQ(request.format, "YouTube 16:9");
}

TEST_F(StoreAIMusic, TheSongIsNamedAfterItsSubject)
{
    ProjectStore store;
    CloudMusicResponse response;
    response.fileName = "track.WAV";
    store.setAIMusicSubjectName("Verano 2024");
    EXPECT_EQ(ProjectStoreAIMusicTestAccess::fileName(store, response, "fotivela-cancion-20240101-101010.wav"),
              "Verano 2024.WAV");
    store.setAIMusicSubjectName(" ");
    EXPECT_EQ(ProjectStoreAIMusicTestAccess::fileName(store, response, "fotivela-cancion-20240101-101010.wav"),
              "fotivela-cancion-20240101-101010.WAV");
    response.fileName.reset();
    EXPECT_EQ(ProjectStoreAIMusicTestAccess::fileName(store, response, "fotivela-cancion-20240101-101010.mp3"),
              "fotivela-cancion-20240101-101010.mp3");
}

TEST_F(StoreAIMusic, AnInlineSongBecomesTheProjectsMusicInOneUndoableStep)
{
    ProjectStore store;
    openProject(store, 2);
    AudioTrack previous = makeTrack(SyncMode::autoBeatV2, writeAudioFile(m_root, "antes", makeSine(220, 1.0, 44100, 2, 0.3),
                                                                          TestAudioFormat::wav16));
    store.modifyProject([&](FotivelaProject& p) { p.audio = previous; });
    store.setAIMusicSubjectName("Verano");
    const AIMusicSettings settings = *store.project().aiMusic;
    store.setActiveTab(EditorTab::export_);

    CloudMusicResponse empty;
    EXPECT_EQ(errorText(install(store, empty)), "La nube no ha devuelto audio.");
    EXPECT_EQ(store.project().audio, previous);

    CloudMusicResponse response;
    response.mimeType = "audio/wav";
    response.fileName = "track.wav";
    response.audioBase64 = encodeBase64(songBytes("nube", 1.5));
    response.audioURL = "http://127.0.0.1:9/nunca"; // the inline song wins
    EXPECT_FALSE(install(store, response));

    ASSERT_TRUE(store.project().audio);
    const fs::path stored = store.project().audio->url;
    EXPECT_EQ(stored.parent_path(), m_root / "Verano" / "AI" / "GeneratedMusic");
    EXPECT_EQ(stored.stem(), "Verano");
    EXPECT_TRUE(fs::exists(stored));
    EXPECT_EQ(store.project().audio->syncMode, SyncMode::autoBeatV2);
    EXPECT_EQ(store.project().aiMusic, settings);
    EXPECT_EQ(store.activeTab(), EditorTab::music);
    EXPECT_EQ(store.route(), AppRoute::editor);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());

    store.undoLastStep();
    ASSERT_TRUE(store.project().audio);
    EXPECT_EQ(store.project().audio->url, previous.url);
}

} // namespace
