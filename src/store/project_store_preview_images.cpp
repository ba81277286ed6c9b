#include "store/project_store.h"

#include "model/preview_image_cache.h"
#include "platform/photo_decoder.h"

#include <system_error>

namespace fotivela {

namespace fs = std::filesystem;

void ProjectStore::previewImage(const Slide& slide, std::function<void(std::optional<QImage>)> loaded)
{
    assertMainThread();
    if (const auto cached = m_previewImageCache.find(slide.id); cached != m_previewImageCache.end()) {
        if (loaded)
            loaded(cached->second);
        return;
    }
    const fs::path preview = PreviewImageCache::previewURL(slide.id, projectFileLocation());
    std::error_code error;
    const bool previewExists = fs::exists(preview, error);
    runInBackground(
        TaskPriority::userInitiated,
        // No view shows more than a preview's size: a full-size photo decoded whole would
        // hold tens of megabytes per slide until the previews exist.
        [preview, previewExists, photo = slide.imageURL](std::stop_token) {
            // The JPEG preview has lost the photo's transparency: such a photo is read from
            // the original, so that the views draw it over the project's background colour
            // as the film does. The preview stands in when the original cannot be read.
            if (!previewExists || PhotoDecoder::mayHaveTransparency(photo)) {
                QImage image = PhotoDecoder::decode(photo, PreviewImageCache::maximumPixelSize);
                if (!image.isNull() || !previewExists)
                    return image;
            }
            return PhotoDecoder::decode(preview, PreviewImageCache::maximumPixelSize);
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
