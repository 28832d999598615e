// The machine file of the emulated PC, parsed into a description of its PCI functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/flash_chip_model.h"

namespace vlmio::emu {

// A PCI function's address.
struct PciAddress {
    uint8_t bus = 0;
    uint8_t device = 0;
    uint8_t function = 0;
};

// Faults of the bridge, as a controller line gives them (those of the chip go into ChipConfig).
struct BridgeFaults {
    bool stuckBusy = false;
    uint32_t flakyReadEvery = 0;          // 0: none
    uint32_t slowUs = 0;                  // 0: none
    std::optional<uint64_t> unplugAfter;  // accesses before the function disappears
};

// One `controller` line.
struct ControllerItem {
    PciAddress address;
    uint32_t idWord = 0;                   // configuration offset 0x00
    std::optional<ChipConfig> chip;        // none: part=none
    std::string flashPath;                 // resolved; empty: no flash= file
    std::vector<uint8_t> initialContents;  // the whole array at power-up
    bool instantTiming = false;
    BridgeFaults faults;
    int line = 0;
};

// One `device` line: another PCI function that shows only its identifier.
struct DeviceItem {
    PciAddress address;
    uint32_t idWord = 0;
    int line = 0;
};

struct MachineDescription {
    std::vector<ControllerItem> controllers;
    std::vector<DeviceItem> devices;
};

// Parses a machine file's text. Relative flash= paths are taken from baseDir (empty: as given);
// flash= files are read here. On the first bad line returns false with *error set to
// "FILE:LINE: what is wrong", where FILE is fileName.
bool ParseMachineText(const std::string& text, const std::string& fileName,
                      const std::string& baseDir, MachineDescription* machine, std::string* error);

// The pattern a chip holds when its flash= file does not exist yet: an option-ROM header
// followed by a repeated text, recognisably old firmware.
std::vector<uint8_t> OldFirmwarePattern(std::size_t size);

}  // namespace vlmio::emu
