// The administrator's read-only work on the emulated PC, on a virtual clock: the probe (the
// update's walk, the identifications and the separate scan of every bus) and a backup of a
// 128 KiB flash (two whole reads, the file written, made durable and read back).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "admin/flash_contents.h"
#include "admin/probe.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/temp_folder.h"

namespace {

using Rig = testsupport::EngineRig;

// The demonstration's machine: two controllers, 64 KiB and 128 KiB flashes. Reads cost the chips
// no busy time; the bridge's own transfer time is left out, so that the figures are the work of
// the program and the access library alone.
constexpr const char* kDemoMachine =
    "controller 02:00.0 part=MX25L(V)512(C) timing=instant\n"
    "controller 03:00.0 part=W25X10B(C)L(V) member=2 timing=instant\n";

void BM_ProbeDemonstrationMachine(benchmark::State& state) {
    Rig rig(kDemoMachine);
    if (!rig.engine) {
        state.SkipWithError("machine file refused");
        return;
    }
    for (auto _ : state) {
        admin::ProbeResult probe =
            admin::ProbeControllers(*rig.engine, *rig.spi, rig.count, rig.records);
        if (probe.controllers.size() != 2) {
            state.SkipWithError("controllers not found");
            break;
        }
        benchmark::DoNotOptimize(probe);
    }
    state.counters["accesses"] = benchmark::Counter(static_cast<double>(rig.machine.Accesses()) /
                                                    static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ProbeDemonstrationMachine)->Unit(benchmark::kMillisecond);

void BM_Backup128KiB(benchmark::State& state) {
    Rig rig(kDemoMachine);
    testsupport::TempFolder folder;
    if (!rig.engine || rig.engine->ScanControllers() != 0 || !folder.ok()) {
        state.SkipWithError("machine file refused");
        return;
    }
    const flash::FlashPartInfo part = rig.spi->QueryFlashPart(rig.records[1]);
    auto when = std::chrono::system_clock::now();
    for (auto _ : state) {
        when += std::chrono::seconds(1);  // a name of its own each time
        admin::BackupResult backup =
            admin::BackupFlash(*rig.spi, rig.records[1], part, folder.path(), when);
        if (backup.nResult != 0) {
            state.SkipWithError(backup.strProblem.c_str());
            break;
        }
        state.PauseTiming();
        std::filesystem::remove(backup.strPath);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * flash::FlashSizeBytes(part));
}
BENCHMARK(BM_Backup128KiB)->Unit(benchmark::kMillisecond);

}  // namespace
