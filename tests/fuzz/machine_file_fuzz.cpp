// libFuzzer target for the emulated PC's machine-file parser: any text gives either a machine or
// one "FILE:LINE: what is wrong" error naming a line of the text, never a crash; and an emulated
// PC is built from exactly the texts that parse, never half of one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "emulator/emulated_pc.h"
#include "emulator/machine_file.h"
#include "framework/clock.h"

namespace {

// flash= files are named relative to this folder, which does not exist: the run reads and
// writes no file.
constexpr char kNoFolder[] = "/nonexistent-machine-file-fuzz";
constexpr char kFileName[] = "fuzz.conf";

// Time stands still: nothing here waits.
class StillClock final : public framework::Clock {
public:
    uint64_t NowUs() override { return 0; }
    void SleepUs(uint64_t) override {}
};

// "fuzz.conf:LINE: what", LINE a line of the text.
bool IsLineError(const std::string& error, const std::string& text) {
    const std::string prefix = std::string(kFileName) + ":";
    if (error.rfind(prefix, 0) != 0) return false;
    std::size_t at = prefix.size();
    uint64_t line = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 1000000000) {
        line = line * 10 + static_cast<uint64_t>(error[at++] - '0');
    }
    uint64_t lines = 1;
    for (char c : text) lines += c == '\n';
    return line >= 1 && line <= lines && error.compare(at, 2, ": ") == 0 && error.size() > at + 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Absolute flash= paths and ones that climb out of the folder would reach real files.
    if (text.find("flash=/") != std::string::npos || text.find("..") != std::string::npos) {
        return 0;
    }
    vlmio::emu::MachineDescription machine;
    std::string error;
    const bool parsed = vlmio::emu::ParseMachineText(text, kFileName, kNoFolder, &machine, &error);
    if (!parsed && !IsLineError(error, text)) std::abort();
    if (parsed) {
        for (const vlmio::emu::ControllerItem& c : machine.controllers) {
            if (c.chip && c.initialContents.size() != c.chip->datasheet.sizeBytes) std::abort();
        }
    }
    StillClock clock;
    std::string again;
    auto pc = vlmio::emu::EmulatedPc::FromText(text, kFileName, kNoFolder, clock, &again);
    if ((pc != nullptr) != parsed || (!parsed && again != error)) std::abort();
    if (pc && pc->ControllerCount() != machine.controllers.size()) std::abort();
    return 0;
}
