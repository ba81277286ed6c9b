#pragma once

#include "store/project_store.h"
#include "ui/common/store_signals.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace fotivela::test {

// A store with its change channel on a storage root of its own.
class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        m_root = std::filesystem::temp_directory_path()
            / ("fotivela-preview-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_root);
        setenv("DUSKMERE_TEST_ROOT", m_root.c_str(), 1);
        store = std::make_unique<ProjectStore>();
        channel = std::make_unique<StoreSignals>(*store);
        store->setAppLanguage(AppLanguage::spanish);
    }
    void TearDown() override
    {
        channel.reset();
        store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    // A folder for the test's own photos, removed with the storage root whatever the outcome.
    std::filesystem::path photoFolder() const
    {
        const std::filesystem::path folder = m_root / "photos";
        std::filesystem::create_directories(folder);
        return folder;
    }

    static Slide makeSlide(std::int64_t order, double duration = 2.0)
    {
        Slide slide;
        slide.id = Uuid::random();
        slide.order = order;
        slide.duration = duration;
        slide.imageURL = "/nonexistent/photo-" + std::to_string(order) + ".jpg";
        return slide;
    }

    // Installs a project of n slides of the given duration and returns their ids in order.
    std::vector<Uuid> installSlides(int n, double duration = 2.0, ProjectFormat format = ProjectFormat::youtube)
    {
        FotivelaProject project;
        project.name = "Prueba";
        project.format = format;
        std::vector<Uuid> ids;
        for (int i = 0; i < n; ++i) {
            project.slides.push_back(makeSlide(i, duration));
            ids.push_back(project.slides.back().id);
        }
        store->setProject(project);
        store->recalculateTotalDuration();
        return ids;
    }

    // Every slide's photo decoded ahead, so a transition shows them from its first frame.
    bool decodeEveryPreview()
    {
        std::size_t decoded = 0;
        for (const Slide& slide : store->project().slides)
            store->previewImage(slide, [&](std::optional<QImage> image) { decoded += image ? 1 : 0; });
        return QTest::qWaitFor([&] { return decoded == store->project().slides.size(); }, 10000);
    }

    std::unique_ptr<ProjectStore> store;
    std::unique_ptr<StoreSignals> channel;

private:
    std::filesystem::path m_root;
};

} // namespace fotivela::test
