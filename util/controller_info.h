// One discovered 270X controller function and the size of the controller table.
#pragma once

#include <cstdint>

inline constexpr uint8_t kMaxControllers = 4;

struct ControllerInfo {
    uint8_t ucBus;         // 0-15
    uint8_t ucDevice;      // 0-31
    uint8_t ucFunction;    // 0-7
    char szVendor[255];    // flash maker, copied from the identified part row; empty until then
    char szPartName[255];  // flash part, likewise
    // Page-program size of this controller's flash, set by its identification (0 until then).
    // Kept per controller so that another controller's identification never changes it.
    uint16_t usPageSize;
};
