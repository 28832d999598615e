/* The access library for real hardware on Linux: PCI configuration space through sysfs,
 * /sys/bus/pci/devices/0000:BB:DD.F/config, for the administrator only.
 *
 * Reads of an absent or unreadable function, of an offset past its configuration space and of
 * a misaligned double word give all ones. Writes go only to mass-storage functions (class code
 * 0x01), so that nothing else in the machine can be changed by mistake. The tree's root is
 * /sys, or the folder that VLMIO_SYSFS_ROOT names (a test's stand-in tree; the administrator
 * check is then left out). */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pci/vlmio.h"

namespace {

constexpr const char* kDefaultRoot = "/sys";
constexpr const char* kRootVariable = "VLMIO_SYSFS_ROOT";
constexpr const char* kPciBusFolder = "/bus/pci";
constexpr const char* kPciDomain = "0000";
constexpr uint32_t kMaxBus = 0xFF;
constexpr uint32_t kMaxDevice = 0x1F;
constexpr uint32_t kMaxFunction = 0x07;
constexpr uint32_t kConfigSpaceBytes = 4096;  // extended configuration space
constexpr uint32_t kDwordBytes = 4;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kAllOnesByte = 0xFF;
constexpr uint32_t kAllOnesDword = 0xFFFFFFFFu;
constexpr uint32_t kClassCodeOffset = 0x0B;
constexpr uint8_t kMassStorageClass = 0x01;

std::mutex g_mutex;                 // one configuration access at a time
std::atomic<bool> g_loaded{false};  // set by a successful load, cleared by unload
std::string g_root;                 // the tree's root while loaded (under g_mutex)

// The config file of a function; empty when the numbers are out of range.
std::string ConfigPath(uint32_t bus, uint32_t device, uint32_t function) {
    if (bus > kMaxBus || device > kMaxDevice || function > kMaxFunction) return {};
    char name[64];
    std::snprintf(name, sizeof name, "/bus/pci/devices/%s:%02x:%02x.%x/config", kPciDomain,
                  static_cast<unsigned>(bus), static_cast<unsigned>(device),
                  static_cast<unsigned>(function));
    return g_root + name;
}

// Whether an access of that width at that offset lies inside, and aligned.
bool AccessFits(uint32_t offset, uint32_t width) {
    return offset < kConfigSpaceBytes && width <= kConfigSpaceBytes - offset && offset % width == 0;
}

int OpenConfig(const std::string& path, int flags) {
    if (path.empty()) return -1;
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads exactly width bytes at offset; false on any shortfall.
bool ReadExact(int fd, uint32_t offset, void* buffer, uint32_t width) {
    ssize_t n;
    do {
        n = pread(fd, buffer, width, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(width);
}

bool WriteExact(int fd, uint32_t offset, const void* buffer, uint32_t width) {
    ssize_t n;
    do {
        n = pwrite(fd, buffer, width, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(width);
}

// Reads width bytes (1 or 4) of a function's configuration space, little-endian as PCI
// stores it; false when it cannot be read whole.
bool ReadConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, uint32_t width,
                uint32_t& value) {
    if (!g_loaded.load(std::memory_order_acquire) || !AccessFits(offset, width)) return false;
    int fd = OpenConfig(ConfigPath(bus, device, function), O_RDONLY);
    if (fd < 0) return false;
    unsigned char bytes[kDwordBytes] = {};
    bool ok = ReadExact(fd, offset, bytes, width);
    close(fd);
    if (!ok) return false;
    value = 0;
    for (uint32_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
    return true;
}

// Writes width bytes (1 or 4) to a mass-storage function's configuration space; anything
// else is left untouched.
void WriteConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, uint32_t width,
                 uint32_t value) {
    if (!g_loaded.load(std::memory_order_acquire) || !AccessFits(offset, width)) return;
    int fd = OpenConfig(ConfigPath(bus, device, function), O_RDWR);
    if (fd < 0) return;
    unsigned char classCode = 0;
    if (ReadExact(fd, kClassCodeOffset, &classCode, 1) && classCode == kMassStorageClass) {
        unsigned char bytes[kDwordBytes];
        for (uint32_t i = 0; i < width; ++i)
            bytes[i] = static_cast<unsigned char>(value >> (8 * i));
        WriteExact(fd, offset, bytes, width);
    }
    close(fd);
}

// The tree's root: VLMIO_SYSFS_ROOT when set and not empty, else /sys.
std::string RootFromEnvironment(bool& standIn) {
    const char* root = std::getenv(kRootVariable);
    standIn = root != nullptr && *root != '\0';
    return standIn ? std::string(root) : std::string(kDefaultRoot);
}

}  // namespace

extern "C" {

VLMIO_API uint32_t VLMIO_CALL LoadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    bool standIn = false;
    std::string root = RootFromEnvironment(standIn);
    // Configuration writes on real hardware need the administrator.
    if (!standIn && geteuid() != 0) {
        errno = EPERM;
        return 0;
    }
    struct stat st {};
    if (stat((root + kPciBusFolder).c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return 0;
    }
    g_root = root;
    g_loaded.store(true, std::memory_order_release);
    return 1;
}

VLMIO_API void VLMIO_CALL UnloadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded.store(false, std::memory_order_release);
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                            uint32_t offset) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint32_t value = 0;
    return ReadConfig(bus, device, function, offset, 1, value) ? (value & kByteMask) : kAllOnesByte;
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                             uint32_t offset) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint32_t value = 0;
    return ReadConfig(bus, device, function, offset, kDwordBytes, value) ? value : kAllOnesDword;
}

VLMIO_API void VLMIO_CALL PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function,
                                         uint32_t offset, uint32_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    WriteConfig(bus, device, function, offset, 1, value & kByteMask);
}

VLMIO_API void VLMIO_CALL PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                          uint32_t offset, uint32_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    WriteConfig(bus, device, function, offset, kDwordBytes, value);
}

}  // extern "C"
