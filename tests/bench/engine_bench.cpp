// The controller walk and whole updates on the emulated PC, on a virtual clock: how many
// register accesses they make, how much modelled time they take beside the least the
// algorithm allows (its fixed wait plus the chip's busy times), and the CPU time per access.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "emulator/chip_catalogue.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "tests/support/emulated_rig.h"
#include "util/utility.h"

namespace {

constexpr double kUsPerMs = 1000.0;

using Rig = testsupport::EngineRig;

void BM_ScanControllers(benchmark::State& state) {
    Rig rig("controller 00:1f.0 part=1\ncontroller 03:00.0 part=46\ndevice 00:00.0 8086:1237\n");
    if (!rig.engine) {
        state.SkipWithError("machine file refused");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(rig.engine->ScanControllers());
    state.counters["reads"] = benchmark::Counter(static_cast<double>(rig.machine.Accesses()) /
                                                 static_cast<double>(state.iterations()));
    // Seconds per read, shown with a unit prefix (n = nanoseconds).
    state.counters["time_per_read"] =
        benchmark::Counter(static_cast<double>(rig.machine.Accesses()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScanControllers)->Unit(benchmark::kMillisecond);

// The least modelled time an update can take: the wait after the erase, the chip's erase, and
// every program command's busy time (page by page, or byte by byte for auto-increment parts),
// the busy times as the emulator's catalogue gives them.
double FloorMs(int row, uint32_t length, uint16_t pageSize) {
    const flash::FlashPartInfo& part = flash::g_FlashParts[row];
    const vlmio::emu::ChipDatasheet& chip =
        *vlmio::emu::ChipOfTableRow(static_cast<std::size_t>(row));
    const uint32_t section = part.ucSectionUnits * flash::kSectionUnitBytes;
    uint64_t written = 0;
    for (uint32_t offset = 0; offset < length; offset += section) {
        written += std::min(section, length);
    }
    double us = static_cast<double>(flash::kAfterEraseWaitMs) * kUsPerMs + chip.ChipEraseUs();
    if (flash::TraitsOf(part).bAaiProgram) {
        us += static_cast<double>(written) * chip.aaiByteUs;
    } else {
        const uint64_t pages = (written + pageSize - 1) / pageSize;
        us += static_cast<double>(pages) * chip.pageProgramUs +
              static_cast<double>(written) * chip.perByteUs;
    }
    return us / kUsPerMs;
}

// One whole update with datasheet timing: args are the part row and the image length.
void BM_UpdateFirmware(benchmark::State& state) {
    const int row = static_cast<int>(state.range(0));
    const auto length = static_cast<uint32_t>(state.range(1));
    std::vector<uint8_t> buffer(kImageBufferBytes, 0);
    for (uint32_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(i * 31 + 7);
    double virtualMs = 0;
    double accesses = 0;
    double cpuNs = 0;
    uint16_t pageSize = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Rig rig("controller 01:00.0 part=" + std::to_string(row) + " timing=datasheet\n");
        rig.engine->ScanControllers();
        const flash::FlashPartInfo part = rig.spi->QueryFlashPart(rig.records[0]);
        pageSize = rig.records[0].usPageSize;
        const uint64_t startUs = rig.clock.NowUs();
        const uint64_t startAccesses = rig.machine.Accesses();
        state.ResumeTiming();
        const auto cpuStart = std::chrono::steady_clock::now();
        const int32_t result =
            rig.engine->Update_Firmware(0, rig.records[0], part, buffer.data(), length);
        const auto cpuEnd = std::chrono::steady_clock::now();
        if (result != 0) state.SkipWithError("update failed");
        virtualMs += static_cast<double>(rig.clock.NowUs() - startUs) / kUsPerMs;
        accesses += static_cast<double>(rig.machine.Accesses() - startAccesses);
        cpuNs += std::chrono::duration<double, std::nano>(cpuEnd - cpuStart).count();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["virtual_ms"] = virtualMs / n;
    state.counters["floor_ms"] = FloorMs(row, length, pageSize);
    state.counters["accesses"] = accesses / n;
    state.counters["cpu_ns_per_access"] = cpuNs / accesses;
    state.counters["virtual_us_per_access"] = virtualMs * kUsPerMs / accesses;
}
// Row 1: a 128 KiB part programmed by 256-byte pages; row 46: a 128 KiB auto-increment part.
BENCHMARK(BM_UpdateFirmware)
    ->Args({1, 0x10000})
    ->Args({1, 0x20000})
    ->Args({46, 0x10000})
    ->Args({46, 0x20000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
