#include "account/session_cookie_store.h"

#include "platform/log.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace fotivela {

namespace {

const QString keychainService = QStringLiteral("com.fotivela.orvelant");
const QString keychainAccount = QStringLiteral("session-cookie");

bool onMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::optional<std::string> readKeychainOnMainThread()
{
    QKeychain::ReadPasswordJob job(keychainService);
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    job.setKey(keychainAccount);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    // A keyring that never answers must not hold up the start.
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    if (!finished || job.error() != QKeychain::NoError)
        return std::nullopt;
    const QByteArray data = job.binaryData();
    const QString text = QString::fromUtf8(data);
    if (data.isEmpty() || text.toUtf8() != data)
        return std::nullopt;
    return data.toStdString();
}

} // namespace

std::optional<std::string> KeychainSessionCookieStore::load()
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return std::nullopt;
    if (onMainThread())
        return readKeychainOnMainThread();
    std::optional<std::string> result;
    QMetaObject::invokeMethod(app, [&result] { result = readKeychainOnMainThread(); }, Qt::BlockingQueuedConnection);
    return result;
}

void KeychainSessionCookieStore::save(const std::string& cookiePair)
{
    auto* app = QCoreApplication::instance();
    if (cookiePair.empty() || !app)
        return;
    QMetaObject::invokeMethod(
        app,
        [data = QByteArray::fromStdString(cookiePair)] {
            auto* job = new QKeychain::WritePasswordJob(keychainService, QCoreApplication::instance());
            job->setAutoDelete(true);
            job->setInsecureFallback(false);
            job->setKey(keychainAccount);
            job->setBinaryData(data);
            QObject::connect(job, &QKeychain::Job::finished, [](QKeychain::Job* finished) {
                if (finished->error() != QKeychain::NoError)
                    logLine("Fotivela account: keyring unavailable, the session is kept for this run only");
            });
            job->start();
        },
        Qt::QueuedConnection);
}

void KeychainSessionCookieStore::remove()
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [] {
            auto* job = new QKeychain::DeletePasswordJob(keychainService, QCoreApplication::instance());
            job->setAutoDelete(true);
            job->setInsecureFallback(false);
            job->setKey(keychainAccount);
            job->start();
        },
        Qt::QueuedConnection);
}

std::optional<std::string> MemorySessionCookieStore::load()
{
    std::lock_guard lock(m_lock);
    return m_value;
}

void MemorySessionCookieStore::save(const std::string& cookiePair)
{
    std::lock_guard lock(m_lock);
    if (!cookiePair.empty())
        m_value = cookiePair;
}

void MemorySessionCookieStore::remove()
{
    std::lock_guard lock(m_lock);
    m_value.reset();
}

} // namespace fotivela
