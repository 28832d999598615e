// Makes PCI option ROMs for the demonstration and the tests: one image or a chain (x86, EFI),
// naming a device directly or in a device list, and the ill-formed ones the check refuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace romtools {

inline constexpr uint8_t kCodeTypeX86 = 0x00;
inline constexpr uint8_t kCodeTypeEfi = 0x03;

struct ImageSpec {
    uint16_t usVendorId = 0;
    uint16_t usDeviceId = 0;
    std::vector<uint16_t> deviceList;  // written when not empty (structure revision 3)
    uint8_t ucCodeType = kCodeTypeX86;
    uint16_t usCodeRevision = 0x0100;
    uint32_t dwBytes = 0x10000;  // a multiple of 512
    uint32_t dwSeed = 0;         // varies the filling
};

// The images one after another, the last one marked last; each x86 image's bytes sum to zero.
std::vector<uint8_t> BuildOptionRom(const std::vector<ImageSpec>& chain);

// The image of the whole 270X family: the first member's identifiers, the other six in its
// device list.
ImageSpec FamilyImage(uint32_t dwBytes = 0x10000, uint32_t dwSeed = 0);

// The kinds of sample the sample maker writes, each with what it is.
struct SampleKind {
    const char* pszName;
    const char* pszDescription;
};
const std::vector<SampleKind>& SampleKinds();

// The sample of that kind; false for a name that is no kind.
bool MakeSample(const std::string& strKind, std::vector<uint8_t>& bytes);

}  // namespace romtools
