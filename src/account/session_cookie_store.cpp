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

std::optional<StoredSessionCookie> readKeychainOnMainThread()
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
    return KeychainSessionCookieStore::decoded(data.toStdString());
}

} // namespace

std::string KeychainSessionCookieStore::encoded(const StoredSessionCookie& cookie)
{
    return cookie.origin + "\n" + cookie.cookiePair;
}

std::optional<StoredSessionCookie> KeychainSessionCookieStore::decoded(const std::string& data)
{
    const auto newline = data.find('\n');
    StoredSessionCookie cookie = newline == std::string::npos
        ? StoredSessionCookie{defaultServiceOrigin, data}
        : StoredSessionCookie{data.substr(0, newline), data.substr(newline + 1)};
    if (cookie.origin.empty() || cookie.cookiePair.empty() || cookie.cookiePair.find('\n') != std::string::npos)
        return std::nullopt;
    return cookie;
}

std::optional<StoredSessionCookie> KeychainSessionCookieStore::load()
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return std::nullopt;
    if (onMainThread())
        return readKeychainOnMainThread();
    std::optional<StoredSessionCookie> result;
    QMetaObject::invokeMethod(app, [&result] { result = readKeychainOnMainThread(); }, Qt::BlockingQueuedConnection);
    return result;
}

void KeychainSessionCookieStore::save(const StoredSessionCookie& cookie)
{
    auto* app = QCoreApplication::instance();
    if (cookie.cookiePair.empty() || !app)
        return;
    QMetaObject::invokeMethod(
        app,
        [data = QByteArray::fromStdString(encoded(cookie))] {
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

std::optional<StoredSessionCookie> MemorySessionCookieStore::load()
{
    std::lock_guard lock(m_lock);
    return m_value;
}

void MemorySessionCookieStore::save(const StoredSessionCookie& cookie)
{
    std::lock_guard lock(m_lock);
    if (!cookie.cookiePair.empty())
        m_value = cookie;
}

void MemorySessionCookieStore::remove()
{
    std::lock_guard lock(m_lock);
    m_value.reset();
}

} // namespace fotivela
