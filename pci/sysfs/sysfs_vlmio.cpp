/* The access library for real hardware on Linux: PCI configuration space through sysfs,
 * /sys/bus/pci/devices/0000:BB:DD.F/config, for the administrator only.
 *
 * Reads of an absent or unreadable function, of an offset past its configuration space and of
 * a misaligned double word give all ones. Writes go only to mass-storage functions (class code
 * 0x01), so that nothing else in the machine can be changed by mistake. The tree's root is
 * /sys, or the folder that VLMIO_SYSFS_ROOT names (a test's stand-in tree; the administrator
 * check is then left out).
 *
 * At load, the functions that exist are learnt from one listing of /sys/bus/pci/devices: an
 * access to any other reads all ones (or writes nothing) without a system call, so that a walk
 * of every bus costs no more than the functions it finds. A function that appears later is
 * not seen until the next load.
 *
 * The errno of the first access of each function that the kernel refused (a write refused
 * under lockdown with EPERM, a removed function's ENODEV, ...) is kept until the next load and
 * offered by VlmIoAccessError. VlmIoWritesRefused tells, from the kernel's lockdown file
 * (/sys/kernel/security/lockdown), whether every configuration write would be refused.
 *
 * Each function's config file is opened on its first access and kept open until the library
 * is unloaded (or loaded again), so that an access costs one pread or pwrite: read-only, until
 * the function is first written. The class code is read once per read-write descriptor,
 * through that descriptor, at its first write. An access that
 * fails on a kept descriptor drops it and is tried once more on a freshly opened one: sysfs
 * refuses every access through the descriptor of a function that was removed, so a function
 * that went away reads all ones, and one that came back in its place is checked afresh before
 * anything is written to it. */
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "pci/vlmio.h"

namespace {

constexpr const char* kDefaultRoot = "/sys";
constexpr const char* kRootVariable = "VLMIO_SYSFS_ROOT";
constexpr const char* kPciBusFolder = "/bus/pci";
constexpr const char* kPciDevicesFolder = "/bus/pci/devices";
constexpr const char* kLockdownFile = "/kernel/security/lockdown";
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
// Descriptors kept at most; a function met beyond them is opened and closed for each access.
constexpr size_t kMaxKeptDescriptors = 256;
constexpr uint32_t kFunctionsPerBus = (kMaxDevice + 1) * (kMaxFunction + 1);
constexpr uint32_t kFunctionCount = (kMaxBus + 1) * kFunctionsPerBus;
// The longest lockdown file read ("none integrity [confidentiality]" and a line feed).
constexpr size_t kLockdownFileBytes = 128;

// What the class code read through a descriptor said.
enum class ClassCheck { kNotYet, kStorage, kOther };

// One function's config file: opened read-only for reading, read-write once it is written.
struct Descriptor {
    int fd = -1;
    bool writable = false;
    ClassCheck classCheck = ClassCheck::kNotYet;
};

std::mutex g_mutex;                 // one configuration access at a time
std::atomic<bool> g_loaded{false};  // set by a successful load, cleared by unload
std::string g_root;                 // the tree's root while loaded (under g_mutex)
// Kept descriptors, one table per bus made when its first descriptor is kept, indexed by
// device << 3 | function; all under g_mutex.
using BusDescriptors = std::array<Descriptor, kFunctionsPerBus>;
std::array<std::unique_ptr<BusDescriptors>, kMaxBus + 1> g_kept;
size_t g_keptCount = 0;
// The functions listed at load, and the errno of each function's first refused access (0:
// none); both under g_mutex, indexed by bus << 8 | device << 3 | function.
std::bitset<kFunctionCount> g_present;
std::array<uint16_t, kFunctionCount> g_firstError{};

// Whether the numbers name a function; out-of-range numbers never alias another one.
bool ValidFunction(uint32_t bus, uint32_t device, uint32_t function) {
    return bus <= kMaxBus && device <= kMaxDevice && function <= kMaxFunction;
}

uint32_t IndexOnBus(uint32_t device, uint32_t function) {
    return device * (kMaxFunction + 1) + function;
}

uint32_t FunctionIndex(uint32_t bus, uint32_t device, uint32_t function) {
    return bus * kFunctionsPerBus + IndexOnBus(device, function);
}

// Keeps errno as the function's first refused access, unless one is kept already.
void NoteRefusal(uint32_t bus, uint32_t device, uint32_t function, int error) {
    uint16_t& kept = g_firstError[FunctionIndex(bus, device, function)];
    if (kept == 0 && error > 0) kept = static_cast<uint16_t>(error <= UINT16_MAX ? error : EIO);
}

// Learns from one listing of the devices folder which functions of domain 0000 exist. False
// with errno when the folder cannot be listed.
bool ListFunctions(const std::string& root) {
    g_present.reset();
    DIR* folder = opendir((root + kPciDevicesFolder).c_str());
    if (folder == nullptr) return false;
    while (const dirent* entry = readdir(folder)) {
        unsigned bus = 0, device = 0, function = 0;
        char tail = '\0';
        // "0000:BB:DD.F" exactly, in lower-case hex as the kernel names them.
        if (std::sscanf(entry->d_name, "0000:%2x:%2x.%1x%c", &bus, &device, &function, &tail) ==
                3 &&
            std::strlen(entry->d_name) == 12 && ValidFunction(bus, device, function)) {
            g_present.set(FunctionIndex(bus, device, function));
        }
    }
    closedir(folder);
    return true;
}

// Whether the kernel's lockdown file text names a mode that refuses configuration writes:
// the mode in brackets is the one in force ("none [integrity] confidentiality").
bool LockdownRefusesWrites(const char* text) {
    return std::strstr(text, "[integrity]") != nullptr ||
           std::strstr(text, "[confidentiality]") != nullptr;
}

// The config file of a function (numbers in range).
std::string ConfigPath(uint32_t bus, uint32_t device, uint32_t function) {
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

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens a function's config file, read-write only for writing; fd -1 when it cannot be opened.
Descriptor OpenConfig(uint32_t bus, uint32_t device, uint32_t function, bool forWriting) {
    Descriptor descriptor;
    descriptor.fd = OpenRetrying(ConfigPath(bus, device, function), forWriting ? O_RDWR : O_RDONLY);
    descriptor.writable = forWriting && descriptor.fd >= 0;
    return descriptor;
}

void CloseDescriptor(Descriptor& descriptor) {
    if (descriptor.fd >= 0) close(descriptor.fd);
    descriptor = Descriptor{};
}

// Closes every kept descriptor.
void CloseAll() {
    for (auto& bus : g_kept) {
        if (!bus) continue;
        for (Descriptor& descriptor : *bus) CloseDescriptor(descriptor);
        bus.reset();
    }
    g_keptCount = 0;
}

// The function's kept descriptor, or nullptr when none is kept.
Descriptor* KeptDescriptor(uint32_t bus, uint32_t device, uint32_t function) {
    if (!g_kept[bus]) return nullptr;
    Descriptor& descriptor = (*g_kept[bus])[IndexOnBus(device, function)];
    return descriptor.fd >= 0 ? &descriptor : nullptr;
}

// Keeps a fresh descriptor for the function; closes it instead when no more may be kept.
void Keep(uint32_t bus, uint32_t device, uint32_t function, Descriptor& fresh) {
    if (!g_kept[bus] && g_keptCount < kMaxKeptDescriptors)
        g_kept[bus].reset(new (std::nothrow) BusDescriptors());
    if (!g_kept[bus] || g_keptCount >= kMaxKeptDescriptors) {
        CloseDescriptor(fresh);
        return;
    }
    (*g_kept[bus])[IndexOnBus(device, function)] = fresh;
    ++g_keptCount;
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

bool ReadAccess(Descriptor& descriptor, uint32_t offset, unsigned char* bytes, uint32_t width) {
    return ReadExact(descriptor.fd, offset, bytes, width);
}

// Writes only through a descriptor whose own class-code read said mass storage; a function
// that is not storage counts as done (nothing to try again).
bool WriteAccess(Descriptor& descriptor, uint32_t offset, unsigned char* bytes, uint32_t width) {
    if (descriptor.classCheck == ClassCheck::kNotYet) {
        unsigned char classCode = 0;
        if (!ReadExact(descriptor.fd, kClassCodeOffset, &classCode, 1)) return false;
        descriptor.classCheck =
            classCode == kMassStorageClass ? ClassCheck::kStorage : ClassCheck::kOther;
    }
    if (descriptor.classCheck != ClassCheck::kStorage) return true;
    return WriteExact(descriptor.fd, offset, bytes, width);
}

// Makes one access of a function on its kept descriptor, opening it on first use (a write
// needs a read-write one, which then takes the read-only one's place). When the access fails
// there, the descriptor is dropped and the access is tried once more on a fresh one. False
// when the function cannot be opened or the access failed both times.
template <typename Access>
bool WithDescriptor(uint32_t bus, uint32_t device, uint32_t function, bool forWriting,
                    Access access, uint32_t offset, unsigned char* bytes, uint32_t width) {
    if (Descriptor* kept = KeptDescriptor(bus, device, function)) {
        if (kept->writable || !forWriting) {
            errno = 0;
            if (access(*kept, offset, bytes, width)) return true;
            NoteRefusal(bus, device, function, errno != 0 ? errno : EIO);
        }
        CloseDescriptor(*kept);
        --g_keptCount;
    }
    Descriptor fresh = OpenConfig(bus, device, function, forWriting);
    if (fresh.fd < 0) {
        NoteRefusal(bus, device, function, errno);
        return false;
    }
    errno = 0;
    const bool ok = access(fresh, offset, bytes, width);
    // A short transfer without an error counts as an I/O error.
    if (!ok) NoteRefusal(bus, device, function, errno != 0 ? errno : EIO);
    Keep(bus, device, function, fresh);
    return ok;
}

// Reads width bytes (1 or 4) of a function's configuration space, little-endian as PCI
// stores it; false when it cannot be read whole.
bool ReadConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, uint32_t width,
                uint32_t& value) {
    if (!g_loaded.load(std::memory_order_acquire) || !ValidFunction(bus, device, function) ||
        !AccessFits(offset, width) || !g_present.test(FunctionIndex(bus, device, function))) {
        return false;
    }
    unsigned char bytes[kDwordBytes] = {};
    if (!WithDescriptor(bus, device, function, false, ReadAccess, offset, bytes, width))
        return false;
    value = 0;
    for (uint32_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
    return true;
}

// Writes width bytes (1 or 4) to a mass-storage function's configuration space; anything
// else is left untouched.
void WriteConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, uint32_t width,
                 uint32_t value) {
    if (!g_loaded.load(std::memory_order_acquire) || !ValidFunction(bus, device, function) ||
        !AccessFits(offset, width) || !g_present.test(FunctionIndex(bus, device, function))) {
        return;
    }
    unsigned char bytes[kDwordBytes];
    for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    WithDescriptor(bus, device, function, true, WriteAccess, offset, bytes, width);
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
    // Descriptors of an earlier load may belong to another tree.
    g_loaded.store(false, std::memory_order_release);
    CloseAll();
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
    if (!ListFunctions(root)) return 0;
    g_firstError.fill(0);
    g_root = root;
    g_loaded.store(true, std::memory_order_release);
    return 1;
}

VLMIO_API void VLMIO_CALL UnloadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded.store(false, std::memory_order_release);
    CloseAll();
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

VLMIO_API uint32_t VLMIO_CALL VlmIoAccessError(uint32_t bus, uint32_t device, uint32_t function) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!ValidFunction(bus, device, function)) return 0;
    return g_firstError[FunctionIndex(bus, device, function)];
}

VLMIO_API uint32_t VLMIO_CALL VlmIoWritesRefused(void) {
    bool standIn = false;
    const std::string path = RootFromEnvironment(standIn) + kLockdownFile;
    // No lockdown file (a kernel without lockdown, securityfs not mounted): nothing known to
    // refuse writes.
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) return 0;
    char text[kLockdownFileBytes + 1] = {};
    ssize_t n;
    do {
        n = pread(fd, text, kLockdownFileBytes, 0);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    return LockdownRefusesWrites(text) ? EPERM : 0;
}

}  // extern "C"
