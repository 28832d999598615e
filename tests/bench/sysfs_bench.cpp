// The Linux hardware access library beside the least a configuration access can cost: a pread
// or pwrite on a descriptor kept open. The library's own entry, the same entry through the
// program's loader, and the raw access run side by side in one benchmark, in alternating
// batches (each order forwards, then backwards) so that a change of load on the machine weighs
// on all alike; the counters give each one's CPU time per access and the ratios to the raw
// access. On a stand-in tree (reads and writes) and on the machine's own /sys (reads of a
// storage function only).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pci/access_library.h"
#include "tests/support/temp_folder.h"

#ifdef VLM_SYSFS_VLMIO

namespace {

using testsupport::TempFolder;

constexpr int kBatch = 500;               // accesses per timed batch
constexpr uint32_t kDataRegister = 0xF0;  // the SPI data register
constexpr uint32_t kStandInBus = 3;       // the stand-in tree's storage function, 03:00.0
constexpr uint32_t kStorageClass = 0x01;  // mass storage
constexpr uint32_t kConfigBytes = 256;

// The library loaded as the program loads it, from a folder of its own, with its own entries
// at hand too; the tree's root is VLMIO_SYSFS_ROOT (empty: the real /sys).
struct LoadedLibrary {
    explicit LoadedLibrary(const std::string& root) {
        if (root.empty())
            unsetenv("VLMIO_SYSFS_ROOT");
        else
            setenv("VLMIO_SYSFS_ROOT", root.c_str(), 1);
        std::error_code ec;
        std::filesystem::copy_file(VLM_SYSFS_VLMIO, folder / "libvlmio.so", ec);
        chmod((folder / "libvlmio.so").c_str(), 0755);
        std::string error;
        if (!ec && pci::LoadAccessLibrary(folder.path(), io, error) && io->LoadVlmIODriver() == 0)
            io.reset();
        // The same file again: the same library, whose entries can then be called directly.
        handle = dlopen((folder / "libvlmio.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            readDword = reinterpret_cast<ReadDword>(dlsym(handle, VLMIO_ENTRY_READ_DWORD));
            writeDword = reinterpret_cast<WriteDword>(dlsym(handle, VLMIO_ENTRY_WRITE_DWORD));
        }
    }
    ~LoadedLibrary() {
        if (io) io->UnloadVlmIODriver();
        if (handle != nullptr) dlclose(handle);
        unsetenv("VLMIO_SYSFS_ROOT");
    }
    bool ok() const { return io && readDword != nullptr && writeDword != nullptr; }

    using ReadDword = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
    using WriteDword = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    TempFolder folder;
    std::unique_ptr<pci::LoadedVlmIo> io;
    void* handle = nullptr;
    ReadDword readDword = nullptr;
    WriteDword writeDword = nullptr;
};

// A stand-in tree with one storage function, 03:00.0.
struct StandInTree {
    StandInTree() {
        const std::string dir = tree / "bus/pci/devices/0000:03:00.0";
        std::filesystem::create_directories(dir);
        std::string bytes(kConfigBytes, '\0');
        bytes[0x0B] = static_cast<char>(kStorageClass);
        std::ofstream(dir + "/config", std::ios::binary) << bytes;
        config = dir + "/config";
    }
    TempFolder tree;
    std::string config;
};

// This thread's CPU time in nanoseconds: on a shared machine, time other processes took the
// processor from it does not count.
double ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Times a batch of calls of fn, in nanoseconds of CPU time.
double TimeNs(const std::function<void()>& fn) {
    const double start = ThreadCpuNs();
    for (int i = 0; i < kBatch; ++i) fn();
    return ThreadCpuNs() - start;
}

// One way of making an access, by name.
struct Way {
    const char* name;
    std::function<void()> access;
};

// Runs the ways in batches, in order and then in reverse order, on each iteration; reports each
// one's microseconds per access and, as "<name>_ratio", its time over the last way's.
void SideBySide(benchmark::State& state, const std::vector<Way>& ways) {
    std::vector<double> ns(ways.size(), 0.0);
    for (auto _ : state) {
        for (size_t i = 0; i < ways.size(); ++i) ns[i] += TimeNs(ways[i].access);
        for (size_t i = ways.size(); i-- > 0;) ns[i] += TimeNs(ways[i].access);
    }
    const double accesses = 2.0 * kBatch * static_cast<double>(state.iterations());
    for (size_t i = 0; i < ways.size(); ++i) {
        state.counters[std::string(ways[i].name) + "_us"] = ns[i] / accesses / 1000.0;
        if (i + 1 < ways.size())
            state.counters[std::string(ways[i].name) + "_ratio"] = ns[i] / ns.back();
    }
}

// Reads of one function's data register: the library's entry, the same through the program's
// loader, and a pread on a descriptor kept open.
void CompareReads(benchmark::State& state, LoadedLibrary& lib, const std::string& config,
                  uint32_t bus, uint32_t device, uint32_t function) {
    const int fd = open(config.c_str(), O_RDONLY | O_CLOEXEC);
    if (!lib.ok() || fd < 0) {
        state.SkipWithError("the library or the config file could not be opened");
        if (fd >= 0) close(fd);
        return;
    }
    uint32_t sink = 0;
    SideBySide(
        state,
        {{"library", [&] { sink += lib.readDword(bus, device, function, kDataRegister); }},
         {"loader", [&] { sink += lib.io->PCI_Read_DWORD(bus, device, function, kDataRegister); }},
         {"raw", [&] {
              uint32_t value = 0;
              if (pread(fd, &value, sizeof value, kDataRegister) == sizeof value) sink += value;
          }}});
    benchmark::DoNotOptimize(sink);
    close(fd);
}

void BM_SysfsRead_StandIn(benchmark::State& state) {
    StandInTree tree;
    LoadedLibrary lib(tree.tree.path());
    CompareReads(state, lib, tree.config, kStandInBus, 0, 0);
}
BENCHMARK(BM_SysfsRead_StandIn)->Unit(benchmark::kMillisecond);

void BM_SysfsWrite_StandIn(benchmark::State& state) {
    StandInTree tree;
    LoadedLibrary lib(tree.tree.path());
    const int fd = open(tree.config.c_str(), O_RDWR | O_CLOEXEC);
    if (!lib.ok() || fd < 0) {
        state.SkipWithError("the stand-in tree could not be set up");
        if (fd >= 0) close(fd);
        return;
    }
    uint32_t value = 0;
    SideBySide(
        state,
        {{"library", [&] { lib.writeDword(kStandInBus, 0, 0, kDataRegister, ++value); }},
         {"loader", [&] { lib.io->PCI_Write_DWORD(kStandInBus, 0, 0, kDataRegister, ++value); }},
         {"raw", [&] {
              ++value;
              benchmark::DoNotOptimize(pwrite(fd, &value, sizeof value, kDataRegister));
          }}});
    close(fd);
}
BENCHMARK(BM_SysfsWrite_StandIn)->Unit(benchmark::kMillisecond);

// The first mass-storage function of the real /sys, as bus, device and function; false when
// there is none.
bool FindStorageFunction(uint32_t& bus, uint32_t& device, uint32_t& function, std::string& path) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/pci/devices", ec)) {
        unsigned b = 0, d = 0, f = 0;
        const std::string name = entry.path().filename().string();
        if (std::sscanf(name.c_str(), "0000:%x:%x.%x", &b, &d, &f) != 3) continue;
        std::ifstream in(entry.path() / "class");
        unsigned long classCode = 0;
        in >> std::hex >> classCode;
        if ((classCode >> 16) != kStorageClass) continue;
        bus = b;
        device = d;
        function = f;
        path = (entry.path() / "config").string();
        return true;
    }
    return false;
}

// Reads only: the real machine's configuration space is never written here.
void BM_SysfsRead_RealSys(benchmark::State& state, uint32_t bus, uint32_t device, uint32_t function,
                          const std::string& config) {
    LoadedLibrary lib("");
    state.SetLabel(config);
    CompareReads(state, lib, config, bus, device, function);
}

// Registered only where there is a storage function to read and the administrator to load the
// library for the real /sys.
[[maybe_unused]] const bool s_realSysRegistered = [] {
    uint32_t bus = 0, device = 0, function = 0;
    std::string config;
    if (geteuid() != 0 || !FindStorageFunction(bus, device, function, config)) return false;
    benchmark::RegisterBenchmark("BM_SysfsRead_RealSys", BM_SysfsRead_RealSys, bus, device,
                                 function, config)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

// The controller walk on the real /sys, reads only: the identifier of every function of buses
// 0-255 as the walk and the separate scan read it, through the library (which learnt at its
// load which functions exist), beside the walk as the library made it before it learnt them: an
// open of each function's config file, most of which do not exist. Counters: milliseconds of
// CPU time per walk, each way, and their ratio.
void BM_SysfsWalk_RealSys(benchmark::State& state) {
    LoadedLibrary lib("");
    if (!lib.ok()) {
        state.SkipWithError("the library could not be loaded for /sys");
        return;
    }
    constexpr uint32_t kFunctions = 256 * 32 * 8;
    double libraryNs = 0.0;
    double openEachNs = 0.0;
    uint32_t sink = 0;
    for (auto _ : state) {
        double start = ThreadCpuNs();
        for (uint32_t n = 0; n < kFunctions; ++n)
            sink += lib.readDword(n >> 8, (n >> 3) & 31, n & 7, 0);
        libraryNs += ThreadCpuNs() - start;
        start = ThreadCpuNs();
        for (uint32_t n = 0; n < kFunctions; ++n) {
            char path[64];
            std::snprintf(path, sizeof path, "/sys/bus/pci/devices/0000:%02x:%02x.%x/config",
                          n >> 8, (n >> 3) & 31, n & 7);
            const int fd = open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            uint32_t value = 0;
            if (pread(fd, &value, sizeof value, 0) == sizeof value) sink += value;
            close(fd);
        }
        openEachNs += ThreadCpuNs() - start;
    }
    benchmark::DoNotOptimize(sink);
    const double walks = static_cast<double>(state.iterations());
    state.counters["library_ms"] = libraryNs / walks / 1e6;
    state.counters["open_each_ms"] = openEachNs / walks / 1e6;
    state.counters["open_each_ratio"] = openEachNs / libraryNs;
}

[[maybe_unused]] const bool s_realWalkRegistered = [] {
    if (geteuid() != 0 || !std::filesystem::is_directory("/sys/bus/pci/devices")) return false;
    benchmark::RegisterBenchmark("BM_SysfsWalk_RealSys", BM_SysfsWalk_RealSys)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace

#endif  // VLM_SYSFS_VLMIO
