// The identifiers the seven 270X family members show in configuration space, as the emulated PC
// gives them (member=1 to 7). The emulator keeps its own copy; a test checks that it agrees with
// the identifiers the updater searches for.
#pragma once

#include <array>
#include <cstdint>

namespace vlmio::emu {

inline constexpr uint16_t kMemberVendorId = 0x1F7C;
// Device identifiers of members 1 to 7.
inline constexpr std::array<uint16_t, 7> kMemberDeviceIds = {0x2700, 0x2701, 0x2702, 0x2703,
                                                             0x2704, 0x2705, 0x2706};

// The identifier word at configuration offset 0x00 of member (1-7): device identifier in the
// high half, vendor identifier in the low half.
constexpr uint32_t MemberIdWord(std::size_t member) {
    return (uint32_t{kMemberDeviceIds[member - 1]} << 16) | kMemberVendorId;
}

}  // namespace vlmio::emu
