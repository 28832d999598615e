// Loading the access library from the program's folder: its entries reach the library, and a
// missing, incomplete or unsafe library is refused with a message naming it.
#include "pci/access_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
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

// The library that would be loaded, wherever a link leads, and every folder above it and above
// the program's folder: owned by root (or whoever runs the program), and writable by nobody else
// unless sticky as /tmp is.
TEST(LibraryLoader, NoLinkOwnerOrFolderAboveLetsAnotherUserInject) {
    if (geteuid() != 0) GTEST_SKIP() << "only the administrator can give files away";
    constexpr uid_t kNobody = 65534;
    struct Case {
        const char* what;
        // Makes the program folder inside root; returns it.
        std::function<std::string(const TempFolder& root)> prepare;
        const char* expected;  // after "<folder>/libvlmio.so is refused: "
    };
    const Case cases[] = {
        {"a link into a folder anyone may write",
         [](const TempFolder& root) {
             std::filesystem::create_directory(root / "open");
             chmod((root / "open").c_str(), 0777);
             Install(VLM_FAKE_VLMIO_WHOLE, root, 0755);
             std::filesystem::rename(root / "libvlmio.so", root / "open/libvlmio.so");
             std::filesystem::create_directory(root / "program");
             std::filesystem::create_symlink(root / "open/libvlmio.so",
                                             root / "program/libvlmio.so");
             return root / "program";
         },
         "group or others may write to its folder "},
        {"a library another user owns",
         [](const TempFolder& root) {
             Install(VLM_FAKE_VLMIO_WHOLE, root, 0755);
             EXPECT_EQ(chown((root / "libvlmio.so").c_str(), kNobody, kNobody), 0);
             return root.path();
         },
         "it is owned by user 65534, not by root"},
        {"a program folder another user owns",
         [](const TempFolder& root) {
             Install(VLM_FAKE_VLMIO_WHOLE, root, 0755);
             EXPECT_EQ(chown(root.path().c_str(), kNobody, kNobody), 0);
             return root.path();
         },
         "its folder "},
        {"a folder above that anyone may write, not sticky",
         [](const TempFolder& root) {
             chmod(root.path().c_str(), 0777);
             std::filesystem::create_directory(root / "program");
             chmod((root / "program").c_str(), 0755);
             std::filesystem::copy_file(VLM_FAKE_VLMIO_WHOLE, root / "program/libvlmio.so");
             chmod((root / "program/libvlmio.so").c_str(), 0755);
             return root / "program";
         },
         "group or others may write to its folder "},
    };
    for (const Case& c : cases) {
        TempFolder root;
        ASSERT_TRUE(root.ok());
        const std::string folder = c.prepare(root);
        std::unique_ptr<LoadedVlmIo> io;
        std::string error;
        EXPECT_FALSE(pci::LoadAccessLibrary(folder, io, error)) << c.what;
        EXPECT_EQ(io, nullptr) << c.what;
        const std::string prefix =
            "The access library " + folder + "/libvlmio.so is refused: " + c.expected;
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << c.what << ": " << error;
    }
    // A sticky folder above (as /tmp) is no way in: the same layout loads.
    TempFolder root;
    ASSERT_TRUE(root.ok());
    ASSERT_EQ(chmod(root.path().c_str(), 01777), 0);
    std::filesystem::create_directory(root / "program");
    ASSERT_EQ(chmod((root / "program").c_str(), 0755), 0);
    std::filesystem::copy_file(VLM_FAKE_VLMIO_WHOLE, root / "program/libvlmio.so");
    ASSERT_EQ(chmod((root / "program/libvlmio.so").c_str(), 0755), 0);
    std::unique_ptr<LoadedVlmIo> io;
    std::string error;
    EXPECT_TRUE(pci::LoadAccessLibrary(root / "program", io, error)) << error;
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
