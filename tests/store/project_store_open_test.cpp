#include "music_test_support.h"

#include "model/project_file_reader.h"
#include "model/project_json.h"
#include "platform/atomic_file.h"
#include "platform/background_task.h"
#include "support/fifo.h"
#include "support/test_images.h"


#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

class StoreOpening : public StoreTest {
protected:
    // A project file on disk with photos that exist, as a user would have saved it.
    fs::path saveProject(const std::string& name, FotivelaProject project)
    {
        project.name = name;
        const fs::path url = m_root / "Proyectos" / name / (name + ".fotivela");
        fs::create_directories(url.parent_path());
        atomicWriteFile(url, encodeProject(project));
        return url;
    }
    // A slide whose photo is nowhere.
    Slide missingPhotoSlide() const
    {
        Slide missing = makeSlide(2.0, "perdida.jpg");
        missing.imageURL = m_root / "perdida.jpg";
        return missing;
    }
    Slide photoSlide(const std::string& fileName, double duration = 2.0)
    {
        const fs::path photo = m_root / "Fotos" / fileName;
        if (!fs::exists(photo)) {
            fs::create_directories(photo.parent_path());
            writeImage(photo, makeTwoToneImage(64, 48));
        }
        Slide slide = makeSlide(duration, fileName);
        slide.imageURL = photo;
        return slide;
    }
    // Records what the store shows instead of showing it.
    void recordDialogs(ProjectStore& store)
    {
        store.dialogs().showError = [this](const std::string& message) { m_errors.push_back(message); };
        store.dialogs().confirm = [this](const ConfirmationAlert& alert) {
            m_alerts.push_back(alert);
            return m_confirmAnswer;
        };
        store.dialogs().chooseFolder = [this](const std::string&) { return m_folderAnswer; };
    }
    static fs::path folder(const fs::path& path)
    {
        fs::create_directories(path);
        return path;
    }
    static std::string readText(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<std::string> m_errors;
    std::vector<ConfirmationAlert> m_alerts;
    bool m_confirmAnswer = false;
    std::optional<fs::path> m_folderAnswer;
};

TEST_F(StoreOpening, ALoadedProjectOpensInTheEditorUnchangedAndIsRemembered)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg", 2), photoSlide("b.jpg", 3)};
    const fs::path url = saveProject("Boda", stored);

    ProjectStore store;
    recordDialogs(store);
    store.setActiveTab(EditorTab::music);
    ASSERT_TRUE(store.loadProject(url));

    EXPECT_EQ(store.project().name, "Boda");
    EXPECT_EQ(store.project().slides.size(), 2u);
    EXPECT_EQ(store.selectedSlideID(), std::optional<Uuid>(stored.slides[0].id));
    EXPECT_TRUE(store.timelineSelection().empty());
    EXPECT_DOUBLE_EQ(store.totalDuration(), 5.0);
    EXPECT_EQ(store.route(), AppRoute::editor);
    EXPECT_EQ(store.activeTab(), EditorTab::photos);
    EXPECT_EQ(store.currentProjectURL(), std::optional<fs::path>(url));
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_FALSE(store.hasPendingAutosave());
    ASSERT_FALSE(store.recentProjects().empty());
    EXPECT_EQ(store.recentProjects().front().url, url);
    EXPECT_TRUE(m_alerts.empty()) << "nothing is missing, so nothing is asked";

    // The previews of the loaded slides are written in the background.
    EXPECT_TRUE(waitFor([&] { return fs::exists(store.previewCacheDirectory() / (stored.slides[1].id.toString() + ".jpg")); }, 10000));

    const fs::path empty = saveProject("Vacio", FotivelaProject::empty());
    ASSERT_TRUE(store.loadProject(empty));
    EXPECT_FALSE(store.selectedSlideID());
}

TEST_F(StoreOpening, AFileThatIsNotAProjectIsShownAndTheOpenProjectStays)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg")};
    const fs::path url = saveProject("Viaje", stored);
    ProjectStore store;
    recordDialogs(store);
    ASSERT_TRUE(store.loadProject(url));
    store.modifyProject([](FotivelaProject& p) { p.slides[0].title = "sin guardar"; });
    const FotivelaProject before = store.project();

    const fs::path damaged = m_root / "roto.fotivela";
    writeText(damaged, "{\"name\": \"roto\", \"slides\": [");
    EXPECT_FALSE(store.loadProject(damaged));
    EXPECT_FALSE(store.loadProject(m_root / "no-existe.fotivela"));
    EXPECT_FALSE(store.loadProject(m_root));

    ASSERT_EQ(m_errors.size(), 3u);
    EXPECT_EQ(m_errors[0].rfind("No se han podido leer los datos porque no tienen el formato correcto.", 0), 0u) << m_errors[0];
    EXPECT_NE(m_errors[1].find("porque no existe"), std::string::npos) << m_errors[1];
    EXPECT_EQ(store.project(), before);
    EXPECT_EQ(store.currentProjectURL(), std::optional<fs::path>(url));
}

TEST_F(StoreOpening, TheOpenPanelMayChooseTheProjectFolder)
{
    const fs::path url = saveProject("Cumple", FotivelaProject::empty());
    ProjectStore store;
    recordDialogs(store);
    store.openProject(); // no panel set: nothing happens
    EXPECT_EQ(store.route(), AppRoute::home);

    store.dialogs().chooseProjectToOpen = [&] { return std::optional<fs::path>(url.parent_path()); };
    store.openProject();
    EXPECT_EQ(store.project().name, "Cumple");
    EXPECT_EQ(store.currentProjectURL(), std::optional<fs::path>(url));
}

TEST_F(StoreOpening, AMovedSongIsRelinkedFromTheChosenFolderAndSaved)
{
    const fs::path moved = writeClickSong(folder(m_root / "Nuevo sitio" / "sub"), "cancion", 2.0, {0.5, 1.0});
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg")};
    stored.audio = makeTrack(SyncMode::manual, m_root / "Antiguo" / "Cancion.WAV");
    const fs::path url = saveProject("Concierto", stored);

    ProjectStore store;
    recordDialogs(store);
    store.setAppLanguage(AppLanguage::spanish);
    m_confirmAnswer = true;
    m_folderAnswer = m_root / "Nuevo sitio";
    ASSERT_TRUE(store.loadProject(url));

    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].message, "No encuentro algunos archivos originales");
    EXPECT_EQ(m_alerts[0].confirmButton, "Buscar carpeta");
    EXPECT_EQ(m_alerts[0].cancelButton, "Cancelar");
    ASSERT_TRUE(store.project().audio);
    EXPECT_EQ(store.project().audio->url, moved);
    EXPECT_TRUE(store.hasUnsavedChanges());
    // The relinked song is what the player was prepared with.
    EXPECT_GT(store.audioDuration(), 1.9);
    ASSERT_TRUE(waitFor([&] { return decodeProject(readText(url)).audio->url == moved; }, 5000));
}

TEST_F(StoreOpening, DecliningTheRelinkLoadsTheProjectWithItsMissingFilesUnsaved)
{
    FotivelaProject stored = FotivelaProject::empty();
    const Slide missing = missingPhotoSlide();
    stored.slides = {missing};
    const fs::path url = saveProject("Perdidas", stored);
    const std::string before = readText(url);

    ProjectStore store;
    recordDialogs(store);
    m_confirmAnswer = false;
    m_folderAnswer = m_root; // never asked
    ASSERT_TRUE(store.loadProject(url));
    EXPECT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(store.project().slides[0].imageURL, missing.imageURL);
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_FALSE(store.hasPendingAutosave());
    EXPECT_EQ(readText(url), before);

    // With no dialogs set at all the answer is "Cancelar" too.
    ProjectStore silent;
    ASSERT_TRUE(silent.loadProject(url));
    EXPECT_EQ(silent.project().slides[0].imageURL, missing.imageURL);
}

TEST_F(StoreOpening, TheRelinkAndPackageDialogsSpeakTheInterfaceLanguage)
{
    FotivelaProject stored = FotivelaProject::empty();
    const Slide missing = missingPhotoSlide();
    stored.slides = {missing};
    const fs::path url = saveProject("Perdidas", stored);

    for (AppLanguage language : {AppLanguage::english, AppLanguage::spanish}) {
        const bool english = language == AppLanguage::english;
        ProjectStore store;
        recordDialogs(store);
        store.setAppLanguage(language);
        std::string prompt;
        store.dialogs().chooseFolder = [&](const std::string& offered) {
            prompt = offered;
            return std::optional<fs::path>();
        };
        m_alerts.clear();
        m_confirmAnswer = true;
        ASSERT_TRUE(store.loadProject(url));
        ASSERT_EQ(m_alerts.size(), 1u);
        EXPECT_EQ(m_alerts[0].message,
                  english ? "Some original files cannot be found" : "No encuentro algunos archivos originales");
        EXPECT_EQ(m_alerts[0].informativeText,
                  english ? "Choose the folder where the photos or the music are now to relink them."
                          : "Indica la carpeta donde estan ahora las fotos o la musica para volver a enlazarlas.");
        EXPECT_EQ(m_alerts[0].confirmButton, english ? "Find folder" : "Buscar carpeta");
        EXPECT_EQ(m_alerts[0].cancelButton, english ? "Cancel" : "Cancelar");
        EXPECT_EQ(prompt, english ? "Use folder" : "Usar carpeta");

        std::string message;
        store.dialogs().choosePackageDestination = [&](const std::string&, const std::string& offered) {
            message = offered;
            return std::optional<fs::path>();
        };
        store.packageProject();
        EXPECT_EQ(message, english ? "Creates a packaged folder with the project, previews, and originals."
                                   : "Crea una carpeta empaquetada con proyecto, previos y originales.");
    }
}

TEST_F(StoreOpening, TheAutomaticMarkerSourceFollowsTheMachinesMemory)
{
    FotivelaProject stored = FotivelaProject::empty();
    AudioTrack song = makeTrack(SyncMode::autoBeatV2, m_root / "no-hay-cancion.wav");
    song.autoBeatInstruments = {AutoBeatInstrument::kick, AutoBeatInstrument::drums};
    song.isAttackWaveformEnabled = false;
    stored.audio = song;
    const fs::path url = saveProject("Ritmo", stored);

    ProjectStore roomy;
    ProjectStoreMusicTestAccess::setPhysicalMemory(roomy, 16 * gibibyte);
    ASSERT_TRUE(roomy.loadProject(url));
    EXPECT_EQ(roomy.project().audio->autoBeatInstruments, std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});
    EXPECT_FALSE(roomy.project().audio->isAttackWaveformEnabled);

    ProjectStore small;
    ProjectStoreMusicTestAccess::setPhysicalMemory(small, 4 * gibibyte);
    ASSERT_TRUE(small.loadProject(url));
    EXPECT_TRUE(small.project().audio->autoBeatInstruments.empty());
    EXPECT_TRUE(small.project().audio->isAttackWaveformEnabled);
    EXPECT_EQ(small.project().audio->beatDetectionFocus, BeatDetectionFocus::clapSnare);
    EXPECT_TRUE(small.isAttackWaveformEnabled());
    EXPECT_TRUE(small.visibleStemWaveformInstruments().empty());
}

TEST_F(StoreOpening, LeavingAProjectKeepsItsEditsAndTakesNothingIntoTheNextOne)
{
    FotivelaProject first = FotivelaProject::empty();
    first.slides = {photoSlide("a.jpg")};
    first.audio = makeTrack(SyncMode::manual, writeClickSong(folder(m_root / "Musica"), "uno", 2.0, {0.5}));
    const fs::path firstURL = saveProject("Primero", first);
    FotivelaProject second = FotivelaProject::empty();
    second.slides = {photoSlide("b.jpg")};
    AudioTrack secondSong = makeTrack(SyncMode::autoBeatV2, m_root / "Musica" / "uno.wav");
    secondSong.isAttackWaveformEnabled = true;
    second.audio = secondSong;
    const fs::path secondURL = saveProject("Segundo", second);

    ProjectStore store;
    ProjectStoreMusicTestAccess::setPhysicalMemory(store, 16 * gibibyte);
    ASSERT_TRUE(store.loadProject(firstURL));
    store.addManualBeatMarker(1.5); // a manual marker of the first project, autosave pending
    store.startPreview();
    ASSERT_TRUE(store.hasPendingAutosave());
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);

    ASSERT_TRUE(store.loadProject(secondURL));
    EXPECT_FALSE(store.isPlaying());
    EXPECT_FALSE(store.isAnalyzingAudio() && store.audioAnalysisStatusMessage().empty());
    // The first project's edit reached its own file ...
    const FotivelaProject savedFirst = decodeProject(readText(firstURL));
    ASSERT_TRUE(savedFirst.audio);
    EXPECT_EQ(savedFirst.audio->beatMarkers.size(), 1u);
    // ... and its manual marker did not move into the second project.
    for (const BeatMarker& marker : store.project().audio->beatMarkers)
        EXPECT_FALSE(marker.isManual);
    for (const BeatMarker& marker : store.audioBeatMarkers())
        EXPECT_FALSE(marker.isManual);
}

TEST_F(StoreOpening, APackageIsMadeFromTheProjectInMemoryAndRemembered)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg")};
    const fs::path url = saveProject("Boda", stored);
    ProjectStore store;
    recordDialogs(store);
    store.setAppLanguage(AppLanguage::spanish);
    ASSERT_TRUE(store.loadProject(url));
    ASSERT_TRUE(waitFor([&] { return fs::exists(store.previewCacheDirectory() / (stored.slides[0].id.toString() + ".jpg")); }, 10000));
    store.modifyProject([](FotivelaProject& p) { p.slides[0].title = "Sin guardar aun"; });
    const FotivelaProject open = store.project();

    std::string suggested;
    store.dialogs().choosePackageDestination = [&](const std::string& name, const std::string& message) {
        suggested = name;
        EXPECT_EQ(message, "Crea una carpeta empaquetada con proyecto, previos y originales.");
        return std::optional<fs::path>(m_root / "Entregas" / "Boda final");
    };
    store.packageProject();
    EXPECT_EQ(suggested, "Boda");
    const fs::path packaged = m_root / "Entregas" / "Boda final" / "Boda final.fotivela";
    ASSERT_TRUE(fs::exists(packaged));
    const FotivelaProject copy = decodeProject(readText(packaged));
    EXPECT_EQ(copy.name, "Boda final");
    EXPECT_EQ(copy.slides[0].title, "Sin guardar aun");
    EXPECT_TRUE(fs::exists(m_root / "Entregas" / "Boda final" / "Previews" / (stored.slides[0].id.toString() + ".jpg")));
    EXPECT_EQ(store.recentProjects().front().url, packaged);
    EXPECT_EQ(store.project(), open);
    EXPECT_EQ(store.currentProjectURL(), std::optional<fs::path>(url));

    // A project never saved: nothing to save and no previews to take.
    ProjectStore fresh;
    recordDialogs(fresh);
    fresh.setProject(stored);
    EXPECT_TRUE(fresh.packageProject(m_root / "Sin guardar"));
    EXPECT_FALSE(fresh.hasPendingAutosave());
    EXPECT_FALSE(fs::exists(m_root / "Sin guardar" / "Previews"));

    // A destination that cannot be made is shown, and nothing else changes.
    writeText(m_root / "ocupado", "un archivo");
    EXPECT_FALSE(store.packageProject(m_root / "ocupado" / "dentro"));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_NE(m_errors[0].find("dentro"), std::string::npos) << m_errors[0];
    EXPECT_EQ(store.recentProjects().front().url, packaged);
}

TEST_F(StoreOpening, APackageNamesTheFilesItLeftOut)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg"), photoSlide("b.jpg")};
    const fs::path secret = m_root / "privado" / "claves.txt";
    writeText(secret, "contrasena: 1234");
    stored.slides[1].imageURL = secret;
    ProjectStore store;
    recordDialogs(store);
    store.setAppLanguage(AppLanguage::spanish);
    store.setProject(stored);

    ASSERT_TRUE(store.packageProject(m_root / "Entrega"));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0], "No se han empaquetado los archivos que no son fotos ni canciones (1): \xe2\x80\x9c" + secret.string()
                               + "\xe2\x80\x9d.");
    EXPECT_FALSE(fs::exists(m_root / "Entrega" / "Originales" / "Fotos" / "claves.txt"));

    store.setAppLanguage(AppLanguage::english);
    ASSERT_TRUE(store.packageProject(m_root / "Entrega en ingles"));
    ASSERT_EQ(m_errors.size(), 2u);
    EXPECT_EQ(m_errors[1].rfind("Files that are not photos or songs were not packaged (1): ", 0), 0u) << m_errors[1];

    // Nothing left out, nothing to say.
    stored.slides.pop_back();
    store.setProject(stored);
    ASSERT_TRUE(store.packageProject(m_root / "Completa"));
    EXPECT_EQ(m_errors.size(), 2u);
}

// A save or a preview write killed mid-way leaves its temporary copy beside its target: opening
// the project takes those left long ago, and a package never carries any.
TEST_F(StoreOpening, LeftoversOfKilledWritesGoWhenTheProjectOpensAndNeverIntoAPackage)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg")};
    const fs::path url = saveProject("Boda", stored);
    const fs::path previews = url.parent_path() / "Previews";
    const auto leftover = [](const fs::path& folder, const std::string& text, std::chrono::seconds age,
                             std::string name = "." + Uuid::random().toString() + ".tmp") {
        writeText(folder / name, text);
        fs::last_write_time(folder / name, fs::file_time_type::clock::now() - age);
        return folder / name;
    };
    const std::chrono::minutes hour(60);
    const fs::path killedSave = leftover(url.parent_path(), encodeProject(stored), hour);
    const fs::path killedPreview = leftover(previews, "medio jpeg", std::chrono::seconds(10 * 60 + 5));
    const fs::path killedTitle = leftover(url.parent_path() / "Previos" / "TitleSlides", "medio png", hour);
    // Writes that may still run (the previews of an earlier open of this project), and files
    // that are not the program's own temporaries: other programs write lower-case UUIDs.
    const fs::path running = leftover(previews, "escribiendo", std::chrono::minutes(0));
    const fs::path slow = leftover(url.parent_path(), encodeProject(stored), std::chrono::minutes(9));
    const fs::path foreign = leftover(url.parent_path(), "de otro programa", hour, ".copia.tmp");
    // Each of these fails one rule only: the case, the version digit, the variant digit.
    const fs::path lowerCase =
        leftover(url.parent_path(), "de otro programa", hour, ".3f2504e0-4f89-41d3-9a0c-0305e82c3301.tmp");
    const fs::path versionOne =
        leftover(url.parent_path(), "de otro programa", hour, ".3F2504E0-4F89-11D3-9A0C-0305E82C3301.tmp");
    const fs::path otherVariant =
        leftover(url.parent_path(), "de otro programa", hour, ".3F2504E0-4F89-41D3-CA0C-0305E82C3301.tmp");
    const fs::path link = previews / ("." + Uuid::random().toString() + ".tmp");
    fs::create_symlink(url, link);
    const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, link.c_str(), old, AT_SYMLINK_NOFOLLOW), 0);

    ProjectStore store;
    recordDialogs(store);
    ASSERT_TRUE(store.loadProject(url));
    EXPECT_FALSE(fs::exists(killedSave));
    EXPECT_FALSE(fs::exists(killedPreview));
    EXPECT_FALSE(fs::exists(killedTitle));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(slow));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_TRUE(fs::exists(lowerCase));
    EXPECT_TRUE(fs::exists(versionOne));
    EXPECT_TRUE(fs::exists(otherVariant));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(url));

    const fs::path preview = previews / (stored.slides[0].id.toString() + ".jpg");
    ASSERT_TRUE(waitFor([&] { return fs::exists(preview); }, 10000));
    ASSERT_TRUE(store.packageProject(m_root / "Entrega"));
    EXPECT_TRUE(fs::exists(m_root / "Entrega" / "Previews" / preview.filename()));
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(m_root / "Entrega"))
        EXPECT_FALSE(entry.path().extension() == ".tmp") << entry.path();
}

// A killed save's leftover opened to get the work back is not swept from under the user,
// whether opened itself or through a link; nor is a folder that a link in the project leads to.
TEST_F(StoreOpening, TheFileOpenedAndFoldersBehindLinksAreNeverSwept)
{
    const FotivelaProject stored = FotivelaProject::empty();
    const auto oldFile = [](const fs::path& file, const std::string& text) {
        writeText(file, text);
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        return file;
    };
    const auto temporaryName = [] { return "." + Uuid::random().toString() + ".tmp"; };
    const fs::path rescued = oldFile(m_root / "Rescate" / temporaryName(), encodeProject(stored));
    ProjectStore store;
    recordDialogs(store);
    ASSERT_TRUE(store.loadProject(rescued));
    EXPECT_TRUE(fs::exists(rescued));

    // The same file behind a project file that is a link, with its title images in a linked folder.
    const fs::path killedSave = oldFile(rescued.parent_path() / temporaryName(), "a medias");
    const fs::path elsewhere = folder(m_root / "Discos" / "Previos");
    const fs::path outside = oldFile(elsewhere / "TitleSlides" / temporaryName(), "ajeno");
    const fs::path link = folder(m_root / "Proyectos" / "Boda") / "Boda.fotivela";
    fs::create_symlink(rescued, link);
    fs::create_directory_symlink(elsewhere, link.parent_path() / "Previos");
    ASSERT_TRUE(store.loadProject(link));
    EXPECT_TRUE(fs::exists(rescued));
    EXPECT_FALSE(fs::exists(killedSave));
    EXPECT_TRUE(fs::exists(outside));
}

// Saved work is never swept: a leftover opened, edited and saved is still there (where the recent
// list points) when the folder is opened again long after.
TEST_F(StoreOpening, WorkSavedInAnOpenedLeftoverOutlivesLaterOpenings)
{
    FotivelaProject stored = FotivelaProject::empty();
    const fs::path url = saveProject("Boda", stored);
    stored.name = "Boda";
    const fs::path leftover = url.parent_path() / ("." + Uuid::random().toString() + ".tmp");
    writeText(leftover, encodeProject(stored));
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));

    ProjectStore store;
    recordDialogs(store);
    ASSERT_TRUE(store.loadProject(leftover));
    FotivelaProject edited = store.project();
    edited.name = "Boda rescatada";
    store.setProject(edited);
    store.setHasUnsavedChanges(true);
    store.saveCurrentProjectImmediatelyIfPossible();
    ASSERT_TRUE(store.currentProjectURL());
    const fs::path saved = *store.currentProjectURL();
    fs::last_write_time(saved, fs::file_time_type::clock::now() - std::chrono::minutes(11));

    ASSERT_TRUE(store.loadProject(url));
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(readProjectFile(saved).name, "Boda rescatada");
    ASSERT_GE(store.recentProjects().size(), 2u);
    EXPECT_EQ(store.recentProjects()[1].url, saved);
}

// Another user's file of the same name (in a shared folder) is not this program's to take.
TEST_F(StoreOpening, AnotherUsersLeftoverStays)
{
    const fs::path url = saveProject("Compartido", FotivelaProject::empty());
    const fs::path theirs = url.parent_path() / ("." + Uuid::random().toString() + ".tmp");
    writeText(theirs, "suyo");
    if (::chown(theirs.c_str(), ::getuid() + 1, static_cast<gid_t>(-1)) != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    fs::last_write_time(theirs, fs::file_time_type::clock::now() - std::chrono::hours(1));

    ProjectStore store;
    recordDialogs(store);
    ASSERT_TRUE(store.loadProject(url));
    EXPECT_TRUE(fs::exists(theirs));
}

// A received project whose photo and song are FIFOs: nothing waits on them, so closing and
// quitting (which wait for the workers) still end.
TEST_F(StoreOpening, AProjectWhosePhotoAndSongAreFifosLoadsWithoutPinningAWorker)
{
    FotivelaProject stored = FotivelaProject::empty();
    stored.slides = {photoSlide("a.jpg")};
    const fs::path photo = makeFifo(m_root / "recibido" / "foto.jpg");
    const fs::path song = makeFifo(m_root / "recibido" / "cancion.mp3");
    stored.slides[0].imageURL = photo;
    stored.audio = AudioTrack{};
    stored.audio->url = song;
    const fs::path url = saveProject("Recibido", stored);

    const FifoWatchdog photoWatchdog(photo);
    const FifoWatchdog songWatchdog(song);
    {
        ProjectStore store;
        recordDialogs(store);
        ASSERT_TRUE(store.loadProject(url));
        EXPECT_EQ(m_alerts.size(), 1u) << "a FIFO is no photo: the relink alert";
        EXPECT_TRUE(backgroundPool().waitForDone(60000));
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(photoWatchdog.fired()) << "a worker waited on the photo";
    EXPECT_FALSE(songWatchdog.fired()) << "something waited on the song";
}

} // namespace
