#include "store/project_store.h"

#include <QTimer>

namespace fotivela {

namespace {

constexpr int previewWatchMilliseconds = 100;

} // namespace

void ProjectStore::startInstrumentPreview(AutoBeatInstrument instrument)
{
    assertMainThread();
    stopInstrumentPreview();
    const std::optional<std::filesystem::path> url = instrumentPreviewURL(instrument);
    if (!url)
        return;
    if (isPlaying())
        stopPreview();
    std::unique_ptr<AudioPlayer> player = AudioPlayer::open(*url);
    if (!player)
        return;
    player->prepareToPlay();
    player->setVolume(1.0f);
    player->setCurrentTime(previewTime() < player->duration() ? previewTime() : 0.0);
    if (!player->play())
        return;
    m_instrumentPreviewPlayer = std::move(player);
    setPlayingInstrumentPreview(instrument);

    m_instrumentPreviewTask = std::make_unique<QTimer>();
    m_instrumentPreviewTask->setInterval(previewWatchMilliseconds);
    // The timer dies with the store and with the preview.
    QObject::connect(m_instrumentPreviewTask.get(), &QTimer::timeout, [this] {
        if (!m_instrumentPreviewPlayer || !m_instrumentPreviewPlayer->isPlaying())
            stopInstrumentPreview();
    });
    m_instrumentPreviewTask->start();
}

void ProjectStore::stopInstrumentPreview()
{
    assertMainThread();
    // Deleted later: the watch may be what is running now.
    if (m_instrumentPreviewTask) {
        m_instrumentPreviewTask->stop();
        m_instrumentPreviewTask.release()->deleteLater();
    }
    if (m_instrumentPreviewPlayer) {
        m_instrumentPreviewPlayer->stop();
        m_instrumentPreviewPlayer.reset();
    }
    setPlayingInstrumentPreview(std::nullopt);
}

} // namespace fotivela
