// The read-only probe: the controllers as the update finds them, their flash parts, and the 270X
// functions that the update would leave out. Reads identifier words and identification answers
// only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "pci/vlmio_access.h"
#include "util/controller_info.h"

namespace admin {

// The buses the separate scan covers: all of them.
inline constexpr uint32_t kAllBusCount = 256;
// The common identification command, asked of a part that no row of the table matched.
inline constexpr uint8_t kCommonIdOpcode = 0x9F;

// One 270X function found by its identifier word.
struct FoundFunction {
    ControllerAddress address;
    uint8_t ucIdRow = 0;  // the identifier row it matched
    bool operator==(const FoundFunction&) const = default;
};

// Every 270X function on every bus, device and function, in the walk's order (identifier row,
// then bus, device, function). One identifier read per function; nothing else is touched.
std::vector<FoundFunction> ScanAllBuses(pci::IVlmIo& io);

struct ProbedController {
    ControllerInfo record{};           // address and identifier row; names once identified
    flash::FlashPartInfo part{};       // the part found, or the all-0xFF row
    uint8_t ucIdOpcode = 0;            // the identification command whose answer idBytes holds
    std::array<uint8_t, 3> idBytes{};  // that answer, first byte received first
    bool bIdRead = false;              // false when the bridge did not answer it
};

struct ProbeResult {
    bool bFound = false;                        // the walk found at least one controller
    std::vector<ProbedController> controllers;  // as the update finds them (at most four)
    // 270X functions the update leaves out: beyond the first four, or on buses the walk does not
    // cover.
    std::vector<FoundFunction> leftOut;
};

// The controller walk of the update (over the engine's controller table), then each flash part
// identified as the update identifies it, its identification answer read once more to be
// shown, and the separate scan of all buses for what the walk leaves out.
ProbeResult ProbeControllers(flash::CInterctl& engine, flash::CSPICtl& spi, uint8_t& rucCount,
                             ControllerInfo (&controllers)[kMaxControllers]);

// Whether the update's walk covers a function on that bus.
bool WalkCovers(const ControllerAddress& address);

}  // namespace admin
