#pragma once

#include "store/project_store.h"
#include "ui/common/store_signals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace fotivela::test {

// A fresh storage root, a store and its signal bridge for every test.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        m_root = std::filesystem::temp_directory_path()
            / ("fotivela-shell-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_root / "suite");
        setenv("DUSKMERE_TEST_ROOT", (m_root / "suite").c_str(), 1);
        m_store = std::make_unique<ProjectStore>();
        m_signals = std::make_unique<StoreSignals>(*m_store);
        std::filesystem::create_directories(m_root / "projects");
        m_store->setDefaultProjectDirectory(m_root / "projects");
    }

    // A project of `count` slides of two seconds each, straight into the store.
    void openSlides(int count)
    {
        m_store->modifyProject([count](FotivelaProject& project) {
            for (int i = 0; i < count; ++i) {
                Slide slide;
                slide.id = Uuid::random();
                slide.name = "Foto " + std::to_string(i + 1);
                slide.order = i;
                slide.duration = 2;
                project.slides.push_back(slide);
            }
        });
        m_store->recalculateTotalDuration();
    }
    void TearDown() override
    {
        m_signals.reset();
        m_store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    ProjectStore& store() { return *m_store; }
    StoreSignals& storeSignals() { return *m_signals; }

    std::filesystem::path m_root;
    std::unique_ptr<ProjectStore> m_store;
    std::unique_ptr<StoreSignals> m_signals;
};

} // namespace fotivela::test
