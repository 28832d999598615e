// The emulated PC as the access library: the six entries plus VlmIoIsEmulated, nothing else
// exported. LoadVlmIODriver reads the machine file named by VLMIO_EMULATOR, else
// emulated-pc.conf in the library's own folder, on the real clock; a bad file is reported on
// standard error ("FILE:LINE: what is wrong") and the load returns 0. VLMIO_EMULATOR_LOG=FILE
// appends every register access to FILE; VLMIO_EMULATOR_VIOLATIONS=FILE appends every misuse of
// a bridge or chip by the host to FILE (one line each, flushed at once; see violations.h). The
// flash files are written back by UnloadVlmIODriver and when the process ends (or the library is
// unloaded). A second load while one is loaded keeps the emulated PC as it is and returns 1.
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
#endif

#include "emulator/emulated_pc.h"
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

// A loaded emulated PC with the clock it runs on (declared first, so destroyed last).
struct Loaded {
    framework::SteadyClock clock;
    std::unique_ptr<vlmio::emu::EmulatedPc> pc;
    std::string path;  // the machine file
};

// Held only to copy or swap the pointer: register accesses run outside it, each on its own
// reference, so unloading never pulls the emulated PC from under a running access.
std::mutex g_mutex;
std::shared_ptr<Loaded> g_loaded;

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
    if (loaded && !loaded->pc->SaveFlashFiles()) {
        std::fprintf(stderr, "%s: a flash file could not be written back\n", loaded->path.c_str());
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
    loaded->pc = vlmio::emu::EmulatedPc::FromFile(path, loaded->clock, &error);
    if (!loaded->pc) {
        std::fprintf(stderr, "%s\n", error.c_str());
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

}  // extern "C"
