// One discovered 270X controller function and the size of the controller table.
#pragma once

#include <cstdint>
#include <string>

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
    // Row of the 270X identifier table that the function matched (0 for the first row).
    uint8_t ucIdRow;
};

// A controller function's place in PCI configuration space.
struct ControllerAddress {
    uint8_t ucBus = 0;
    uint8_t ucDevice = 0;
    uint8_t ucFunction = 0;
    bool operator==(const ControllerAddress&) const = default;
};

// Where a controller function sits, as lspci prints it: "0000:02:00.0" (hexadecimal, domain 0).
std::string ControllerAddressText(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction);
inline std::string ControllerAddressText(const ControllerInfo& record) {
    return ControllerAddressText(record.ucBus, record.ucDevice, record.ucFunction);
}
// The flash part as the main window labels it: "MXIC:[MX25L(V)512(C)]".
inline std::string FlashPartText(const ControllerInfo& record) {
    return std::string(record.szVendor) + ":[" + record.szPartName + "]";
}
inline std::string ControllerAddressText(const ControllerAddress& address) {
    return ControllerAddressText(address.ucBus, address.ucDevice, address.ucFunction);
}
inline bool IsAt(const ControllerInfo& record, const ControllerAddress& address) {
    return record.ucBus == address.ucBus && record.ucDevice == address.ucDevice &&
           record.ucFunction == address.ucFunction;
}
