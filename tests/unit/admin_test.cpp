// The administrator's operations on the emulated PC: SHA-256, what an update writes and its
// verification, backups, the probe's separate scan, and the choice of controllers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "admin/commands.h"
#include "admin/flash_contents.h"
#include "admin/probe.h"
#include "admin/sha256.h"
#include "console/run_options.h"
#include "flash/flash_part_table.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_clocks.h"
#include "tests/support/test_services.h"
#include "tools/option_rom_builder.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

using namespace std::chrono;

constexpr uint32_t k64K = 0x10000;
constexpr uint32_t k128K = 0x20000;

std::string Sha(const std::string& message) {
    return admin::Sha256Hex(reinterpret_cast<const uint8_t*>(message.data()), message.size());
}

// The image's digest as sha256sum prints it: examples of the secure hash standard.
TEST(AdminSha256, StandardExamples) {
    const std::pair<std::string, const char*> cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : cases) EXPECT_EQ(Sha(message), digest);
}

// The bytes an update writes from address 0: whole sections, the last reaching into the zero
// tail of the image buffer.
TEST(AdminFlash, WrittenExtentFollowsTheEnginesSections) {
    struct Case {
        uint8_t units;
        uint32_t length;
        uint32_t extent;
    } cases[] = {
        {1, k64K, k64K}, {1, 0x18000, k128K}, {1, k128K, k128K},    {1, k64K + 1, k128K},
        {8, k64K, k64K}, {8, k128K, k128K},   {16, 100000, 100000},
    };
    for (const Case& c : cases) {
        flash::FlashPartInfo part = flash::g_FlashParts[0];
        part.ucSectionUnits = c.units;
        EXPECT_EQ(flash::WrittenExtent(part, c.length), c.extent)
            << int(c.units) << " " << c.length;
    }
}

std::vector<uint8_t> ImageBuffer(uint32_t length, uint8_t seed) {
    std::vector<uint8_t> buffer(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(i * 13 + seed);
    return buffer;
}

// An emulated controller with its flash identified as the update identifies it.
struct Controller : testsupport::EngineRig {
    explicit Controller(const std::string& options)
        : EngineRig("controller 01:00.0 " + options + " timing=instant\n") {
        if (!Ok() || engine->ScanControllers() != kResultSuccess) {
            ADD_FAILURE() << machine.Error();
            return;
        }
        part = spi->QueryFlashPart(records[0]);
    }
    flash::FlashPartInfo part{};
};

TEST(AdminFlash, VerifyComparesWhatTheUpdateLeaves) {
    const std::vector<uint8_t> image = ImageBuffer(k64K, 3);
    {
        Controller c("part=MX25L100(2)5C/1006E");
        ASSERT_EQ(c.engine->Update_Firmware(0, c.records[0], c.part, image.data(), k64K),
                  kResultSuccess);
        admin::VerifyResult v =
            admin::VerifyFlash(*c.spi, c.records[0], c.part, image.data(), k64K);
        EXPECT_EQ(v.nResult, kResultSuccess);
        EXPECT_EQ(v.dwCompared, k64K);
        // Against an image of 96 KiB the zeros after it belong to the second section too.
        std::vector<uint8_t> longer = image;
        v = admin::VerifyFlash(*c.spi, c.records[0], c.part, longer.data(), 0x18000);
        EXPECT_EQ(v.nResult, kResultDataNotMatch);
        EXPECT_EQ(v.dwFirstDifference, k64K) << "erased, not zero";
        EXPECT_EQ(v.dwCompared, k128K);
        longer[0x1234] ^= 0x01;
        v = admin::VerifyFlash(*c.spi, c.records[0], c.part, longer.data(), k64K);
        EXPECT_EQ(v.nResult, kResultDataNotMatch);
        EXPECT_EQ(v.dwFirstDifference, 0x1234u);
    }
    {
        Controller c("part=MX25L100(2)5C/1006E fault=stuck-busy fault=slow:1");
        admin::VerifyResult v =
            admin::VerifyFlash(*c.spi, c.records[0], flash::g_FlashParts[1], image.data(), k64K);
        EXPECT_EQ(v.nResult, kResultTransferError) << "nothing read counts as a match";
    }
    {
        Controller c("part=none");
        EXPECT_EQ(admin::VerifyFlash(*c.spi, c.records[0], c.part, image.data(), k64K).nResult,
                  kResultInvalidParameter);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t FilesIn(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST(AdminBackup, HoldsTheWholeFlashUnderANameOfItsOwn) {
    testsupport::TempFolder folder;
    Controller c("part=MX25L(V)512(C)");
    ASSERT_TRUE(flash::IsIdentified(c.part));
    const auto when = sys_days{year{2026} / 1 / 5} + hours{10} + minutes{15} + seconds{7};
    EXPECT_EQ(admin::BackupFileName(c.records[0], c.part, when),
              "01-00-0-MX25L_V_512_C_-20260105T101507Z.bin");

    const admin::BackupResult first =
        admin::BackupFlash(*c.spi, c.records[0], c.part, folder.path(), when);
    ASSERT_EQ(first.nResult, kResultSuccess) << first.strProblem;
    EXPECT_EQ(first.strPath, folder / "01-00-0-MX25L_V_512_C_-20260105T101507Z.bin");
    const std::vector<uint8_t> flash = c.machine.Flash(1, 0, 0);
    ASSERT_EQ(flash.size(), k64K);
    EXPECT_EQ(ReadFile(first.strPath), std::string(flash.begin(), flash.end()));
    struct stat st {};
    ASSERT_EQ(stat(first.strPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Made again in the same second: a name of its own, the first one untouched.
    const admin::BackupResult second =
        admin::BackupFlash(*c.spi, c.records[0], c.part, folder.path(), when);
    ASSERT_EQ(second.nResult, kResultSuccess);
    EXPECT_EQ(second.strPath, folder / "01-00-0-MX25L_V_512_C_-20260105T101507Z-2.bin");
    EXPECT_EQ(FilesIn(folder.path()), 2u);
}

TEST(AdminBackup, ABackupThatIsNotWholeLeavesNoFile) {
    testsupport::TempFolder folder;
    const auto now = system_clock::now();
    struct Case {
        const char* options;
        int32_t result;
        const char* problem;
    } cases[] = {
        {"part=MX25L(V)512(C) fault=flaky-read:5000", kResultDataNotMatch,
         "two reads of its flash"},
        {"part=MX25L(V)512(C) fault=stuck-busy fault=slow:1", kResultTransferError,
         "could not be read"},
        {"part=none", kResultInvalidParameter, "not identified"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.options);
        Controller c(k.options);
        // A bridge that never answers is not identified: its part is taken as known here, so
        // that the reads themselves fail.
        const flash::FlashPartInfo part = flash::IsIdentified(c.part) ? c.part
                                          : k.result == kResultTransferError
                                              ? flash::g_FlashParts[0]
                                              : flash::UnidentifiedFlashPart();
        const admin::BackupResult r =
            admin::BackupFlash(*c.spi, c.records[0], part, folder.path(), now);
        EXPECT_EQ(r.nResult, k.result);
        EXPECT_NE(r.strProblem.find(k.problem), std::string::npos) << r.strProblem;
        EXPECT_EQ(r.strPath, "");
    }
    Controller c("part=MX25L(V)512(C)");
    const admin::BackupResult r =
        admin::BackupFlash(*c.spi, c.records[0], c.part, folder / "missing", now);
    EXPECT_EQ(r.nResult, kResultEntityNotFound);
    EXPECT_NE(r.strProblem.find("was not found"), std::string::npos) << r.strProblem;
    EXPECT_EQ(FilesIn(folder.path()), 0u);
}

// The separate scan reads one identifier word per function on every bus, and finds 270X
// functions wherever they are, in the walk's order.
TEST(AdminProbe, SeparateScanCoversEveryBus) {
    testsupport::VirtualClock clock;
    testsupport::EmulatedMachine machine(
        "controller 30:1f.7 part=none\ncontroller 02:00.0 part=none member=3\n"
        "controller 05:00.0 part=none\ndevice 00:1f.2 8086:2922\n",
        clock);
    ASSERT_TRUE(machine.Ok()) << machine.Error();
    machine.io->LoadVlmIODriver();
    const uint64_t before = machine.Accesses();
    const std::vector<admin::FoundFunction> found = admin::ScanAllBuses(*machine.io);
    EXPECT_EQ(machine.Accesses() - before, 256u * 32 * 8);
    const std::vector<admin::FoundFunction> expected = {
        {{0x05, 0, 0}, 0}, {{0x30, 0x1f, 7}, 0}, {{0x02, 0, 0}, 2}};
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(admin::WalkCovers({0x0f, 0, 0}));
    EXPECT_FALSE(admin::WalkCovers({0x10, 0, 0}));
}

TEST(AdminRunOptions, SelectedControllersKeepTheirOrderAndMustAllBeFound) {
    ControllerInfo table[kMaxControllers] = {};
    const ControllerAddress found[] = {{2, 0, 0}, {3, 0, 0}, {3, 0, 1}};
    auto reset = [&](uint8_t& count) {
        count = 3;
        for (int i = 0; i < 4; ++i) table[i] = ControllerInfo{};
        for (int i = 0; i < 3; ++i) {
            table[i].ucBus = found[i].ucBus;
            table[i].ucFunction = found[i].ucFunction;
            table[i].ucIdRow = static_cast<uint8_t>(i);
        }
    };
    uint8_t count = 0;
    reset(count);
    ASSERT_TRUE(SelectControllers({}, count, table, nullptr));
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(SelectControllers({{3, 0, 1}, {2, 0, 0}}, count, table, nullptr));
    ASSERT_EQ(count, 2);
    EXPECT_TRUE(IsAt(table[0], {2, 0, 0})) << "discovery order, not the options' order";
    EXPECT_TRUE(IsAt(table[1], {3, 0, 1}));
    EXPECT_EQ(table[1].ucIdRow, 2) << "records move whole";
    EXPECT_EQ(table[2].ucBus, 0) << "the rest cleared";

    reset(count);
    ControllerAddress missing;
    EXPECT_FALSE(SelectControllers({{2, 0, 0}, {4, 0, 0}}, count, table, &missing));
    EXPECT_EQ(missing, (ControllerAddress{4, 0, 0}));
    EXPECT_EQ(count, 3) << "the table is left as it was";
    EXPECT_EQ(ControllerAddressText(missing), "0000:04:00.0");
}

// An access library whose kernel refuses every configuration write, as under lockdown: its
// writes go nowhere and it says so.
class LockedDownVlmIo final : public pci::IVlmIo {
public:
    explicit LockedDownVlmIo(pci::IVlmIo& inner) : m_inner(inner) {}
    uint32_t LoadVlmIODriver() override { return m_inner.LoadVlmIODriver(); }
    void UnloadVlmIODriver() override { m_inner.UnloadVlmIODriver(); }
    uint32_t PCI_Read_BYTE(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        return m_inner.PCI_Read_BYTE(b, d, f, o);
    }
    uint32_t PCI_Read_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        return m_inner.PCI_Read_DWORD(b, d, f, o);
    }
    void PCI_Write_Byte(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {}
    void PCI_Write_DWORD(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {}
    int WritesRefused() override { return EPERM; }

private:
    pci::IVlmIo& m_inner;
};

// --list predicts the update's exit status, and --verify says what it could check: on a kernel
// that refuses every configuration write the update is refused before it touches anything
// (7), and no flash can be identified or read, since every flash command is a write to the
// controller's bridge; no flash is then said to differ, and no backup is made of it.
TEST(AdminReport, AKernelThatRefusesWritesIsPredictedAndBlamesNoFlash) {
    struct Case {
        const char* name;
        bool refused;
        bool list;
        int status;
        const char* result;
        const char* warning;  // the start of the last warning, or "" for none
    };
    const Case cases[] = {
        {"list", false, true, 0, "ready", ""},
        {"list, refused", true, true, 7, "unreadable",
         "an update would be refused with exit status 7: this computer's kernel refuses every "
         "write to PCI configuration space (Operation not permitted (EPERM))"},
        {"verify", false, false, 5, "differs", ""},
        {"verify, refused", true, false, 7, "unreadable",
         "no flash can be read, so none was checked: this computer's kernel refuses"},
    };
    testsupport::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string image = folder / "image.rom";
    const std::vector<uint8_t> rom = romtools::BuildOptionRom({romtools::FamilyImage()});
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(rom.data()), static_cast<std::streamsize>(rom.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::VirtualClock clock;
        testsupport::EmulatedMachine machine(
            "controller 02:00.0 part=0 timing=instant\n"
            "controller 03:00.0 part=W25X10B(C)L(V) member=2 timing=instant\n",
            clock);
        ASSERT_TRUE(machine.Ok()) << machine.Error();
        LockedDownVlmIo lockedDown(*machine.io);
        pci::Services services = testsupport::CurrentServices();
        services.platform.clock = &clock;
        services.vlmIo = c.refused ? static_cast<pci::IVlmIo*>(&lockedDown) : machine.io.get();
        testsupport::ScopedTestServices installed(services);
        admin::AdminRequest request;
        request.strImagePath = image;
        if (c.refused) request.strBackupFolder = folder.path();
        const admin::Report report =
            c.list ? admin::ListControllers(request) : admin::VerifyControllers(request);
        EXPECT_EQ(report.nExitStatus, c.status);
        ASSERT_EQ(report.controllers.size(), 2u);
        for (const admin::ControllerReport& controller : report.controllers) {
            EXPECT_EQ(controller.strResult, c.result) << controller.strAddress;
            EXPECT_EQ(controller.bIdentified, !c.refused);
            EXPECT_TRUE(controller.strBackup.empty());
        }
        if (*c.warning == '\0') {
            EXPECT_TRUE(report.warnings.empty());
        } else {
            ASSERT_FALSE(report.warnings.empty());
            EXPECT_EQ(report.warnings.back().rfind(c.warning, 0), 0u) << report.warnings.back();
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
        << "no backup of what a refused kernel gives";
}

}  // namespace
