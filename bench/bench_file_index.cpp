// Indexing a user-chosen folder for relinking, against `find DIR -type f` on the same tree in the
// same run. Target: at most twice find's time.
#include "model/project_file_layout.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int topFolders = 20;
constexpr int subFoldersPerTop = 99; // 20 + 20 * 99 = 2,000 folders
constexpr int filesPerFolder = 50;   // 2,000 * 50 = 100,000 files

void makeTree(const std::filesystem::path& root)
{
    int serial = 0;
    auto fill = [&serial](const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        for (int f = 0; f < filesPerFolder; ++f) {
            const auto name = folder / ("IMG_" + std::to_string(serial++) + ".JPG");
            const int fd = open(name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
            if (fd < 0)
                std::abort();
            close(fd);
        }
    };
    for (int t = 0; t < topFolders; ++t) {
        const auto top = root / ("Viaje " + std::to_string(t));
        fill(top);
        for (int s = 0; s < subFoldersPerTop; ++s)
            fill(top / ("Dia " + std::to_string(s)));
    }
}

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    char pattern[] = "/tmp/fotivela-bench-index-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::filesystem::path root(pattern);
    makeTree(root);
    const std::string findCommand = "find '" + root.string() + "' -type f > /dev/null";

    std::size_t indexed = 0;
    std::vector<double> ours, finds;
    for (int round = 0; round < 11; ++round) {
        auto start = std::chrono::steady_clock::now();
        auto index = fotivela::ProjectFileLayout::regularFileIndex(root);
        const double ourTime = seconds(std::chrono::steady_clock::now() - start);
        indexed = index.size();
        index = {}; // freeing the index is the caller's business, not the walk's

        start = std::chrono::steady_clock::now();
        if (std::system(findCommand.c_str()) != 0)
            return 1;
        const double findTime = seconds(std::chrono::steady_clock::now() - start);
        if (round > 0) { // the first round warms the caches
            ours.push_back(ourTime);
            finds.push_back(findTime);
        }
    }
    std::filesystem::remove_all(root);

    const double ourMedian = median(ours), findMedian = median(finds);
    std::printf("tree: %d folders, %d files (%zu distinct keys)\n", topFolders * (1 + subFoldersPerTop),
                topFolders * (1 + subFoldersPerTop) * filesPerFolder, indexed);
    std::printf("regularFileIndex  median %.1f ms\n", ourMedian * 1000);
    std::printf("find -type f      median %.1f ms\n", findMedian * 1000);
    std::printf("ratio %.2f (target <= 2.00)\n", ourMedian / findMedian);
    return 0;
}
