#include "ui/common/store_signals.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

using namespace fotivela;

TEST(StoreSignals, RelaysEachRealChangeOnceAndStopsWithTheBridge)
{
    std::random_device random;
    const auto root = std::filesystem::temp_directory_path() / ("fotivela-ui-" + std::to_string(random()));
    std::filesystem::create_directories(root);
    setenv("DUSKMERE_TEST_ROOT", root.c_str(), 1);
    {
        ProjectStore store;
        auto bridge = std::make_unique<StoreSignals>(store);
        QSignalSpy spy(bridge.get(), &StoreSignals::changed);

        store.setRoute(AppRoute::editor);
        store.setRoute(AppRoute::editor); // equal write: silent
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.at(0).at(0).value<StoreField>(), StoreField::route);

        bridge.reset();
        store.setRoute(AppRoute::home); // nobody is listening any more, and nothing dangles
    }
    std::filesystem::remove_all(root);
}
