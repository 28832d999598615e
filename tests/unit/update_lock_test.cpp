// One update at a time: the update lock is refused to a second holder, in this process or
// another, until the first lets it go or ends; a lock that cannot be made is said so.
#include "framework/update_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "tests/support/temp_folder.h"

namespace {

using framework::UpdateLock;
using framework::UpdateLockResult;
using testsupport::TempFolder;

TEST(UpdateLock, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    auto first = std::make_unique<UpdateLock>();
    EXPECT_EQ(first->Take(dir.path()), UpdateLockResult::kTaken);
    EXPECT_EQ(first->Name(), dir / "vlm270fwupdate.lock");
    UpdateLock second;
    EXPECT_EQ(second.Take(dir.path()), UpdateLockResult::kHeldElsewhere);
    // Another process is refused as well, and a lock of another folder is another lock.
    const pid_t child = fork();
    if (child == 0) {
        UpdateLock other;
        _exit(other.Take(dir.path()) == UpdateLockResult::kHeldElsewhere ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    TempFolder elsewhere;
    UpdateLock third;
    EXPECT_EQ(third.Take(elsewhere.path()), UpdateLockResult::kTaken);
    first.reset();
    EXPECT_EQ(second.Take(dir.path()), UpdateLockResult::kTaken);
}

TEST(UpdateLock, ALockThatCannotBeMadeIsNotTakenForFree) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    UpdateLock lock;
    EXPECT_EQ(lock.Take(dir / "missing"), UpdateLockResult::kUnavailable);
    // A link or a folder in the lock's place is not a lock.
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_directory(dir / "folder/vlm270fwupdate.lock");
    EXPECT_EQ(lock.Take(dir / "folder"), UpdateLockResult::kUnavailable);
    std::filesystem::create_directory(dir / "link");
    std::filesystem::create_symlink(dir / "target", dir / "link/vlm270fwupdate.lock");
    EXPECT_EQ(lock.Take(dir / "link"), UpdateLockResult::kUnavailable);
    EXPECT_FALSE(std::filesystem::exists(dir / "target"));
}

// A lock file that another user made is refused, not shared: its owner could hold it and keep
// every update away. One made by the program is its owner's alone (0600).
TEST(UpdateLock, ALockFileOfAnotherUserIsRefused) {
    TempFolder dir;
    ASSERT_TRUE(dir.ok());
    {
        UpdateLock lock;
        ASSERT_EQ(lock.Take(dir.path()), UpdateLockResult::kTaken);
        struct stat st {};
        ASSERT_EQ(stat(lock.Name().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, geteuid());
    }
    if (geteuid() != 0) GTEST_SKIP() << "giving the file to another user needs root";
    const std::string name = dir / "vlm270fwupdate.lock";
    ASSERT_EQ(chown(name.c_str(), 65534, 65534), 0);
    UpdateLock lock;
    EXPECT_EQ(lock.Take(dir.path()), UpdateLockResult::kNotOwned);
}

}  // namespace
