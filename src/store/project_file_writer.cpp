#include "store/project_file_writer.h"

#include "model/project_json.h"
#include "platform/atomic_file.h"

#include <QMetaObject>
#include <QObject>

namespace fotivela {

ProjectFileWriter::ProjectFileWriter(QObject* context)
    : m_context(context)
    , m_thread([this](std::stop_token stop) { run(stop); })
{
}

ProjectFileWriter::~ProjectFileWriter()
{
    waitUntilIdle();
    m_thread.request_stop();
    m_changed.notify_all();
    m_thread.join();
}

void ProjectFileWriter::write(const FotivelaProject& project, const std::filesystem::path& url)
{
    std::filesystem::create_directories(url.parent_path());
    // A project file the user linked elsewhere stays a link: the file behind it is saved.
    atomicWriteFileThroughLinks(url, encodeProject(project));
}

void ProjectFileWriter::enqueue(FotivelaProject project, std::filesystem::path url, Completion completion)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(Job{std::move(project), std::move(url), std::move(completion)});
    }
    m_changed.notify_all();
}

void ProjectFileWriter::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty() && !m_writing; });
}

void ProjectFileWriter::run(std::stop_token stop)
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [this] { return !m_jobs.empty(); }))
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_writing = true;
        }
        std::exception_ptr error;
        try {
            write(job.project, job.url);
        } catch (...) {
            error = std::current_exception();
        }
        // Posted while the owner waits for this write, so the context is still alive.
        QMetaObject::invokeMethod(
            m_context, [completion = std::move(job.completion), error] { completion(error); }, Qt::QueuedConnection);
        // Idle means done with the copy too: a caller may fork the moment it is told so.
        job = Job{};
        {
            const std::lock_guard lock(m_mutex);
            m_writing = false;
        }
        m_changed.notify_all();
    }
}

} // namespace fotivela
