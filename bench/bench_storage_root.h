#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fotivela::bench {

// A fresh folder for one benchmark run whose "suite" sub-folder stands in for the program's
// storage, so the store reads no real preferences and writes no real recent list.
inline const std::filesystem::path& storageRoot(const std::string& name)
{
    static const std::filesystem::path root = [&] {
        std::random_device random;
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("fotivela-bench-" + name + "-" + std::to_string(random()));
        std::filesystem::create_directories(path / "suite");
        setenv("DUSKMERE_TEST_ROOT", (path / "suite").c_str(), 1);
        return path;
    }();
    return root;
}

} // namespace fotivela::bench
