// Loading the access library from the program's folder: its entries reach the library, and a
// missing, incomplete or unsafe library is refused with a message naming it.
#include "pci/access_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/temp_folder.h"

namespace {

using pci::LoadedVlmIo;
using testsupport::TempFolder;

// Puts the built library into the folder under the name the program loads.
void Install(const char* built, const TempFolder& dir, mode_t mode = 0755) {
    std::string target = dir / pci::kAccessLibraryFileName;
    std::filesystem::copy_file(built, target, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
}

TEST(LibraryLoader, EveryEntryReachesTheLibrary) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    Install(VLM_FAKE_VLMIO_WHOLE, dir);
    std::unique_ptr<LoadedVlmIo> io;
    std::string error;
    ASSERT_TRUE(pci::LoadAccessLibrary(dir.path(), io, error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(io->Path(), dir / "libvlmio.so");
    EXPECT_EQ(io->LoadVlmIODriver(), 1u);
    EXPECT_EQ(io->LoadVlmIODriver(), 2u);
    EXPECT_EQ(io->PCI_Read_DWORD(1, 2, 3, 0xF0), 0xFFFFFFFFu);
    io->PCI_Write_DWORD(1, 2, 3, 0xF0, 0x11223344);
    io->PCI_Write_Byte(1, 2, 3, 0xF4, 0x5A);
    EXPECT_EQ(io->PCI_Read_DWORD(1, 2, 3, 0xF0), 0x11223344u);
    EXPECT_EQ(io->PCI_Read_BYTE(1, 2, 3, 0xF1), 0x33u);
    EXPECT_EQ(io->PCI_Read_BYTE(1, 2, 3, 0xF4), 0x5Au);
    EXPECT_EQ(io->PCI_Read_BYTE(1, 2, 4, 0xF4), 0xFFu) << "another function";
    io->UnloadVlmIODriver();
    EXPECT_EQ(io->PCI_Read_DWORD(1, 2, 3, 0xF0), 0xFFFFFFFFu);
    EXPECT_FALSE(io->IsEmulated());
}

TEST(LibraryLoader, TheEmulatedPcSaysSo) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    Install(VLM_FAKE_VLMIO_EMULATED, dir);
    std::unique_ptr<LoadedVlmIo> io;
    std::string error;
    ASSERT_TRUE(pci::LoadAccessLibrary(dir.path(), io, error)) << error;
    EXPECT_TRUE(io->IsEmulated());
}

TEST(LibraryLoader, RefusalsNameTheFileOrEntry) {
    struct Case {
        const char* what;
        const char* built;  // null: no library in the folder
        mode_t fileMode;
        mode_t folderMode;
        const char* expected;  // after "The access library <path>"
    };
    const Case cases[] = {
        {"missing file", nullptr, 0755, 0755, " was not found."},
        {"missing entry", VLM_FAKE_VLMIO_NO_WRITE_DWORD, 0755, 0755,
         " has no entry PCI_Write_DWORD."},
        {"group may write it", VLM_FAKE_VLMIO_WHOLE, 0775, 0755,
         " is refused: group or others may write to it"},
        {"others may write it", VLM_FAKE_VLMIO_WHOLE, 0757, 0755,
         " is refused: group or others may write to it"},
        {"others may write its folder", VLM_FAKE_VLMIO_WHOLE, 0755, 0777,
         " is refused: group or others may write to its folder"},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        ASSERT_TRUE(dir.ok());
        if (c.built != nullptr) Install(c.built, dir, c.fileMode);
        ASSERT_EQ(chmod(dir.path().c_str(), c.folderMode), 0);
        std::unique_ptr<LoadedVlmIo> io;
        std::string error;
        EXPECT_FALSE(pci::LoadAccessLibrary(dir.path(), io, error)) << c.what;
        EXPECT_EQ(io, nullptr) << c.what;
        EXPECT_EQ(error.rfind("The access library " + (dir / "libvlmio.so") + c.expected, 0), 0u)
            << c.what << ": " << error;
    }
}

TEST(LibraryLoader, AFileThatIsNoLibraryIsRefusedWithoutHarm) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    dir.Write("libvlmio.so", "not a shared library");
    std::unique_ptr<LoadedVlmIo> io;
    std::string error;
    EXPECT_FALSE(pci::LoadAccessLibrary(dir.path(), io, error));
    EXPECT_NE(error.find("could not be loaded"), std::string::npos) << error;

    EXPECT_FALSE(pci::LoadAccessLibrary("relative/folder", io, error));
    EXPECT_NE(error.find("full path"), std::string::npos) << error;
}

}  // namespace
