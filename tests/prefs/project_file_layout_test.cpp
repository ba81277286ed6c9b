#include "model/project_file_layout.h"
#include "temporary_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fotivela;
using fotivela::testing::TemporaryFolder;
using fotivela::testing::writeText;
namespace fs = std::filesystem;

TEST(ProjectFileLayout, SanitizedFileNameReplacesForbiddenCharactersAndTrims)
{
    using ProjectFileLayout::sanitizedFileName;
    EXPECT_EQ(sanitizedFileName("  Viaje: Roma/2024  "), "Viaje- Roma-2024");
    EXPECT_EQ(sanitizedFileName("a??b"), "a--b");
    EXPECT_EQ(sanitizedFileName(" \t \n "), "");
    EXPECT_EQ(sanitizedFileName("a\\b:c?d%e*f|g\"h<i>j"), "a-b-c-d-e-f-g-h-i-j");
    // Unicode blanks at the ends go too; inner ones and accents stay.
    EXPECT_EQ(sanitizedFileName("\xC2\xA0" "Cumpleaños  de Ana" "\xE3\x80\x80"), "Cumpleaños  de Ana");
    EXPECT_EQ(sanitizedFileName(".."), "..");
}

TEST(ProjectFileLayout, DefaultProjectURLStaysInsideItsParent)
{
    const fs::path parent = "/p/Fotivela Projects";
    EXPECT_EQ(ProjectFileLayout::defaultProjectURL("", parent), parent / "Nuevo video" / "Nuevo video.fotivela");
    EXPECT_EQ(ProjectFileLayout::defaultProjectURL("Boda: Ana", parent), parent / "Boda- Ana" / "Boda- Ana.fotivela");
    for (const char* name : {"..", ".", "...", "   ", " .. "})
        EXPECT_EQ(ProjectFileLayout::defaultProjectURL(name, parent), parent / "Nuevo video" / "Nuevo video.fotivela") << name;
    // A name made of forbidden characters becomes hyphens, never a path separator.
    EXPECT_EQ(ProjectFileLayout::defaultProjectURL("../..", parent), parent / "..-.." / "..-...fotivela");
    EXPECT_EQ(ProjectFileLayout::safePathComponent("..", "Cancion"), "Cancion");
}

TEST(ProjectFileLayout, ProjectFileFromOpenSelection)
{
    TemporaryFolder temp;
    const auto boda = temp.path() / "Boda";
    writeText(boda / "Boda.fotivela", "{}");
    writeText(boda / "otro.fotivela", "{}");
    EXPECT_EQ(ProjectFileLayout::projectFileURL(boda), boda / "Boda.fotivela");

    const auto other = temp.path() / "Otro";
    writeText(other / ".oculto.fotivela", "{}");
    writeText(other / "notas.txt", "");
    writeText(other / "otro.fotivela", "{}");
    EXPECT_EQ(ProjectFileLayout::projectFileURL(other), other / "otro.fotivela");

    const auto upper = temp.path() / "Mayus";
    writeText(upper / "x.FOTIVELA", "{}");
    EXPECT_EQ(ProjectFileLayout::projectFileURL(upper), std::nullopt);

    EXPECT_EQ(ProjectFileLayout::projectFileURL(boda / "otro.fotivela"), boda / "otro.fotivela");
    EXPECT_EQ(ProjectFileLayout::projectFileURL(temp.path() / "missing.json"), temp.path() / "missing.json");
}

TEST(ProjectFileLayout, UniqueDestinationCountsUpFromTwo)
{
    TemporaryFolder temp;
    const auto& f = temp.path();
    writeText(f / "Boda.fotivela", "");
    writeText(f / "Boda-2.fotivela", "");
    EXPECT_EQ(ProjectFileLayout::uniqueDestination("Boda.fotivela", f), f / "Boda-3.fotivela");
    writeText(f / "Fotos", "");
    EXPECT_EQ(ProjectFileLayout::uniqueDestination("Fotos", f), f / "Fotos-2");
    writeText(f / "a.b.c", "");
    EXPECT_EQ(ProjectFileLayout::uniqueDestination("a.b.c", f), f / "a.b-2.c");
    writeText(f / ".oculto", "");
    EXPECT_EQ(ProjectFileLayout::uniqueDestination(".oculto", f), f / ".oculto-2");
    EXPECT_EQ(ProjectFileLayout::uniqueDestination("nuevo.jpg", f), f / "nuevo.jpg");
    // A dangling link is taken: writing there would write through it.
    ASSERT_EQ(symlink("/nonexistent/target", (f / "link.jpg").c_str()), 0);
    EXPECT_EQ(ProjectFileLayout::uniqueDestination("link.jpg", f), f / "link-2.jpg");
}

TEST(ProjectFileLayout, RegularFileIndexKeysByLowerCaseName)
{
    TemporaryFolder temp;
    const auto& f = temp.path();
    writeText(f / "IMG_1.JPG", "a");
    writeText(f / "sub" / "img_1.jpg", "b");
    writeText(f / "sub" / "deeper" / "Canción.MP3", "c");
    writeText(f / ".hidden" / "secret.jpg", "d");
    writeText(f / "sub" / ".dot.jpg", "e");
    ASSERT_EQ(symlink((f / "IMG_1.JPG").c_str(), (f / "enlace.jpg").c_str()), 0);
    ASSERT_EQ(symlink(f.c_str(), (f / "sub" / "loop").c_str()), 0);

    const auto index = ProjectFileLayout::regularFileIndex(f);
    EXPECT_EQ(index.size(), 2u);
    ASSERT_TRUE(index.contains("img_1.jpg"));
    const auto chosen = index.at("img_1.jpg");
    EXPECT_TRUE(chosen == f / "IMG_1.JPG" || chosen == f / "sub" / "img_1.jpg");
    EXPECT_EQ(index.at("canción.mp3"), f / "sub" / "deeper" / "Canción.MP3");
    EXPECT_TRUE(ProjectFileLayout::regularFileIndex(f / "missing").empty());
}

TEST(ProjectFileLayout, DocumentTypeNames)
{
    EXPECT_EQ(ProjectFileLayout::fotivelaProject.identifier, "com.fotivela.project");
    EXPECT_EQ(ProjectFileLayout::fotivelaProject.mimeType, "application/x-fotivela-project");
    EXPECT_EQ(ProjectFileLayout::fotivelaProject.conformsToMimeType, "application/json");
}
