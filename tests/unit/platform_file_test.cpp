// The platform's file services: wildcard listings, shared and exclusive opens, access tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/platform.h"
#include "tests/support/temp_folder.h"

namespace {

using framework::FileError;
using framework::FileErrorKind;
using testsupport::TempFolder;

TEST(PlatformListing, MatchesWithoutRegardToCaseInTheSystemsOrder) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    for (const char* name :
         {"b.rom", "_x.rom", "A.rom", "a2.ROM", "c.Rom", "d.romx", "e.ro", "noext", "rom"}) {
        dir.Write(name, "x");
    }
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // Upper-case folding puts '_' (0x5F) after the letters; '.' sorts before digits.
        {"*.rom", {"A.rom", "a2.ROM", "b.rom", "c.Rom", "_x.rom"}},
        {"*.ROM", {"A.rom", "a2.ROM", "b.rom", "c.Rom", "_x.rom"}},
        {"?.rom", {"A.rom", "b.rom", "c.Rom"}},
        // As on Windows, "*.*" takes every name, the folder's own entries included.
        {"*.*",
         {".", "..", "A.rom", "a2.ROM", "b.rom", "c.Rom", "d.romx", "e.ro", "noext", "rom",
          "_x.rom"}},
        {"no*", {"noext"}},
        {"*.bin", {}},
    };
    for (const auto& [wildcard, expected] : cases) {
        EXPECT_EQ(framework::ListMatchingNames(dir / wildcard), expected) << wildcard;
    }
}

TEST(PlatformListing, WithoutAFolderListsTheCurrentDirectory) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    dir.Write("only.ROM", "x");
    testsupport::CurrentDirectoryGuard guard;
    ASSERT_TRUE(framework::SetCurrentDirectory(dir.path()));
    EXPECT_EQ(framework::GetCurrentDirectory(), dir.path());
    EXPECT_EQ(framework::ListMatchingNames("*.rom"), std::vector<std::string>{"only.ROM"});
    EXPECT_TRUE(framework::ListMatchingNames(dir / "missing-folder/*.rom").empty());
    EXPECT_FALSE(framework::SetCurrentDirectory(dir / "missing-folder"));
}

TEST(PlatformFiles, SharedOpenReadsRegularFilesOnly) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    std::string file = dir.Write("a.rom", "0123456789");
    ASSERT_EQ(mkdir((dir / "x.rom").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "y.rom").c_str(), 0644), 0);

    FileError error;
    auto opened = framework::OpenFileShared(file, error);
    ASSERT_NE(opened, nullptr);
    uint64_t length = 0;
    ASSERT_TRUE(opened->Length(length));
    EXPECT_EQ(length, 10u);
    char buffer[16] = {};
    std::size_t got = 0;
    ASSERT_TRUE(opened->Read(buffer, 4, got));
    EXPECT_EQ(std::string(buffer, got), "0123");
    ASSERT_TRUE(opened->SeekToBegin());
    ASSERT_TRUE(opened->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(std::string(buffer, got), "0123456789");
    ASSERT_TRUE(opened->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(opened->Close());
    EXPECT_FALSE(opened->Close());

    const std::pair<std::string, FileErrorKind> failures[] = {
        {dir / "missing.rom", FileErrorKind::kNotFound},
        {dir / "x.rom", FileErrorKind::kAccessDenied},
        {dir / "y.rom", FileErrorKind::kOther},  // a FIFO: refused at once, never waited on
    };
    for (const auto& [path, kind] : failures) {
        EXPECT_EQ(framework::OpenFileShared(path, error), nullptr) << path;
        EXPECT_EQ(error.kind, kind) << path;
        EXPECT_NE(error.code, 0) << path;
        EXPECT_EQ(framework::OpenFileExclusive(path, error), nullptr) << path;
        EXPECT_EQ(error.kind, kind) << path;
    }
    EXPECT_EQ(framework::OpenFileShared(dir / "missing.rom", error), nullptr);
    EXPECT_EQ(error.code, ENOENT);
}

TEST(PlatformFiles, ExclusiveOpenFailsWhileTheFileIsHeldElsewhere) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    std::string file = dir.Write("held.rom", "data");
    FileError error;

    for (int lockKind : {LOCK_SH, LOCK_EX}) {
        // Another open file description stands for another program holding the file.
        int other = open(file.c_str(), O_RDONLY);
        ASSERT_GE(other, 0);
        ASSERT_EQ(flock(other, lockKind | LOCK_NB), 0);
        EXPECT_EQ(framework::OpenFileExclusive(file, error), nullptr);
        EXPECT_EQ(error.kind, FileErrorKind::kSharingViolation);
        EXPECT_EQ(error.code, EWOULDBLOCK);
        // Shared readers are still let in.
        EXPECT_NE(framework::OpenFileShared(file, error), nullptr);
        close(other);
    }

    auto first = framework::OpenFileExclusive(file, error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(framework::OpenFileExclusive(file, error), nullptr);
    EXPECT_EQ(error.kind, FileErrorKind::kSharingViolation);
    first->Close();
    EXPECT_NE(framework::OpenFileExclusive(file, error), nullptr);

    // A program that holds it open for writing, without any lock, holds it too; one that only
    // reads it does not.
    for (int mode : {O_WRONLY, O_RDWR, O_RDONLY}) {
        int other = open(file.c_str(), mode);
        ASSERT_GE(other, 0);
        auto opened = framework::OpenFileExclusive(file, error);
        EXPECT_EQ(opened == nullptr, mode != O_RDONLY) << mode;
        if (mode != O_RDONLY) {
            EXPECT_EQ(error.kind, FileErrorKind::kSharingViolation);
        }
        close(other);
    }
}

TEST(PlatformFiles, ErrorTextsNameTheFile) {
    const std::pair<FileErrorKind, const char*> cases[] = {
        {FileErrorKind::kNotFound, "C.rtf was not found."},
        {FileErrorKind::kAccessDenied, "Access to C.rtf was denied."},
        {FileErrorKind::kSharingViolation,
         "Encountered a sharing violation while accessing C.rtf."},
        {FileErrorKind::kAlreadyExists, "C.rtf already exists."},
        {FileErrorKind::kOther, "An unknown error occurred while accessing C.rtf."},
    };
    for (const auto& [kind, text] : cases) {
        EXPECT_EQ(framework::FileErrorText(kind, "C.rtf"), text);
    }
}

TEST(PlatformFiles, AccessTests) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    std::string writable = dir.Write("w.rom", "x");
    std::string readOnly = dir.Write("r.rom", "x");
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);

    EXPECT_TRUE(framework::PathExists(writable));
    EXPECT_TRUE(framework::PathExists(dir.path()));
    EXPECT_FALSE(framework::PathExists(dir / "missing"));
    EXPECT_TRUE(framework::PathReadWritable(writable));
    // Also for the administrator, whom the system's own access test lets through.
    EXPECT_TRUE(framework::PathExists(readOnly));
    EXPECT_FALSE(framework::PathReadWritable(readOnly));
    EXPECT_FALSE(framework::PathReadWritable(dir / "missing"));
}

// A new file is created whole, for its owner only, and an existing one is never replaced.
TEST(PlatformFiles, NewFilesNeverReplaceOldOnes) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::vector<uint8_t> data = {1, 2, 3, 0, 255};
    FileError error;
    const std::string path = dir / "backup.rom";
    ASSERT_TRUE(framework::WriteNewFile(path, data.data(), data.size(), error));
    std::ifstream in(path, std::ios::binary);
    std::vector<char> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), data);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::vector<uint8_t> other = {9, 9};
    EXPECT_FALSE(framework::WriteNewFile(path, other.data(), other.size(), error));
    EXPECT_EQ(error.kind, FileErrorKind::kAlreadyExists);
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()),
        std::string("\x01\x02\x03\x00\xff", 5))
        << "the first file is untouched";

    EXPECT_FALSE(framework::WriteNewFile(dir / "missing/x.rom", data.data(), data.size(), error));
    EXPECT_EQ(error.kind, FileErrorKind::kNotFound);
    EXPECT_TRUE(framework::IsFolder(dir.path()));
    EXPECT_FALSE(framework::IsFolder(path));
    EXPECT_FALSE(framework::IsFolder(dir / "missing"));
}

}  // namespace
