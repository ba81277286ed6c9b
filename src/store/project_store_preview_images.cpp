#include "store/project_store.h"

#include "model/preview_image_cache.h"

namespace fotivela {

void ProjectStore::previewImage(const Slide& slide, std::function<void(std::optional<QImage>)> loaded)
{
    assertMainThread();
    if (const auto cached = m_previewImageCache.find(slide.id); cached != m_previewImageCache.end()) {
        if (loaded)
            loaded(cached->second);
        return;
    }
    runInBackground(
        TaskPriority::userInitiated,
        // No view shows more than a preview's size: a full-size photo decoded whole would
        // hold tens of megabytes per slide until the previews exist.
        [slide, project = projectFileLocation()](std::stop_token) {
            return PreviewImageCache::decodeShownImage(slide, project, PreviewImageCache::maximumPixelSize);
        },
        [alive = std::weak_ptr<ProjectStore*>(m_lifetime), id = slide.id, revision = m_previewCacheRevision,
         loaded = std::move(loaded)](QImage image) {
            const std::shared_ptr<ProjectStore*> store = alive.lock();
            if (!store)
                return;
            if (image.isNull()) {
                if (loaded)
                    loaded(std::nullopt);
                return;
            }
            // Decoded before the cache was emptied (new previews, another project): handed to
            // the caller, but not kept, so the next request reads what is there now.
            if ((*store)->m_previewCacheRevision == revision)
                (*store)->m_previewImageCache[id] = image;
            if (loaded)
                loaded(std::move(image));
        });
}

} // namespace fotivela
