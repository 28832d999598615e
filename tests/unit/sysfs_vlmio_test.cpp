// The Linux hardware access library, loaded as the program loads it: against a stand-in sysfs
// tree (files, offsets, widths, values, refused writes, kept descriptors, functions that go
// away, threads) and, read-only, against the real one.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pci/access_library.h"
#include "tests/support/temp_folder.h"

#ifdef VLM_SYSFS_VLMIO

namespace {

using testsupport::TempFolder;

constexpr const char* kRootVariable = "VLMIO_SYSFS_ROOT";

// Sets or clears an environment variable for the test's life.
class EnvironmentGuard {
public:
    EnvironmentGuard(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvironmentGuard() {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    const char* m_name;
    bool m_had = false;
    std::string m_old;
};

std::unique_ptr<pci::LoadedVlmIo> LoadSysfsLibrary(const TempFolder& dir) {
    std::filesystem::copy_file(VLM_SYSFS_VLMIO, dir / "libvlmio.so");
    chmod((dir / "libvlmio.so").c_str(), 0755);
    std::unique_ptr<pci::LoadedVlmIo> io;
    std::string error;
    EXPECT_TRUE(pci::LoadAccessLibrary(dir.path(), io, error)) << error;
    return io;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A stand-in tree with a storage controller at 03:00.0, a network controller at 04:00.0 and
// a function whose config file cannot be read at 05:00.0.
class SysfsStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tree.ok() && m_lib.ok());
        m_storage = AddFunction("0000:03:00.0", 0x01);
        m_network = AddFunction("0000:04:00.0", 0x02);
        std::filesystem::create_directories(m_tree / "bus/pci/devices/0000:05:00.0/config");
        m_env = std::make_unique<EnvironmentGuard>(kRootVariable, m_tree.path().c_str());
        m_io = LoadSysfsLibrary(m_lib);
        ASSERT_NE(m_io, nullptr);
        ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    }
    void TearDown() override {
        if (m_io) m_io->UnloadVlmIODriver();
    }

    // A 256-byte config file: bytes counting up, the class code at 0x0B.
    std::string AddFunction(const std::string& name, uint8_t classCode) {
        std::string folder = m_tree / ("bus/pci/devices/" + name);
        std::filesystem::create_directories(folder);
        std::string config(256, '\0');
        for (int i = 0; i < 256; ++i) config[i] = static_cast<char>(i);
        config[0x0B] = static_cast<char>(classCode);
        std::ofstream(folder + "/config", std::ios::binary) << config;
        return folder + "/config";
    }

    TempFolder m_tree;
    TempFolder m_lib;
    std::string m_storage;
    std::string m_network;
    std::unique_ptr<EnvironmentGuard> m_env;
    std::unique_ptr<pci::LoadedVlmIo> m_io;
};

TEST_F(SysfsStandInTest, ReadsTheRightFileOffsetAndWidth) {
    struct Case {
        uint32_t bus, device, function, offset;
        bool dword;
        uint32_t expected;
    };
    const Case cases[] = {
        {3, 0, 0, 0x00, true, 0x03020100},  // little-endian, as PCI stores it
        {3, 0, 0, 0xF0, true, 0xF3F2F1F0},
        {3, 0, 0, 0xF4, false, 0xF4},
        {3, 0, 0, 0x0B, false, 0x01},
        {4, 0, 0, 0x08, true, 0x020A0908},   // class code in the top byte
        {3, 0, 0, 0xF1, true, 0xFFFFFFFF},   // misaligned
        {3, 0, 0, 0x100, true, 0xFFFFFFFF},  // past the file's end
        {3, 0, 0, 0x100, false, 0xFF},
        {3, 0, 0, 0x1000, false, 0xFF},     // past any configuration space
        {3, 0, 1, 0x00, true, 0xFFFFFFFF},  // absent function
        {5, 0, 0, 0x00, true, 0xFFFFFFFF},  // unreadable config
        {5, 0, 0, 0xF4, false, 0xFF},
        {0x103, 0, 0, 0x00, true, 0xFFFFFFFF},  // numbers out of range never alias
        {3, 0x20, 0, 0x00, true, 0xFFFFFFFF},
        {3, 0, 8, 0x00, true, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        uint32_t got = c.dword ? m_io->PCI_Read_DWORD(c.bus, c.device, c.function, c.offset)
                               : m_io->PCI_Read_BYTE(c.bus, c.device, c.function, c.offset);
        EXPECT_EQ(got, c.expected)
            << std::hex << c.bus << ":" << c.device << "." << c.function << " @" << c.offset;
    }
}

TEST_F(SysfsStandInTest, WritesReachOnlyStorageFunctions) {
    std::vector<uint8_t> before = ReadFile(m_storage);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x11223344);
    m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x1AB);        // only the low byte is a value
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF6, 0x55555555);  // misaligned: not written
    std::vector<uint8_t> expected = before;
    expected[0xF0] = 0x44;
    expected[0xF1] = 0x33;
    expected[0xF2] = 0x22;
    expected[0xF3] = 0x11;
    expected[0xF4] = 0xAB;
    EXPECT_EQ(ReadFile(m_storage), expected);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0x11223344u);

    std::vector<uint8_t> network = ReadFile(m_network);
    m_io->PCI_Write_DWORD(4, 0, 0, 0xF0, 0x11223344);
    m_io->PCI_Write_Byte(4, 0, 0, 0xF4, 0x10);
    EXPECT_EQ(ReadFile(m_network), network) << "a function that is not storage is never written";
    m_io->PCI_Write_Byte(3, 0, 1, 0xF4, 0x10);
    EXPECT_FALSE(std::filesystem::exists(m_tree / "bus/pci/devices/0000:03:00.1"));
}

TEST_F(SysfsStandInTest, NothingIsReachedWhileUnloaded) {
    m_io->UnloadVlmIODriver();
    m_io->UnloadVlmIODriver();  // harmless twice
    std::vector<uint8_t> before = ReadFile(m_storage);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0), 0xFFFFFFFFu);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0);
    EXPECT_EQ(ReadFile(m_storage), before);

    // A tree without bus/pci cannot be loaded.
    TempFolder empty;
    ASSERT_TRUE(empty.ok());
    EnvironmentGuard env(kRootVariable, empty.path().c_str());
    EXPECT_EQ(m_io->LoadVlmIODriver(), 0u);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0), 0xFFFFFFFFu);
}

// The descriptors the process holds on files under a folder.
int DescriptorsUnder(const std::string& folder) {
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind(folder + "/", 0) == 0) ++count;
    }
    return count;
}

TEST_F(SysfsStandInTest, KeepsOneDescriptorPerFunctionUntilUnloaded) {
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0xF3F2F1F0u);
        m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x10);
        EXPECT_EQ(m_io->PCI_Read_BYTE(4, 0, 0, 0x0B), 0x02u);
        EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 1, 0x00), 0xFFFFFFFFu);  // absent: nothing kept
    }
    EXPECT_EQ(DescriptorsUnder(m_tree.path()), 2);
    m_io->UnloadVlmIODriver();
    EXPECT_EQ(DescriptorsUnder(m_tree.path()), 0);
    ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    EXPECT_EQ(m_io->PCI_Read_BYTE(3, 0, 0, 0xF4), 0x10u);
    EXPECT_EQ(DescriptorsUnder(m_tree.path()), 1);

    // A machine with more functions than descriptors are kept for: every one still answers,
    // and the descriptors held stay bounded.
    constexpr uint32_t kFunctions = 300;  // numbered from 10:00.0 on
    for (uint32_t n = 0; n < kFunctions; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", 0x10 + n / 256, (n / 8) % 32, n % 8);
        AddFunction(name, 0x01);
    }
    // Functions are learnt at the load: those added since read all ones until the next one.
    EXPECT_EQ(m_io->PCI_Read_DWORD(0x10, 0, 0, 0x0C), 0xFFFFFFFFu);
    m_io->UnloadVlmIODriver();
    ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    for (uint32_t n = 0; n < kFunctions; ++n)
        ASSERT_EQ(m_io->PCI_Read_DWORD(0x10 + n / 256, (n / 8) % 32, n % 8, 0x0C), 0x0F0E0D0Cu)
            << n;
    m_io->PCI_Write_DWORD(0x11, 0x05, 3, 0xF0, 0xA5A5A5A5);  // the last one
    EXPECT_EQ(m_io->PCI_Read_DWORD(0x11, 0x05, 3, 0xF0), 0xA5A5A5A5u);
    EXPECT_LE(DescriptorsUnder(m_tree.path()), 256);
    m_io->UnloadVlmIODriver();
    EXPECT_EQ(DescriptorsUnder(m_tree.path()), 0);
}

// The class code is read once for each descriptor, at its first write: later writes cost one
// access each. A descriptor opened after a reload reads it afresh.
TEST_F(SysfsStandInTest, ReadsTheClassCodeOncePerDescriptor) {
    m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x21);
    {
        std::fstream config(m_storage, std::ios::in | std::ios::out | std::ios::binary);
        config.seekp(0x0B);
        config.put(0x02);
    }
    m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x22);
    EXPECT_EQ(ReadFile(m_storage)[0xF4], 0x22) << "the kept descriptor's check stands";
    m_io->UnloadVlmIODriver();
    ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x23);
    EXPECT_EQ(ReadFile(m_storage)[0xF4], 0x22) << "a new descriptor checks again";
}

// A function removed while its descriptor is kept. sysfs refuses every access through the
// descriptor of a removed function; a stand-in file emptied before its removal gives nothing
// through its descriptor either. Reads then give all ones, never old bytes; a function that
// appears in its place is found, and checked before anything is written to it.
TEST_F(SysfsStandInTest, AFunctionThatGoesAwayReadsAllOnesAndIsCheckedAfreshWhenReplaced) {
    const std::string folder = m_tree / "bus/pci/devices/0000:03:00.0";
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x11223344);
    ASSERT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0x11223344u);
    std::filesystem::resize_file(m_storage, 0);
    std::filesystem::remove_all(folder);

    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0xFFFFFFFFu);
    EXPECT_EQ(m_io->PCI_Read_BYTE(3, 0, 0, 0xF4), 0xFFu);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x55667788);
    EXPECT_FALSE(std::filesystem::exists(folder));

    // A network controller now answers at that address: read, never written.
    const std::string network = AddFunction("0000:03:00.0", 0x02);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0xF3F2F1F0u);
    std::vector<uint8_t> before = ReadFile(network);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x55667788);
    m_io->PCI_Write_Byte(3, 0, 0, 0xF4, 0x10);
    EXPECT_EQ(ReadFile(network), before);

    // And a storage controller after it: written again.
    std::filesystem::resize_file(network, 0);
    std::filesystem::remove_all(folder);
    const std::string storage = AddFunction("0000:03:00.0", 0x01);
    EXPECT_EQ(m_io->PCI_Read_BYTE(3, 0, 0, 0x0B), 0x01u);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x55667788);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0x55667788u);
    EXPECT_EQ(ReadFile(storage)[0xF0], 0x88);
}

// The first refused access of each function is kept, with its errno, until the next load: a
// config file that cannot be read, a function removed under the library. A function that
// answers, or one that is not there at all (never tried), has none.
TEST_F(SysfsStandInTest, KeepsTheErrnoOfEachFunctionsFirstRefusedAccess) {
    EXPECT_EQ(m_io->PCI_Read_DWORD(5, 0, 0, 0x00), 0xFFFFFFFFu);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x11223344);
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 1, 0x00), 0xFFFFFFFFu);
    std::filesystem::resize_file(m_storage, 0);
    std::filesystem::remove_all(m_tree / "bus/pci/devices/0000:03:00.0");
    EXPECT_EQ(m_io->PCI_Read_DWORD(3, 0, 0, 0xF0), 0xFFFFFFFFu);
    m_io->PCI_Write_DWORD(3, 0, 0, 0xF0, 0x55667788);  // ENOENT: does not replace the first
    struct Case {
        uint32_t bus, device, function;
        int error;
    };
    const Case cases[] = {
        {5, 0, 0, EISDIR},  // the stand-in's unreadable config is a folder
        {3, 0, 0, EIO},     // the emptied file gives a short read through the kept descriptor
        {4, 0, 0, 0},      {3, 0, 1, 0}, {0x100, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_io->AccessError(c.bus, c.device, c.function), c.error)
            << std::hex << c.bus << ":" << c.device << "." << c.function;
    }
    m_io->UnloadVlmIODriver();
    ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    EXPECT_EQ(m_io->AccessError(5, 0, 0), 0) << "a load starts afresh";
}

// Whether the kernel refuses every configuration write, from its lockdown file: the mode in
// brackets is the one in force. Answered before any load too.
TEST_F(SysfsStandInTest, TellsWhetherTheKernelsLockdownRefusesWrites) {
    m_io->UnloadVlmIODriver();
    EXPECT_EQ(m_io->WritesRefused(), 0) << "no lockdown file: nothing known to refuse";
    std::filesystem::create_directories(m_tree / "kernel/security");
    struct Case {
        const char* text;
        int refused;
    };
    const Case cases[] = {
        {"[none] integrity confidentiality\n", 0},
        {"none [integrity] confidentiality\n", EPERM},
        {"none integrity [confidentiality]\n", EPERM},
        {"", 0},
    };
    for (const Case& c : cases) {
        std::ofstream(m_tree / "kernel/security/lockdown") << c.text;
        EXPECT_EQ(m_io->WritesRefused(), c.refused) << c.text;
    }
}

// The library's own entries from several threads at once, as the jobs of two controllers and
// the controller walk call them (no lock of the program's in between): each thread reads back
// what it wrote to its own function.
TEST_F(SysfsStandInTest, ThreadsOnDifferentFunctionsDoNotDisturbEachOther) {
    const std::string second = AddFunction("0000:06:00.0", 0x01);
    m_io->UnloadVlmIODriver();  // learns of the new function at the next load
    ASSERT_NE(m_io->LoadVlmIODriver(), 0u);
    void* handle = dlopen((m_lib / "libvlmio.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    auto readDword = reinterpret_cast<uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t)>(
        dlsym(handle, "PCI_Read_DWORD"));
    auto writeDword = reinterpret_cast<void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)>(
        dlsym(handle, "PCI_Write_DWORD"));
    ASSERT_TRUE(readDword != nullptr && writeDword != nullptr);
    std::atomic<int> wrong{0};
    auto job = [&](uint32_t bus) {
        for (uint32_t i = 0; i < 2000; ++i) {
            const uint32_t value = (bus << 24) | i;
            writeDword(bus, 0, 0, 0xF0, value);
            if (readDword(bus, 0, 0, 0xF0) != value) ++wrong;
        }
    };
    std::thread first(job, 3u), other(job, 6u);
    std::thread walk([&] {
        for (uint32_t n = 0; n < 2000; ++n)
            if (readDword(n % 16, (n / 16) % 32, 0, 0) == 0) ++wrong;
    });
    first.join();
    other.join();
    walk.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(ReadFile(second)[0xF3], 0x06);
    dlclose(handle);
}

// The machine's own PCI functions, read only: identifiers and class codes as sysfs shows them.
TEST(SysfsReal, ReadsMatchTheSystemsOwnFiles) {
    const std::string devices = "/sys/bus/pci/devices";
    if (!std::filesystem::is_directory(devices)) GTEST_SKIP() << "no /sys/bus/pci here";
    EnvironmentGuard env(kRootVariable, nullptr);
    TempFolder lib;
    ASSERT_TRUE(lib.ok());
    auto io = LoadSysfsLibrary(lib);
    ASSERT_NE(io, nullptr);
    if (geteuid() != 0) {
        EXPECT_EQ(io->LoadVlmIODriver(), 0u) << "the administrator only";
        return;
    }
    ASSERT_NE(io->LoadVlmIODriver(), 0u);
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(devices)) {
        unsigned bus = 0, device = 0, function = 0;
        std::string name = entry.path().filename().string();
        if (std::sscanf(name.c_str(), "0000:%x:%x.%x", &bus, &device, &function) != 3) continue;
        auto hexFile = [&](const char* file) {
            std::ifstream in(entry.path() / file);
            unsigned long value = 0;
            in >> std::hex >> value;
            return static_cast<uint32_t>(value);
        };
        uint32_t id = hexFile("vendor") | (hexFile("device") << 16);
        EXPECT_EQ(io->PCI_Read_DWORD(bus, device, function, 0), id) << name;
        EXPECT_EQ(io->PCI_Read_BYTE(bus, device, function, 0x0B), hexFile("class") >> 16) << name;
        ++compared;
    }
    EXPECT_GT(compared, 0);
    io->UnloadVlmIODriver();
}

}  // namespace

#endif  // VLM_SYSFS_VLMIO
