// The emulated PC as the access library: the six entries plus VlmIoIsEmulated and
// VlmIoFlashNotSaved, nothing else exported. LoadVlmIODriver reads the machine file named by
// VLMIO_EMULATOR, else emulated-pc.conf in the library's own folder, on the real clock; a bad file
// is reported on standard error ("FILE:LINE: what is wrong") and the load returns 0.
// VLMIO_EMULATOR_LOG=FILE appends every register access to FILE; VLMIO_EMULATOR_VIOLATIONS=FILE
// appends every misuse of a bridge or chip by the host to FILE (one line each, flushed at once;
// see violations.h). A second load while one is loaded keeps the emulated PC as it is and
// returns 1.
//
// Flash files: while loaded, the library holds a lock on each (Linux: a non-blocking exclusive
// flock), so that a second process on the same emulated PC fails its load, saying which file is
// in use; every erase and program reaches its file as the command ends, so a killed process
// leaves there what the chip holds; UnloadVlmIODriver, the process's end and the library's
// unloading write them back whole. A file that could not be written back is reported on standard
// error, and VlmIoFlashNotSaved answers 1 from then on, so that the program ends the run as failed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <vector>

#include "emulator/emulated_pc.h"
#include "emulator/machine_file.h"
#include "framework/clock.h"
#include "pci/vlmio.h"

namespace {

constexpr char kMachineFileVariable[] = "VLMIO_EMULATOR";
constexpr char kAccessLogVariable[] = "VLMIO_EMULATOR_LOG";
constexpr char kViolationLogVariable[] = "VLMIO_EMULATOR_VIOLATIONS";
constexpr char kDefaultMachineFile[] = "emulated-pc.conf";
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr uint32_t kByteAllOnes = 0xFFu;

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The locks on an emulated PC's flash files, held from the load to the unload.
class FlashFileLocks {
public:
    FlashFileLocks() = default;
    FlashFileLocks(const FlashFileLocks&) = delete;
    FlashFileLocks& operator=(const FlashFileLocks&) = delete;
    ~FlashFileLocks() {
#ifndef _WIN32
        for (int fd : m_fds) close(fd);
#endif
    }

    // Locks the flash file of every controller without waiting. A missing file is made, holding
    // what the chip holds at power-up. False with the reason on standard error when a file
    // cannot be opened or made, or another process holds its lock.
    bool Take(const std::vector<vlmio::emu::ControllerItem>& controllers) {
#ifdef _WIN32
        (void)controllers;  // Windows: the update lock of the program's folder stands alone
        return true;
#else
        for (const vlmio::emu::ControllerItem& c : controllers) {
            if (c.flashPath.empty()) continue;
            const char* path = c.flashPath.c_str();
            constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
            bool made = true;
            int fd = open(path, kFlags | O_CREAT | O_EXCL, kFlashFileMode);
            if (fd < 0 && errno == EEXIST) {
                made = false;
                fd = open(path, kFlags);
            }
            if (fd < 0) {
                Report(path, "the flash file cannot be opened");
                return false;
            }
            m_fds.push_back(fd);
            int rc;
            do {
                rc = flock(fd, LOCK_EX | LOCK_NB);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                Report(path, errno == EWOULDBLOCK
                                 ? "the flash file is in use by another run of the emulated PC"
                                 : "the flash file cannot be locked");
                return false;
            }
            if (made && !WriteWhole(fd, c.initialContents)) {
                Report(path, "the flash file cannot be written");
                return false;
            }
        }
        return true;
#endif
    }

private:
#ifndef _WIN32
    static bool WriteWhole(int fd, const std::vector<uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
#endif
    static void Report(const std::string& path, const char* what) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), what);
        std::fflush(stderr);
    }
#ifndef _WIN32
    static constexpr mode_t kFlashFileMode = 0644;
    std::vector<int> m_fds;
#endif
};

// A loaded emulated PC with the clock it runs on (declared first, so destroyed last) and the
// locks on its flash files (released after the emulated PC's last save).
struct Loaded {
    framework::SteadyClock clock;
    FlashFileLocks locks;
    std::unique_ptr<vlmio::emu::EmulatedPc> pc;
    std::string path;  // the machine file
};

// Held only to copy or swap the pointer: register accesses run outside it, each on its own
// reference, so unloading never pulls the emulated PC from under a running access.
std::mutex g_mutex;
std::shared_ptr<Loaded> g_loaded;
// Set for good once a flash file could not be written back.
std::atomic<bool> g_bFlashNotSaved{false};

std::shared_ptr<Loaded> Current() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_loaded;
}

// Takes the emulated PC out of service and writes its flash files back. A register access
// still running keeps its own reference; later ones find nothing loaded.
void Unload() {
    std::shared_ptr<Loaded> loaded;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        loaded.swap(g_loaded);
    }
    std::string error;
    if (loaded && !loaded->pc->SaveFlashFiles(&error)) {
        g_bFlashNotSaved.store(true, std::memory_order_release);
        std::fputs(error.c_str(), stderr);
        std::fflush(stderr);
    }
}

// Unloads when the process ends or this library is unloaded. A static object rather than an
// atexit handler, because its destructor is tied to this library: it runs at the library's
// unloading and never after the code is gone. Declared after g_loaded, so it runs first.
struct UnloadAtEnd {
    UnloadAtEnd() = default;
    UnloadAtEnd(const UnloadAtEnd&) = delete;
    UnloadAtEnd& operator=(const UnloadAtEnd&) = delete;
    ~UnloadAtEnd() { Unload(); }
} g_unloadAtEnd;

// The folder holding this library, without a trailing separator; empty if unknown.
std::string LibraryFolder() {
    std::string path;
#ifdef _WIN32
    HMODULE module = nullptr;
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&Unload), &module)) {
        char name[MAX_PATH];
        DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
        if (length > 0 && length < MAX_PATH) path.assign(name, length);
    }
    std::size_t end = path.find_last_of("\\/");
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Unload), &info) != 0 && info.dli_fname != nullptr) {
        path = info.dli_fname;
    }
    std::size_t end = path.find_last_of('/');
#endif
    if (end == std::string::npos) return path.empty() ? std::string() : std::string(".");
    return path.substr(0, end);
}

std::string MachineFilePath() {
    const char* named = std::getenv(kMachineFileVariable);
    if (named != nullptr && named[0] != '\0') return named;
    std::string folder = LibraryFolder();
    return folder.empty() ? std::string(kDefaultMachineFile)
                          : folder + kPathSeparator + kDefaultMachineFile;
}

// Leaves the last-error code of a failed load where the caller reads it: file not found when
// the machine file is missing, bad format otherwise.
void SetLoadError(const std::string& path) {
    std::error_code ec;
    bool missing = !std::filesystem::exists(path, ec);
#ifdef _WIN32
    SetLastError(missing ? ERROR_FILE_NOT_FOUND : ERROR_BAD_FORMAT);
#else
    errno = missing ? ENOENT : EINVAL;
#endif
}

}  // namespace

extern "C" {

VLMIO_API uint32_t VLMIO_CALL LoadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loaded) return 1;
    auto loaded = std::make_shared<Loaded>();
    std::string& path = loaded->path;
    path = MachineFilePath();
    std::string error;
    std::string text;
    const std::string baseDir = std::filesystem::path(path).parent_path().string();
    vlmio::emu::MachineDescription machine;
    if (vlmio::emu::EmulatedPc::ReadMachineFile(path, &text, &error) &&
        vlmio::emu::ParseMachineText(text, path, baseDir, &machine, &error)) {
        // The flash files are locked before the emulated PC reads them: a run that held them
        // has saved them by the time it let them go.
        if (!loaded->locks.Take(machine.controllers)) {
            SetLoadError(path);
            return 0;
        }
        loaded->pc = vlmio::emu::EmulatedPc::FromText(text, path, baseDir, loaded->clock, &error);
    }
    if (!loaded->pc) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::fflush(stderr);
        SetLoadError(path);
        return 0;
    }
    if (!loaded->pc->StartWriteThrough(&error)) {
        std::fputs(error.c_str(), stderr);
        std::fflush(stderr);
        SetLoadError(path);
        return 0;
    }
    const char* log = std::getenv(kAccessLogVariable);
    if (log != nullptr && log[0] != '\0' && !loaded->pc->SetAccessLogFile(log)) {
        std::fprintf(stderr, "%s: cannot open the access log %s\n", path.c_str(), log);
        std::fflush(stderr);
        return 0;
    }
    const char* violations = std::getenv(kViolationLogVariable);
    if (violations != nullptr && violations[0] != '\0' &&
        !loaded->pc->SetViolationLogFile(violations)) {
        std::fprintf(stderr, "%s: cannot open the violation record %s\n", path.c_str(), violations);
        std::fflush(stderr);
        return 0;
    }
    g_loaded = std::move(loaded);
    return 1;
}

VLMIO_API void VLMIO_CALL UnloadVlmIODriver(void) {
    Unload();
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                            uint32_t offset) {
    std::shared_ptr<Loaded> loaded = Current();
    return loaded ? loaded->pc->ReadByte(bus, device, function, offset) : kByteAllOnes;
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                             uint32_t offset) {
    std::shared_ptr<Loaded> loaded = Current();
    return loaded ? loaded->pc->ReadDword(bus, device, function, offset) : kAllOnes;
}

VLMIO_API void VLMIO_CALL PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function,
                                         uint32_t offset, uint32_t value) {
    std::shared_ptr<Loaded> loaded = Current();
    if (loaded) loaded->pc->WriteByte(bus, device, function, offset, value);
}

VLMIO_API void VLMIO_CALL PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                          uint32_t offset, uint32_t value) {
    std::shared_ptr<Loaded> loaded = Current();
    if (loaded) loaded->pc->WriteDword(bus, device, function, offset, value);
}

VLMIO_API uint32_t VLMIO_CALL VlmIoIsEmulated(void) {
    return 1;
}

VLMIO_API uint32_t VLMIO_CALL VlmIoFlashNotSaved(void) {
    return g_bFlashNotSaved.load(std::memory_order_acquire) ? 1 : 0;
}

}  // extern "C"
