// The emulated PC as the tests and benchmarks build it: a machine from machine-file text with its
// access library, and, for the engine's tests, the SPI layer and the update engine on top as the
// program builds them. No test framework is needed: a refused machine file is reported by Ok()
// and Error().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_pc.h"
#include "emulator/emulator_vlmio.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "tests/support/test_clocks.h"
#include "util/utility.h"

namespace testsupport {

// A folder that does not exist: flash= files named relative to it can be neither read nor kept.
inline constexpr const char* kNoFolder = "/nonexistent";

// An emulated PC from machine-file text, its flash= files in that folder; null, with the reason
// ("FILE:LINE: what is wrong") in error, when the text is refused.
inline std::unique_ptr<vlmio::emu::EmulatedPc> MakeEmulatedPc(const std::string& machine,
                                                              framework::Clock& clock,
                                                              const std::string& folder,
                                                              std::string& error) {
    return vlmio::emu::EmulatedPc::FromText(machine, "machine.conf", folder, clock, &error);
}

// An emulated PC and its access library (the driver not loaded yet), on the caller's clock.
class EmulatedMachine {
private:
    std::string m_error;  // first: the machine below is read into it

public:
    EmulatedMachine(const std::string& machine, framework::Clock& clock,
                    const std::string& folder = kNoFolder)
        : pc(MakeEmulatedPc(machine, clock, folder, m_error)) {
        if (pc) io = std::make_unique<vlmio::emu::EmulatorVlmIo>(*pc);
    }

    bool Ok() const { return pc != nullptr; }
    // Why the machine file was refused ("FILE:LINE: what is wrong").
    const std::string& Error() const { return m_error; }
    // The contents of that controller's flash; empty when it has none.
    std::vector<uint8_t> Flash(uint32_t bus, uint32_t device, uint32_t function) const {
        const vlmio::emu::FlashChip* chip = pc ? pc->Chip(bus, device, function) : nullptr;
        return chip != nullptr ? chip->Contents() : std::vector<uint8_t>{};
    }
    uint64_t Accesses() const { return pc ? pc->AccessCount() : 0; }
    // The host's misuse of bridges and chips so far, one line each ("BB:DD.F access N: KIND:
    // what").
    std::vector<std::string> Violations() const {
        std::vector<std::string> lines;
        if (pc) {
            for (const vlmio::emu::Violation& v : pc->Violations())
                lines.push_back(vlmio::emu::FormatViolation(v));
        }
        return lines;
    }

    std::unique_ptr<vlmio::emu::EmulatedPc> pc;
    std::unique_ptr<vlmio::emu::EmulatorVlmIo> io;
};

// The machine with its driver loaded, the SPI layer and the update engine, on a virtual clock.
class EngineRig {
public:
    explicit EngineRig(const std::string& machineText) : machine(machineText, clock) {
        if (!machine.Ok()) return;
        machine.io->LoadVlmIODriver();
        spi = std::make_unique<flash::CSPICtl>(machine.io.get(), &clock);
        engine = std::make_unique<flash::CInterctl>(count, records, *spi);
    }

    bool Ok() const { return engine != nullptr; }
    // The contents of the flash of the controller found at that index.
    std::vector<uint8_t> Flash(int target = 0) const {
        const ControllerInfo& r = records[target];
        return machine.Flash(r.ucBus, r.ucDevice, r.ucFunction);
    }

    testsupport::VirtualClock clock;
    EmulatedMachine machine;
    std::unique_ptr<flash::CSPICtl> spi;
    uint8_t count = 0;
    ControllerInfo records[kMaxControllers] = {};
    std::unique_ptr<flash::CInterctl> engine;
};

}  // namespace testsupport
