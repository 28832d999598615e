// The Linux hardware access library beside the least a configuration access can cost: a pread
// or pwrite on a descriptor kept open. Both run side by side in one benchmark, in alternating
// batches (library, raw, raw, library) so that a change of load on the machine weighs on both
// alike; the counters give each one's time per access and their ratio. On a stand-in tree
// (reads and writes) and on the machine's own /sys (reads of a storage function only).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

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

// The library loaded as the program loads it, from a folder of its own; the tree's root is
// VLMIO_SYSFS_ROOT (empty: the real /sys).
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
    }
    ~LoadedLibrary() {
        if (io) io->UnloadVlmIODriver();
        unsetenv("VLMIO_SYSFS_ROOT");
    }
    TempFolder folder;
    std::unique_ptr<pci::LoadedVlmIo> io;
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

// Times count calls of fn, in nanoseconds.
double TimeNs(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) fn();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
        .count();
}

// Runs library and raw accesses in alternating batches; reports each one's microseconds per
// access and the ratio.
void SideBySide(benchmark::State& state, const std::function<void()>& library,
                const std::function<void()>& raw) {
    double libraryNs = 0;
    double rawNs = 0;
    for (auto _ : state) {
        libraryNs += TimeNs(library);
        rawNs += TimeNs(raw);
        rawNs += TimeNs(raw);
        libraryNs += TimeNs(library);
    }
    const double accesses = 2.0 * kBatch * static_cast<double>(state.iterations());
    state.counters["library_us"] = libraryNs / accesses / 1000.0;
    state.counters["raw_us"] = rawNs / accesses / 1000.0;
    state.counters["ratio"] = libraryNs / rawNs;
}

int OpenKept(const std::string& path, int flags) {
    return open(path.c_str(), flags | O_CLOEXEC);
}

void BM_SysfsRead_StandIn(benchmark::State& state) {
    StandInTree tree;
    LoadedLibrary lib(tree.tree.path());
    const int fd = OpenKept(tree.config, O_RDONLY);
    if (!lib.io || fd < 0) {
        state.SkipWithError("the stand-in tree could not be set up");
        if (fd >= 0) close(fd);
        return;
    }
    uint32_t sink = 0;
    SideBySide(
        state, [&] { sink += lib.io->PCI_Read_DWORD(kStandInBus, 0, 0, kDataRegister); },
        [&] {
            uint32_t value = 0;
            sink += pread(fd, &value, sizeof value, kDataRegister) == sizeof value ? value : 0;
        });
    benchmark::DoNotOptimize(sink);
    close(fd);
}
BENCHMARK(BM_SysfsRead_StandIn)->Unit(benchmark::kMillisecond);

void BM_SysfsWrite_StandIn(benchmark::State& state) {
    StandInTree tree;
    LoadedLibrary lib(tree.tree.path());
    const int fd = OpenKept(tree.config, O_RDWR);
    if (!lib.io || fd < 0) {
        state.SkipWithError("the stand-in tree could not be set up");
        if (fd >= 0) close(fd);
        return;
    }
    uint32_t value = 0;
    SideBySide(
        state, [&] { lib.io->PCI_Write_DWORD(kStandInBus, 0, 0, kDataRegister, ++value); },
        [&] {
            ++value;
            benchmark::DoNotOptimize(pwrite(fd, &value, sizeof value, kDataRegister));
        });
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
void BM_SysfsRead_RealSys(benchmark::State& state) {
    uint32_t bus = 0, device = 0, function = 0;
    std::string config;
    if (geteuid() != 0 || !FindStorageFunction(bus, device, function, config)) {
        state.SkipWithError("no storage function in /sys, or not the administrator");
        return;
    }
    LoadedLibrary lib("");
    const int fd = OpenKept(config, O_RDONLY);
    if (!lib.io || fd < 0) {
        state.SkipWithError("the library or the config file could not be opened");
        if (fd >= 0) close(fd);
        return;
    }
    state.SetLabel(config);
    uint32_t sink = 0;
    SideBySide(
        state, [&] { sink += lib.io->PCI_Read_DWORD(bus, device, function, kDataRegister); },
        [&] {
            uint32_t value = 0;
            sink += pread(fd, &value, sizeof value, kDataRegister) == sizeof value ? value : 0;
        });
    benchmark::DoNotOptimize(sink);
    close(fd);
}
BENCHMARK(BM_SysfsRead_RealSys)->Unit(benchmark::kMillisecond);

}  // namespace

#endif  // VLM_SYSFS_VLMIO
