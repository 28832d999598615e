// Controller discovery: the walk of PCI configuration space (CInterctl::ScanControllers).
#pragma once

#include <cstdint>

// The part of configuration space the walk covers: every function of every device on these
// buses, whether present or not.
inline constexpr uint32_t kScanBusCount = 16;
inline constexpr uint32_t kScanDeviceCount = 32;
inline constexpr uint32_t kScanFunctionCount = 8;
