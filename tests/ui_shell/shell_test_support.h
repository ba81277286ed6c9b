#pragma once

#include "store/project_store.h"
#include "store/store_test_support.h"
#include "ui/common/store_signals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace fotivela::test {

// A fresh storage root, a store and its signal bridge for every test.
class ShellTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
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
        StoreTest::TearDown();
    }

    ProjectStore& store() { return *m_store; }
    StoreSignals& storeSignals() { return *m_signals; }

    std::unique_ptr<ProjectStore> m_store;
    std::unique_ptr<StoreSignals> m_signals;
};

} // namespace fotivela::test
