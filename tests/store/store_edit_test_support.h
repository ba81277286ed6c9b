#pragma once

#include "store/project_store.h"

#include <QImage>

namespace fotivela {

struct ProjectStoreEditTestAccess {
    // Stands in for a preview image that a view has loaded.
    static void putPreviewImage(ProjectStore& store, const Uuid& slideID, QImage image)
    {
        store.m_previewImageCache[slideID] = std::move(image);
    }
    static double startTime(const ProjectStore& store, const Uuid& slideID) { return store.startTime(slideID); }
    static float mainAudioVolume(const ProjectStore& store, double time) { return store.mainAudioVolume(time); }
};

} // namespace fotivela
