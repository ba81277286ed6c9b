#include "store/project_store.h"

#include "model/project_audio_resource_storage.h"
#include "platform/log.h"

#include <QTimer>

#include <exception>
#include <system_error>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

bool pathExists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

// True when the path lies inside the generated-audio folders of some project folder.
bool isInsideGeneratedAudioFolder(const fs::path& path)
{
    const fs::path normal = path.lexically_normal();
    fs::path previous;
    for (const fs::path& component : normal) {
        if (previous == "AI" && (component == "GeneratedMusic" || component == "Stems"))
            return true;
        previous = component;
    }
    return false;
}

fs::path canonicalOrNormal(const fs::path& path)
{
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

bool isInside(const fs::path& path, const fs::path& folder)
{
    const fs::path relative = path.lexically_normal().lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

// Pruning deletes for good, so it only runs when every essential reference of the saved
// song can be checked: a song or stem that is not where the project says (a moved or
// copied project folder, a song in another project's folder) would otherwise take its
// files with it.
bool referencesAreSound(const std::vector<fs::path>& essential, const fs::path& projectFolder)
{
    for (const fs::path& reference : essential) {
        if (!pathExists(reference))
            return false;
        const fs::path canonical = canonicalOrNormal(reference);
        if (isInsideGeneratedAudioFolder(canonical) && !isInside(canonical, projectFolder))
            return false;
    }
    return true;
}

} // namespace

bool ProjectStore::hasPendingAutosave() const
{
    assertMainThread();
    return m_pendingAutosaveTask->isActive();
}

void ProjectStore::saveCurrentProjectSilentlyIfPossible()
{
    assertMainThread();
    // Restarting the single-shot timer is the debounce: one write 0.7 s after the last change.
    m_pendingAutosaveTask->start();
}

void ProjectStore::saveCurrentProjectImmediatelyIfPossible()
{
    assertMainThread();
    m_pendingAutosaveTask->stop();
    const std::optional<fs::path> url = currentProjectURL();
    if (!url)
        return;
    // A background write still under way must not land after this one.
    m_fileWriter->waitUntilIdle();
    const std::uint64_t sequence = ++m_saveSequence;
    stampProjectForSaving();
    std::exception_ptr error;
    try {
        ProjectFileWriter::write(m_project, *url);
    } catch (...) {
        error = std::current_exception();
    }
    finishSave(sequence, m_projectRevision, m_project.name, *url, songReferences(m_project.audio), error);
}

// The autosave: the same save, but a large project is encoded and written on the
// writer's thread; the main thread only copies it.
void ProjectStore::saveCurrentProjectInBackgroundIfPossible()
{
    assertMainThread();
    m_pendingAutosaveTask->stop();
    const std::optional<fs::path> url = currentProjectURL();
    if (!url)
        return;
    const std::uint64_t sequence = ++m_saveSequence;
    stampProjectForSaving();
    m_fileWriter->enqueue(m_project, *url,
                          [this, sequence, revision = m_projectRevision, name = m_project.name, url = *url,
                           song = songReferences(m_project.audio)](std::exception_ptr error) {
                              finishSave(sequence, revision, name, url, song, error);
                          });
}

void ProjectStore::stampProjectForSaving()
{
    modifyProject([](FotivelaProject& project) {
        for (std::size_t i = 0; i < project.slides.size(); ++i)
            project.slides[i].order = static_cast<std::int64_t>(i);
        project.updatedAt = Clock::now();
    });
}

ProjectStore::SongReferences ProjectStore::songReferences(const std::optional<AudioTrack>& audio)
{
    SongReferences references;
    if (!audio)
        return references;
    const StemSeparationState& separation = audio->stemSeparation;
    references.essential.push_back(audio->url);
    if (separation.cacheDirectory)
        references.essential.push_back(*separation.cacheDirectory);
    for (const auto& stem : separation.stems)
        references.essential.push_back(stem.second);
    references.all = references.essential;
    // Filtered previews can be made again; a missing one does not stop the pruning.
    for (const auto& preview : separation.instrumentPreviewURLs)
        references.all.push_back(preview.second);
    return references;
}

void ProjectStore::finishSave(std::uint64_t sequence, std::uint64_t projectRevision, const std::string& projectName,
                              const fs::path& url, const SongReferences& savedSong, std::exception_ptr error)
{
    assertMainThread();
    const bool latest = sequence == m_saveSequence;
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& failure) {
            logLine(std::string("Fotivela project not saved: ") + url.string() + ": " + failure.what());
        } catch (...) {
            logLine("Fotivela project not saved: " + url.string());
        }
        // A newer save that went through already speaks for the project.
        if (latest) {
            setAudioAnalysisStatusMessage(saveFailedStatus);
            setHasUnsavedChanges(true);
        }
        return;
    }
    // Edits made while the copy was being written are not in the file yet.
    if (latest && projectRevision == m_projectRevision)
        setHasUnsavedChanges(false);
    remember(projectName, url);
    pruneProjectAudioResourcesAfterDurableSave(url, savedSong);
}

void ProjectStore::pruneProjectAudioResourcesAfterDurableSave(const fs::path& projectURL, const SongReferences& savedSong)
{
    assertMainThread();
    // A running instrument analysis writes stems that nothing refers to yet.
    if (m_activeInstrumentAnalysisRunID)
        return;
    const fs::path folder = canonicalOrNormal(ProjectAudioResourceStorage::projectDirectory(projectURL));
    if (!referencesAreSound(savedSong.essential, folder))
        return;

    std::vector<fs::path> retained = savedSong.all;
    const auto retain = [&](const std::optional<AudioTrack>& audio) {
        const std::vector<fs::path> references = songReferences(audio).all;
        retained.insert(retained.end(), references.begin(), references.end());
    };
    retain(m_project.audio);
    for (const ProjectUndoSnapshot& snapshot : m_undoStack)
        retain(snapshot.project.audio);
    for (fs::path& path : retained)
        path = ProjectAudioResourceStorage::standardized(path);

    try {
        ProjectAudioResourceStorage::pruneUnreferencedResources(projectURL, retained);
    } catch (const std::exception& error) {
        // The project is saved; what could not be pruned now is pruned after a later save.
        logLine(std::string("Fotivela audio resources not pruned: ") + error.what());
    }
}

} // namespace fotivela
