// The demonstration's whole silent run, in process as the Linux program makes it (access library
// loaded from the program folder, application, worker, job threads), on its emulated PC with
// datasheet timing and the real clock; its time beside the least the run's own pauses and the
// chips' busy times allow.
//
// That floor: the flashes are written one at a time under the write lock, so for each
// controller the erase, the 1000 ms wait after it, the program commands' busy times and the
// job's first 500 ms pause (taken before the lock is released) follow one another. A job's
// second 500 ms pause comes after the lock is released and overlaps the next controller's
// write: only the last job's counts. The 100 ms pauses between job starts overlap the first
// write. The worker notices the last job's end at its next poll, at most 300 ms later.
// Left out of the floor: the register accesses themselves and the emulated bridge's transfer
// time (1 us a byte: about 0.23 s for a 64 KiB image's blank check, writes and read-back).
//
// Other processes on the machine stretch the busy waits; run it alone, or under a real-time
// policy (chrt -f 10), for a steady figure.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/program_entry.h"
#include "console/update_job.h"
#include "emulator/chip_catalogue.h"
#include "flash/flash_part_table.h"
#include "framework/memory/memory_window_system.h"
#include "framework/platform.h"
#include "framework/services.h"
#include "framework/window_system.h"
#include "res/dialog_templates.h"
#include "tests/support/temp_folder.h"
#include "util/exit_status.h"
#include "util/utility.h"

#ifdef VLM_DEMO_FOLDER

namespace {

namespace fs = std::filesystem;

constexpr double kAfterEraseWaitMs = 1000;
constexpr double kJobPauseMs = 500;  // each of the job's two pauses
constexpr double kPollMs = 300;
constexpr double kUsPerMs = 1000;
constexpr const char* kMachineFile = "emulated-pc.conf";

// The least time one controller's write holds the write lock: erase, the wait after it, the
// program commands' busy times for an image of that length, and the first pause. The busy times
// are the emulated chip's (the emulator's catalogue), the page size the updater's.
double LockedFloorMs(const std::string& name, uint32_t imageLength) {
    const flash::FlashPartInfo& part =
        flash::g_FlashParts[static_cast<std::size_t>(flash::FindFlashPartByName(name.c_str()))];
    const flash::FlashPartTraits traits = flash::TraitsOf(part);
    const vlmio::emu::ChipDatasheet& chip = *vlmio::emu::FindChip(name);
    const uint32_t section = part.ucSectionUnits * flash::kSectionUnitBytes;
    uint64_t written = 0;
    for (uint32_t offset = 0; offset < imageLength; offset += section)
        written += std::min(section, imageLength);
    double busyUs = chip.ChipEraseUs();
    if (traits.bAaiProgram) {
        busyUs += static_cast<double>(written) * chip.aaiByteUs;
    } else {
        const uint16_t page = traits.usPageSize;
        busyUs += static_cast<double>((written + page - 1) / page) * chip.pageProgramUs +
                  static_cast<double>(written) * chip.perByteUs;
    }
    return busyUs / kUsPerMs + kAfterEraseWaitMs + kJobPauseMs;
}

// The floor of a run over the machine file's controllers (their part names).
double RunFloorMs(const std::vector<std::string>& parts, uint32_t imageLength) {
    double ms = kJobPauseMs + kPollMs;
    for (const std::string& part : parts) ms += LockedFloorMs(part, imageLength);
    return ms;
}

// The part names of the machine file's controller lines, in order; empty when one of them is
// not both a row of the updater's table and a chip of the emulator's catalogue.
std::vector<std::string> PartNames(const fs::path& machineFile) {
    std::vector<std::string> parts;
    std::ifstream in(machineFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word != "controller") continue;
        while (words >> word) {
            if (word.rfind("part=", 0) != 0) continue;
            const std::string name = word.substr(5);
            if (flash::FindFlashPartByName(name.c_str()) < 0 ||
                vlmio::emu::FindChip(name) == nullptr)
                return {};
            parts.push_back(name);
        }
    }
    return parts;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) * 1000.0 + static_cast<double>(tv.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Puts the process-wide state a run leaves behind back as a fresh process has it.
void ResetRunState() {
    ResetExitStatus();
    framework::ResetQuitRequest();
    g_Utility.ClearControllers();
    g_Utility.m_bAllUpdated.store(0);
    for (UpdateJob& job : g_UpdateJobs) job.ucStatus.store(kJobRunning);
}

void BM_DemonstrationRun(benchmark::State& state) {
    testsupport::TempFolder folder;
    const fs::path demo = VLM_DEMO_FOLDER;
    std::error_code ec;
    for (const char* name : {"libvlmio.so", kMachineFile, "VLM270_Option_ROM.rom"})
        fs::copy_file(demo / name, folder / name, ec);
    chmod(folder.path().c_str(), 0755);
    const std::vector<std::string> parts = PartNames(folder / kMachineFile);
    const auto imageLength =
        static_cast<uint32_t>(fs::file_size(folder / "VLM270_Option_ROM.rom", ec));
    if (!folder.ok() || ec || parts.empty()) {
        state.SkipWithError("the demonstration folder is not built");
        return;
    }
    // The services the Linux program runs on, with in-memory windows for its silent run.
    framework::MemoryWindowSystem windows;
    framework::Services services;
    services.resources = &res::Resources();
    services.windowSystem = &windows;
    services.messageBoxes = [&windows](const framework::MessageBoxRequest& request) {
        return windows.ShowMessageBox(request);
    };
    framework::ScopedServices installed(std::move(services));
    g_Utility.SetModulePath(folder / "vlm270fwupdate");

    double runMs = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        for (const auto& entry : fs::directory_iterator(folder.path()))
            if (entry.path().filename().string().rfind("flash-", 0) == 0) fs::remove(entry.path());
        ResetRunState();
        const double cpuStart = ProcessCpuMs();
        const auto start = std::chrono::steady_clock::now();
        const int status = RunVlm270FWUpdate("/s");
        runMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
        cpuMs += ProcessCpuMs() - cpuStart;
        if (status != 0) {
            state.SkipWithError("the run did not update every controller");
            break;
        }
    }
    g_Utility.SetModulePath(framework::ModulePath());
    ResetRunState();
    const auto n = static_cast<double>(state.iterations());
    const double floorMs = RunFloorMs(parts, imageLength);
    state.counters["run_ms"] = runMs / n;
    state.counters["floor_ms"] = floorMs;
    state.counters["over_floor"] = runMs / n / floorMs;
    state.counters["cpu_ms"] = cpuMs / n;
}
BENCHMARK(BM_DemonstrationRun)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

#endif  // VLM_DEMO_FOLDER
