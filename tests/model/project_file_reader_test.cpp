#include "model/app_text.h"
#include "model/project_file_reader.h"
#include "model/project_json.h"
#include "support/child_process.h"
#include "support/fifo.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

// A sparse file: as large as asked on paper, nothing on disk, made at once.
void makeSparseFile(const fs::path& file, std::uint64_t bytes)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes)), 0);
    ::close(fd);
}

std::string refusalOf(const fs::path& file)
{
    try {
        readProjectFile(file);
    } catch (const ProjectFileReadError& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("not a read error: ") + error.what();
    }
    return "read";
}

TEST(ProjectFileReading, AFileAboveTheBoundIsRefusedBeforeItIsRead)
{
    AudioTestFolder folder("fotivela-project-file");
    const fs::path huge = folder / "enorme.fotivela";
    makeSparseFile(huge, maximumProjectFileBytes + 1);

    const std::string message = refusalOf(huge);
    EXPECT_EQ(message, "No se ha podido abrir el proyecto: el archivo ocupa más de 256 MB, mucho más que cualquier proyecto.");
    EXPECT_EQ(AppText::translate(message, AppLanguage::english),
              "The project could not be opened: the file is larger than 256 MB, far more than any project.");

    // Nothing of it is read: the refusal costs no memory.
    const ChildRun run = runInChild([&] {
        try {
            readProjectFileText(huge);
        } catch (const ProjectFileReadError&) {
            return 0;
        }
        return 1;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.extraPeakKilobytes, 32 * 1024) << run.extraPeakKilobytes / 1024 << " MB";
    std::printf("refusing a %llu MB project file: %lld MB above the start\n",
                static_cast<unsigned long long>((maximumProjectFileBytes + 1) >> 20),
                static_cast<long long>(run.extraPeakKilobytes / 1024));

    // Below the bound every byte is read, however the reads fall.
    makeSparseFile(huge, 3 * 65536 + 7);
    EXPECT_EQ(readProjectFileText(huge), std::string(3 * 65536 + 7, '\0'));
}

TEST(ProjectFileReading, AFifoOrAFolderIsRefusedWithoutWaiting)
{
    AudioTestFolder folder("fotivela-project-file");
    const fs::path fifo = makeFifo(folder / "tuberia.fotivela");
    std::string message;
    EXPECT_TRUE(returnsWithin(fifo, [&] { message = refusalOf(fifo); }));
    EXPECT_EQ(message, "No se ha podido abrir el archivo \xe2\x80\x9ctuberia.fotivela\xe2\x80\x9d.");

    fs::create_directories(folder / "carpeta.fotivela");
    EXPECT_EQ(refusalOf(folder / "carpeta.fotivela"), "No se ha podido abrir el archivo \xe2\x80\x9c" "carpeta.fotivela\xe2\x80\x9d.");
    EXPECT_EQ(refusalOf(folder / "nada.fotivela"),
              "No se ha podido abrir el archivo \xe2\x80\x9cnada.fotivela\xe2\x80\x9d porque no existe.");

    FotivelaProject project = FotivelaProject::empty();
    project.name = "Real";
    writeTextFile(folder / "real.fotivela", encodeProject(project));
    EXPECT_EQ(readProjectFile(folder / "real.fotivela").name, "Real");
}

} // namespace
