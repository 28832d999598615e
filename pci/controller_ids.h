// The identifiers of the 270X family members, as PCI configuration space shows them.
#pragma once

#include <array>
#include <cstdint>

struct ControllerId {
    uint16_t usVendorId;  // PCI vendor identifier
    uint32_t dwDeviceId;  // PCI device identifier (low 16 bits used)
};

inline constexpr std::size_t kControllerIdCount = 7;

// Searched in row order by the controller scan.
extern const std::array<ControllerId, kControllerIdCount> g_ControllerIds;

// The identifier word at configuration offset 0x00 for a row: device id in the high half,
// vendor id in the low half.
constexpr uint32_t ControllerIdKey(const ControllerId& id) {
    return ((id.dwDeviceId & 0xFFFFu) << 16) | id.usVendorId;
}
