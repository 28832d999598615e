// Locating, loading and checking the firmware image, and the utility object's program paths.
#include "util/image_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "framework/message_box.h"
#include "tests/support/memory_event_log.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_services.h"
#include "util/event_log.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

using testsupport::TempFolder;

// A test's own program folder, made the current directory as the main dialog does, with the
// diagnostic lines and message boxes of the test captured.
class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        ASSERT_TRUE(framework::SetCurrentDirectory(m_dir.path()));
        m_services.emplace(
            pci::Services{.platform = {.messageBoxes =
                                           [this](const framework::MessageBoxRequest& request) {
                                               m_boxes.push_back(request);
                                               return framework::kIdOk;
                                           },
                                       .eventLog = &m_events}});
        ASSERT_TRUE(m_services->Reporter()->Open());
    }
    void TearDown() override { m_services.reset(); }

    std::string Locate() { return LocateFWBinFile(m_dir.path().c_str()); }

    // Writes a file of that many bytes, each a function of its offset.
    std::string WriteImage(const std::string& name, std::size_t size) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + 3);
        return m_dir.Write(name, content);
    }

    testsupport::CurrentDirectoryGuard m_cwd;
    TempFolder m_dir;
    testsupport::MemoryEventLog m_events;
    std::vector<framework::MessageBoxRequest> m_boxes;
    std::optional<testsupport::ScopedTestServices> m_services;
};

TEST_F(ImageFileTest, LocatingTakesTheExactExtensionLowerCaseFirst) {
    struct Case {
        std::vector<std::string> files;
        std::string found;
    };
    const Case cases[] = {
        {{"a.rom", "b.ROM"}, "a.rom"},
        {{"b.ROM"}, "b.ROM"},
        {{"c.Rom"}, ""},
        {{"z.rom", "A.rom", "m.rom"}, "A.rom"},  // the listing's first
        {{"B.ROM", "a.ROM", "c.Rom"}, "a.ROM"},
        {{"image.romx", "rom", "image.ro"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        ASSERT_TRUE(dir.ok());
        for (const std::string& name : c.files) dir.Write(name, "image");
        ASSERT_TRUE(framework::SetCurrentDirectory(dir.path()));
        EXPECT_EQ(LocateFWBinFile(dir.path().c_str()), c.found)
            << ::testing::PrintToString(c.files);
    }
    EXPECT_EQ(FWFullName(m_dir.path().c_str(), "a.rom"), m_dir.path() + "/a.rom");
}

TEST_F(ImageFileTest, AnEntryThatCannotBeOpenedEndsItsSearch) {
    // A folder and a FIFO named like images come first in the listing; the files after them are
    // not tried, and the FIFO does not hang the search.
    ASSERT_EQ(mkdir((m_dir / "x.rom").c_str(), 0755), 0);
    m_dir.Write("z.rom", "image");
    EXPECT_EQ(Locate(), "");
    m_dir.Write("Q.ROM", "image");
    EXPECT_EQ(Locate(), "Q.ROM") << "the second search still runs";

    TempFolder fifoDir;
    ASSERT_TRUE(fifoDir.ok());
    ASSERT_EQ(mkfifo((fifoDir / "y.rom").c_str(), 0644), 0);
    fifoDir.Write("z.rom", "image");
    ASSERT_TRUE(framework::SetCurrentDirectory(fifoDir.path()));
    EXPECT_EQ(LocateFWBinFile(fifoDir.path().c_str()), "");
}

TEST_F(ImageFileTest, FindOpensTheBareNameInTheCurrentDirectory) {
    m_dir.Write("a.rom", "image");
    char found[kFoundNameBytes];
    std::memset(found, 'x', sizeof found);
    auto file = FindFWBinFile(found, (m_dir.path() + "/*.rom").c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(found, "a.rom");
    file->Close();

    TempFolder elsewhere;
    ASSERT_TRUE(elsewhere.ok());
    ASSERT_TRUE(framework::SetCurrentDirectory(elsewhere.path()));
    EXPECT_EQ(FindFWBinFile(found, (m_dir.path() + "/*.rom").c_str()), nullptr);
    EXPECT_STREQ(found, "");
}

TEST_F(ImageFileTest, LoadFillsTheBufferAndRaisesShortImages) {
    const std::pair<std::size_t, uint32_t> cases[] = {
        {1, 65536}, {10, 65536}, {65535, 65536}, {65536, 65536}, {100000, 100000}, {131072, 131072},
    };
    for (const auto& [fileSize, imageSize] : cases) {
        std::string path = WriteImage("img.rom", fileSize);
        std::vector<uint8_t> buffer(kImageBufferBytes, 0);
        CUtility utility;
        ASSERT_EQ(utility.bOpenFWBinFile(path, buffer.data()), kResultSuccess) << fileSize;
        EXPECT_EQ(utility.m_dwFWBinSize, imageSize) << fileSize;
        EXPECT_EQ(utility.m_dwFWFileBytes, fileSize) << "the file's own bytes, without padding";
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            uint8_t expected = i < fileSize ? static_cast<uint8_t>(i * 7 + 3) : 0;
            if (buffer[i] != expected) ++wrong;
        }
        EXPECT_EQ(wrong, 0u) << fileSize;
    }
    EXPECT_TRUE(m_events.Lines().empty());
}

// A file longer than the buffer, and an empty file (which would be written as 64 KiB of zeros and
// reported updated), are refused; nothing is written into or past the buffer.
TEST_F(ImageFileTest, LoadRefusesAnImageLongerThanTheBufferOrEmpty) {
    for (std::size_t size : {static_cast<std::size_t>(kImageBufferBytes) + 1, std::size_t{0}}) {
        std::string path = WriteImage("big.rom", size);
        // Guard bytes after the buffer show that nothing is written past it.
        std::vector<uint8_t> buffer(kImageBufferBytes + 64, 0xA5);
        std::fill(buffer.begin(), buffer.begin() + kImageBufferBytes, 0);
        CUtility utility;
        EXPECT_EQ(utility.bOpenFWBinFile(path, buffer.data()), kResultInvalidParameter) << size;
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], i < kImageBufferBytes ? 0 : 0xA5) << i;
        }
    }
}

TEST_F(ImageFileTest, LoadOfAFileHeldElsewhereFailsWithItsLine) {
    std::string path = WriteImage("held.rom", 100);
    int other = open(path.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_SH | LOCK_NB), 0);

    EXPECT_EQ(Locate(), "held.rom") << "the search opens it shared";
    std::vector<uint8_t> buffer(kImageBufferBytes, 0);
    CUtility utility;
    EXPECT_EQ(utility.bOpenFWBinFile(path, buffer.data()), kResultEntityNotFound);
    close(other);

    auto events = m_events.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kEventTypeError);
    EXPECT_EQ(events[0].text,
              "\r\nCUtility::bOpenFWBinFile:2769:  theFile.Open Failed, strFWFilePath[" + path +
                  "], dwError=b");
    EXPECT_EQ(std::vector<uint8_t>(buffer.size(), 0), buffer);
}

TEST_F(ImageFileTest, LoadFailuresWriteTheirLines) {
    std::vector<uint8_t> buffer(kImageBufferBytes, 0);
    CUtility utility;
    std::string missing = m_dir / "missing.rom";
    EXPECT_EQ(utility.bOpenFWBinFile(missing, buffer.data()), kResultEntityNotFound);
    ASSERT_EQ(mkdir((m_dir / "x.rom").c_str(), 0755), 0);
    EXPECT_EQ(utility.bOpenFWBinFile(m_dir / "x.rom", buffer.data()), kResultEntityNotFound);

    std::string image = WriteImage("a.rom", 10);
    {
        pci::Services noMemory = testsupport::CurrentServices();
        noMemory.platform.allocateWorkingMemory = [](std::size_t) -> uint8_t* { return nullptr; };
        testsupport::ScopedTestServices services(std::move(noMemory));
        EXPECT_EQ(utility.bOpenFWBinFile(image, buffer.data()), kResultInsufficientMemory);
    }
    EXPECT_EQ(utility.bOpenFWBinFile(image, buffer.data()), kResultSuccess)
        << "the failed load left the file closed";

    EXPECT_EQ(m_events.Lines(),
              (std::vector<std::string>{
                  "\r\nCUtility::bOpenFWBinFile:2769:  theFile.Open Failed, strFWFilePath[" +
                      missing + "], dwError=2",
                  "\r\nCUtility::bOpenFWBinFile:2769:  theFile.Open Failed, strFWFilePath[" +
                      (m_dir / "x.rom") + "], dwError=15",
                  "\r\nCUtility::bOpenFWBinFile:2754:   Memory located Failed, size=65536, "
                  "dwError=c..",
              }));
}

TEST_F(ImageFileTest, PathCheckNeedsAWritableFile) {
    std::string writable = m_dir.Write("w.rom", "x");
    std::string readOnly = m_dir.Write("r.rom", "x");
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    std::string missing = m_dir / "missing.rom";

    const std::pair<std::string, bool> cases[] = {
        {writable, true}, {readOnly, false}, {missing, false}};
    for (const auto& [path, ok] : cases) {
        for (bool show : {false, true}) {
            m_boxes.clear();
            EXPECT_EQ(bCheckFilePath(show, path), ok) << path;
            if (ok || !show) {
                EXPECT_TRUE(m_boxes.empty()) << path;
                continue;
            }
            ASSERT_EQ(m_boxes.size(), 1u) << path;
            EXPECT_EQ(m_boxes[0].text, path + " File/Path is not exist");
            EXPECT_EQ(m_boxes[0].caption, framework::ApplicationName());
            EXPECT_EQ(m_boxes[0].type, framework::kMbOk | framework::kMbIconExclamation);
        }
    }
}

TEST(Utility, ProgramFolderAndTable) {
    EXPECT_STREQ(g_Utility.m_szModulePath, framework::ModulePath().c_str());
    EXPECT_EQ(g_Utility.m_ucControllerCount, 0);
    EXPECT_EQ(g_Utility.m_pFWBinBuffer, nullptr);
    EXPECT_EQ(g_Utility.m_dwFWBinSize, 0u);

    CUtility utility;
    const std::string longest(kModulePathBytes - 1, 'p');
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/tool/vlm270fwupdate", "/opt/tool"},
        {"/vlm270fwupdate", ""},
        {"vlm270fwupdate", ""},
        {"/" + longest.substr(1), ""},
        {longest.substr(0, 100) + "/x", longest.substr(0, 100)},
    };
    for (const auto& [path, folder] : cases) {
        utility.SetModulePath(path);
        EXPECT_FALSE(utility.m_bModulePathTooLong) << path;
        EXPECT_EQ(std::string(utility.m_szModulePath), path);
        EXPECT_EQ(std::string(utility.m_szModuleDir), folder) << path;
    }
    utility.SetModulePath("/" + longest);
    EXPECT_TRUE(utility.m_bModulePathTooLong);
    EXPECT_STREQ(utility.m_szModulePath, "");
    EXPECT_STREQ(utility.m_szModuleDir, "");

    utility.m_ucControllerCount = 3;
    utility.m_Controllers[2].ucBus = 7;
    std::strcpy(utility.m_Controllers[2].szVendor, "maker");
    utility.ClearControllers();
    EXPECT_EQ(utility.m_ucControllerCount, 0);
    EXPECT_EQ(utility.m_Controllers[2].ucBus, 0);
    EXPECT_STREQ(utility.m_Controllers[2].szVendor, "");
}

}  // namespace
