#pragma once

#include "model/fotivela_project.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

class QObject;

namespace fotivela {

// Writes project files on a worker thread, one after the other in the order asked,
// so that encoding a large project never holds up the main thread. Each write makes
// the project's folder, encodes the copy it was given and replaces the file atomically;
// its outcome is handed back on the thread of `context`, and not at all once `context`
// is gone.
class ProjectFileWriter {
public:
    // Runs on the context's thread; no error means the file is written.
    using Completion = std::function<void(std::exception_ptr error)>;

    explicit ProjectFileWriter(QObject* context);
    // Finishes every write already asked for: they hold the user's latest edits.
    ~ProjectFileWriter();
    ProjectFileWriter(const ProjectFileWriter&) = delete;
    ProjectFileWriter& operator=(const ProjectFileWriter&) = delete;

    void enqueue(FotivelaProject project, std::filesystem::path url, Completion completion);
    // Blocks until every write asked for has reached its file (or failed).
    void waitUntilIdle();

    // The write itself, also used directly where a save must be done before going on.
    static void write(const FotivelaProject& project, const std::filesystem::path& url);

private:
    struct Job {
        FotivelaProject project;
        std::filesystem::path url;
        Completion completion;
    };
    void run(std::stop_token stop);

    QObject* m_context;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<Job> m_jobs;
    bool m_writing = false;
    std::jthread m_thread;
};

} // namespace fotivela
