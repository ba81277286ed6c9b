// What a killed or failed export leaves behind, and what the user reads when the disk refuses it.
// Faults that only a separate process can show (a kill, a file size limit, a full drive of its
// own) run in a forked child whose exit status carries the verdict.

#include "export/export_file_moves.h"
#include "export/export_temporaries.h"
#include "export/small_exports.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include "platform/duskmere_storage.h"
#include "platform/uuid.h"
#include "prefs/temporary_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

void writeFile(const fs::path& file, std::size_t bytes = 16)
{
    std::ofstream(file, std::ios::binary) << std::string(bytes, 'x');
}

void age(const fs::path& file, std::chrono::minutes by)
{
    fs::last_write_time(file, fs::file_time_type::clock::now() - by);
}

std::string uuid()
{
    return Uuid::random().toString();
}

// Runs `body` in a child process; its return value is the child's exit status.
int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ExportLeftovers, OnlyOldFilesOfOursGoAndNothingWhileAnExportRuns)
{
    StorageRoot root;
    const fs::path temporary = DuskmereStorage::temporaryDirectory();
    const fs::path oldVideo = temporary / (".fotivela-" + uuid() + ".mp4");
    const fs::path oldMux = temporary / (".fotivela-" + uuid() + "-audio.mp4");
    const fs::path freshVideo = temporary / (".fotivela-" + uuid() + ".mp4");
    const fs::path notOurs = temporary / ".fotivela-vacaciones.mp4";
    const fs::path manifest = temporary / "fotivela-last-export.json";

    const fs::path destination = root.path() / "Videos";
    const fs::path elsewhere = root.path() / "Otros";
    fs::create_directories(destination);
    fs::create_directories(elsewhere);
    ExportTemporaries::recordDestinationFolder(destination / "Viaje.mp4");
    const fs::path oldPart = destination / (".Viaje.mp4-" + uuid() + ".part");
    const fs::path freshPart = destination / (".Viaje.mp4-" + uuid() + ".part");
    const fs::path finished = destination / "Viaje.mp4";
    const fs::path userHidden = destination / ".Viaje.mp4.part";
    const fs::path unknownFolderPart = elsewhere / (".Viaje.mp4-" + uuid() + ".part");
    for (const fs::path& file : {oldVideo, oldMux, freshVideo, notOurs, manifest, oldPart, freshPart, finished,
                                 userHidden, unknownFolderPart})
        writeFile(file);
    for (const fs::path& file : {oldVideo, oldMux, notOurs, manifest, oldPart, finished, userHidden, unknownFolderPart})
        age(file, std::chrono::minutes(90));

    {
        // An export running in another process holds the lock: its files are never swept.
        const ExportTemporaries::ActivityLock running;
        EXPECT_EQ(inChild([] { return ExportTemporaries::sweepStale().empty() ? 0 : 1; }), 0);
        EXPECT_TRUE(fs::exists(oldVideo));
        EXPECT_TRUE(fs::exists(oldPart));
    }

    const std::vector<fs::path> removed = ExportTemporaries::sweepStale();
    EXPECT_EQ(removed.size(), 3u);
    for (const fs::path& file : {oldVideo, oldMux, oldPart})
        EXPECT_FALSE(fs::exists(file)) << file;
    for (const fs::path& file : {freshVideo, notOurs, manifest, freshPart, finished, userHidden, unknownFolderPart})
        EXPECT_TRUE(fs::exists(file)) << file;
}

TEST(ExportLeftovers, AKilledExportLeavesFilesTheSweepRecognises)
{
    StorageRoot root;
    const FotivelaProject project = test::onePhotoProject(root.path(), 4);
    const fs::path output = root.path() / "salida.mp4";

    // Killed halfway through encoding, as a logout or a crash would.
    const int status = inChild([&] {
        VideoExporter exporter(project, output, [](const ExportProgress& progress) {
            if (progress.progress > 0.3)
                ::raise(SIGKILL);
        });
        try {
            exporter.exportProject();
        } catch (...) {
        }
        return 0;
    });
    ASSERT_EQ(status, 128 + SIGKILL);
    EXPECT_FALSE(fs::exists(output));

    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(DuskmereStorage::temporaryDirectory()))
        if (ExportTemporaries::isTemporaryVideoName(entry.path().filename().string()))
            left.push_back(entry.path());
    ASSERT_EQ(left.size(), 1u) << "the encoded video stays behind";
    EXPECT_TRUE(ExportTemporaries::sweepStale().empty()) << "too recent to be taken";
    EXPECT_EQ(ExportTemporaries::sweepStale(std::chrono::seconds(0)), left);
}

// Encodes noise into `file` until the encoder gives up; the error's text, or "" when it never does.
std::string encodeNoise(const fs::path& file)
{
    const VideoEncoderSettings settings = test::squareH264Settings(128, 8'000'000, 1);
    try {
        VideoEncoder encoder(file, settings);
        Bt709FrameConverter converter(128, 128);
        QImage picture(128, 128, QImage::Format_RGB32);
        std::mt19937 random(7);
        for (int i = 0; i < 40; ++i) {
            for (int y = 0; y < 128; ++y)
                for (int x = 0; x < 128; ++x)
                    picture.setPixel(x, y, random());
            encoder.append(converter.convert(picture).get(), i);
        }
        encoder.finish();
    } catch (const VideoExporterError& error) {
        return error.what();
    }
    return {};
}

TEST(ExportErrors, AFileTooLargeForTheDriveIsNamedInSpanish)
{
    StorageRoot root;
    const fs::path file = root.path() / "grande.mp4";
    // A file size limit fails writes with EFBIG, as FAT32 does past 4 GB.
    const int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = encodeNoise(file);
        std::fprintf(stderr, "message: %s\n", message.c_str());
        return message
                == "El archivo es demasiado grande para el disco de destino (FAT32 admite como máximo 4 GB por "
                   "archivo).\nNo se pudo finalizar la exportacion."
            ? 0
            : 1;
    });
    EXPECT_EQ(status, 0);
}

// Makes `folder` a tmpfs of `bytes` in a mount namespace of this (single-threaded) child; false
// where the system allows no such namespace.
bool mountSmallDrive(const fs::path& folder, std::size_t bytes)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    const auto write = [](const char* file, const std::string& text) {
        std::ofstream out(file);
        out << text;
        out.flush();
        return out.good();
    };
    write("/proc/self/setgroups", "deny");
    if (!write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
        || !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return false;
    const std::string options = "size=" + std::to_string(bytes);
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TEST(ExportErrors, AFullDestinationDriveIsNamedAndKeepsItsOldFile)
{
    StorageRoot root;
    const fs::path finished = root.path() / "terminado.mp4";
    writeFile(finished, 2 * 1024 * 1024);
    const fs::path drive = root.path() / "pendrive";
    fs::create_directories(drive);
    constexpr int unsupported = 77;
    const int status = inChild([&] {
        if (!mountSmallDrive(drive, 512 * 1024))
            return unsupported;
        writeFile(drive / "Viaje.mp4", 100);
        try {
            moveFileIntoPlace(finished, drive / "Viaje.mp4");
            return 2;
        } catch (const VideoExporterError& error) {
            std::fprintf(stderr, "message: %s\n", error.what());
            if (std::string(error.what()) != "No queda espacio libre en el disco.\nNo se pudo finalizar la exportacion.")
                return 3;
        }
        // The old video stays whole and no hidden copy is left on the drive.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(drive))
            ++entries;
        if (entries != 1 || fs::file_size(drive / "Viaje.mp4") != 100)
            return 4;
        // A name near the limit of 255 bytes still gets its hidden copy on the way.
        const std::string longName = std::string(240, 'v') + ".mp4";
        writeFile(finished, 1000);
        try {
            moveFileIntoPlace(finished, drive / longName);
        } catch (const VideoExporterError& error) {
            std::fprintf(stderr, "message: %s\n", error.what());
            return 5;
        }
        return fs::file_size(drive / longName) == 1000 ? 0 : 6;
    });
    if (status == unsupported)
        GTEST_SKIP() << "no mount namespaces here";
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace fotivela
