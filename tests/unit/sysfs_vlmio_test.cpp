// The Linux hardware access library, loaded as the program loads it: against a stand-in sysfs
// tree (files, offsets, widths, values, refused writes) and, read-only, against the real one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
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
