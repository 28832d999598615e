// Cost of the emulated PC's register accesses, alone and in a full controller walk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "emulator/emulated_pc.h"
#include "framework/clock.h"
#include "tests/support/test_clocks.h"
#include "tests/unit/bridge_driver.h"

namespace {

constexpr char kTwoControllers[] =
    "controller 03:00.0 part=0 timing=instant\n"
    "controller 05:00.0 part=SST25VF010A timing=instant\n"
    "controller 07:00.0 part=0\n";  // datasheet timing

std::unique_ptr<vlmio::emu::EmulatedPc> Make(framework::Clock& clock) {
    std::string error;
    return vlmio::emu::EmulatedPc::FromText(kTwoControllers, "bench.conf", "", clock, &error);
}

// One read of a controller's control register, on the real clock as the library runs.
void BM_RegisterAccess(benchmark::State& state) {
    framework::SteadyClock clock;
    auto pc = Make(clock);
    for (auto _ : state) benchmark::DoNotOptimize(pc->ReadByte(3, 0, 0, 0xF4));
}
BENCHMARK(BM_RegisterAccess);

// The controller walk: identifiers of buses 0-15, devices 0-31, functions 0-7, seven passes
// (28,672 reads).
void BM_PciWalk(benchmark::State& state) {
    framework::SteadyClock clock;
    auto pc = Make(clock);
    constexpr uint32_t kPasses = 7, kBuses = 16, kDevices = 32, kFunctions = 8;
    for (auto _ : state) {
        uint32_t found = 0;
        for (uint32_t pass = 0; pass < kPasses; ++pass) {
            for (uint32_t bus = 0; bus < kBuses; ++bus) {
                for (uint32_t device = 0; device < kDevices; ++device) {
                    for (uint32_t function = 0; function < kFunctions; ++function) {
                        found += pc->ReadDword(bus, device, function, 0x00) != 0xFFFFFFFFu;
                    }
                }
            }
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kPasses * kBuses * kDevices * kFunctions);
}
BENCHMARK(BM_PciWalk)->Unit(benchmark::kMillisecond);

// Reading 64 KiB through the bridge, four bytes a transfer, as a blank check does.
void BM_Read64KiB(benchmark::State& state) {
    framework::SteadyClock clock;
    auto pc = Make(clock);
    testing_bridge::BridgeDriver bridge(*pc, 3, 0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(bridge.Read(0, 64 * 1024));
    state.SetBytesProcessed(state.iterations() * 64 * 1024);
}
BENCHMARK(BM_Read64KiB)->Unit(benchmark::kMillisecond);

// The same with datasheet timing, as the access library runs by default: every transfer keeps
// the bridge busy for its bytes, so the waits poll the control register. On the virtual clock,
// so that the accesses are the same in every run: the time per register access is the figure
// to watch.
void BM_Read64KiBDatasheetTiming(benchmark::State& state) {
    testsupport::VirtualClock clock;
    auto pc = Make(clock);
    testing_bridge::BridgeDriver bridge(*pc, 7, 0, 0);
    const uint64_t before = pc->AccessCount();
    for (auto _ : state) benchmark::DoNotOptimize(bridge.Read(0, 64 * 1024));
    state.SetBytesProcessed(state.iterations() * 64 * 1024);
    state.counters["ns_per_access"] =
        benchmark::Counter(static_cast<double>(pc->AccessCount() - before),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Read64KiBDatasheetTiming)->Unit(benchmark::kMillisecond);

// Erasing a 64 KiB chip and programming it page by page, as an update does: in memory only
// (argument 0), and with a flash file written through at each erase and page (argument 1), the
// cost a run pays for leaving the file as the chip is at every moment.
void BM_EraseAndProgram64KiB(benchmark::State& state) {
    const bool writeThrough = state.range(0) != 0;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "vlm_bench_write_through";
    std::filesystem::create_directories(folder);
    testsupport::VirtualClock clock;
    std::string error;
    // In memory only, the chip has no flash= file at all (nothing is saved anywhere).
    auto pc = vlmio::emu::EmulatedPc::FromText(
        writeThrough ? "controller 03:00.0 part=0 timing=instant flash=flash.bin\n"
                     : "controller 03:00.0 part=0 timing=instant\n",
        "bench.conf", folder.string(), clock, &error);
    if (!pc || (writeThrough && !pc->StartWriteThrough(&error))) {
        state.SkipWithError(error.c_str());
        return;
    }
    testing_bridge::BridgeDriver bridge(*pc, 3, 0, 0);
    const std::vector<uint8_t> page(256, 0x5A);
    const uint64_t before = pc->AccessCount();
    for (auto _ : state) {
        bridge.WriteEnable();
        bridge.Command({0x60});
        for (uint32_t address = 0; address < 64 * 1024; address += 256) {
            bridge.WriteEnable();
            bridge.PageProgram(address, page);
        }
    }
    state.SetBytesProcessed(state.iterations() * 64 * 1024);
    state.counters["ns_per_access"] =
        benchmark::Counter(static_cast<double>(pc->AccessCount() - before),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    pc.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_EraseAndProgram64KiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
