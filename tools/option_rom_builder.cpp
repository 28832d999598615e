#include "tools/option_rom_builder.h"

#include <algorithm>
#include <cstring>

#include "pci/controller_ids.h"

namespace romtools {
namespace {

constexpr uint32_t kBlockBytes = 512;
constexpr uint32_t kMaxHeaderBlocks = 0xFF;
constexpr std::size_t kPcirPointerOffset = 0x18;
constexpr std::size_t kPcirOffset = 0x40;
constexpr std::size_t kPcirBytes = 0x1C;  // the structure of revision 3
constexpr std::size_t kDeviceListOffset = kPcirOffset + kPcirBytes;
constexpr std::size_t kTextOffset = 0x80;
constexpr std::size_t kFillOffset = 0x200;
constexpr uint8_t kPcirRevision = 3;
constexpr uint8_t kLastImage = 0x80;
constexpr uint8_t kFarReturn = 0xCB;
constexpr uint32_t kMassStorageIde = 0x010185;  // base class, subclass, programming interface
// The EFI image header's fields.
constexpr uint32_t kEfiSignature = 0x0EF1;
constexpr uint16_t kEfiBootServiceDriver = 0x000B;
constexpr uint16_t kEfiMachineX64 = 0x8664;
constexpr std::size_t kEfiImageOffset = 0x100;
constexpr std::size_t kTruncatedPcirBytes = kPcirOffset + 0x10;

constexpr const char kDemoText[] =
    "Velmora 270X option ROM - demonstration image for the emulated PC. "
    "Not firmware: never write it to a real controller.";
constexpr const char kNotARom[] = "This is not a ROM file.";

void Put16(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// One image at offset at of rom, marked last when last is set.
void PutImage(std::vector<uint8_t>& rom, std::size_t at, const ImageSpec& wanted, bool last) {
    std::vector<uint8_t> image(wanted.dwBytes, 0);
    // A filling without runs of erased bytes, so a misplaced or missing byte shows.
    for (std::size_t i = kFillOffset; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>((i * 31 + (i >> 8) * 7 + wanted.dwSeed) % 251);
    }
    const uint32_t blocks = wanted.dwBytes / kBlockBytes;
    const uint32_t headerBlocks = std::min(blocks, kMaxHeaderBlocks);
    image[0] = 0x55;
    image[1] = 0xAA;
    image[2] = static_cast<uint8_t>(headerBlocks);
    if (wanted.ucCodeType == kCodeTypeEfi) {
        Put32(image, 0x04, kEfiSignature);
        Put16(image, 0x08, kEfiBootServiceDriver);
        Put16(image, 0x0A, kEfiMachineX64);
        Put16(image, 0x16, kEfiImageOffset);
    } else {
        image[3] = kFarReturn;  // initialisation entry: return at once
    }
    Put16(image, kPcirPointerOffset, kPcirOffset);

    std::memcpy(&image[kPcirOffset], "PCIR", 4);
    Put16(image, kPcirOffset + 0x04, wanted.usVendorId);
    Put16(image, kPcirOffset + 0x06, wanted.usDeviceId);
    Put16(image, kPcirOffset + 0x08, wanted.deviceList.empty() ? 0 : kPcirBytes);
    Put16(image, kPcirOffset + 0x0A, kPcirBytes);
    image[kPcirOffset + 0x0C] = kPcirRevision;
    image[kPcirOffset + 0x0D] = static_cast<uint8_t>(kMassStorageIde & 0xFF);
    image[kPcirOffset + 0x0E] = static_cast<uint8_t>((kMassStorageIde >> 8) & 0xFF);
    image[kPcirOffset + 0x0F] = static_cast<uint8_t>(kMassStorageIde >> 16);
    Put16(image, kPcirOffset + 0x10, blocks);
    Put16(image, kPcirOffset + 0x12, wanted.usCodeRevision);
    image[kPcirOffset + 0x14] = wanted.ucCodeType;
    image[kPcirOffset + 0x15] = last ? kLastImage : 0;
    std::size_t list = kDeviceListOffset;
    for (uint16_t device : wanted.deviceList) {
        Put16(image, list, device);
        list += 2;
    }
    Put16(image, list, 0);  // the list's end (and the byte after the structure)
    std::memcpy(&image[kTextOffset], kDemoText, sizeof kDemoText);

    if (wanted.ucCodeType == kCodeTypeX86) {
        // Checksum: the bytes of the header's size sum to zero.
        const std::size_t sumBytes = headerBlocks * kBlockBytes;
        image[sumBytes - 1] = 0;
        unsigned sum = 0;
        for (std::size_t i = 0; i < sumBytes; ++i) sum += image[i];
        image[sumBytes - 1] = static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
    }
    std::copy(image.begin(), image.end(), rom.begin() + static_cast<std::ptrdiff_t>(at));
}

ImageSpec ForMember(std::size_t member) {
    ImageSpec wanted;
    wanted.usVendorId = g_ControllerIds[member].usVendorId;
    wanted.usDeviceId = static_cast<uint16_t>(g_ControllerIds[member].dwDeviceId);
    return wanted;
}

const std::vector<SampleKind> kKinds = {
    {"demo", "64 KiB x86 image for the whole 270X family (the demonstration's image)"},
    {"other-device", "64 KiB x86 image for the fourth 270X member only"},
    {"device-list", "64 KiB x86 image for the fourth member, naming the first two in its list"},
    {"chain", "32 KiB x86 image and 32 KiB EFI image, both for the whole family"},
    {"bad-checksum", "the demonstration's image with one byte changed"},
    {"truncated-pcir", "the demonstration's image cut inside its PCI data structure"},
    {"text", "a 23-byte text file"},
};

}  // namespace

std::vector<uint8_t> BuildOptionRom(const std::vector<ImageSpec>& chain) {
    std::size_t total = 0;
    for (const ImageSpec& wanted : chain) total += wanted.dwBytes;
    std::vector<uint8_t> rom(total, 0);
    std::size_t at = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        PutImage(rom, at, chain[i], i + 1 == chain.size());
        at += chain[i].dwBytes;
    }
    return rom;
}

ImageSpec FamilyImage(uint32_t dwBytes, uint32_t dwSeed) {
    ImageSpec wanted = ForMember(0);
    for (std::size_t member = 1; member < g_ControllerIds.size(); ++member) {
        wanted.deviceList.push_back(static_cast<uint16_t>(g_ControllerIds[member].dwDeviceId));
    }
    wanted.dwBytes = dwBytes;
    wanted.dwSeed = dwSeed;
    return wanted;
}

const std::vector<SampleKind>& SampleKinds() {
    return kKinds;
}

bool MakeSample(const std::string& strKind, std::vector<uint8_t>& bytes) {
    constexpr std::size_t kFourthMember = 3;
    constexpr uint32_t kHalf = 0x8000;
    if (strKind == "demo") {
        bytes = BuildOptionRom({FamilyImage()});
    } else if (strKind == "other-device") {
        bytes = BuildOptionRom({ForMember(kFourthMember)});
    } else if (strKind == "device-list") {
        ImageSpec wanted = ForMember(kFourthMember);
        wanted.deviceList = {static_cast<uint16_t>(g_ControllerIds[0].dwDeviceId),
                             static_cast<uint16_t>(g_ControllerIds[1].dwDeviceId)};
        bytes = BuildOptionRom({wanted});
    } else if (strKind == "chain") {
        ImageSpec efi = FamilyImage(kHalf, 1);
        efi.ucCodeType = kCodeTypeEfi;
        bytes = BuildOptionRom({FamilyImage(kHalf), efi});
    } else if (strKind == "bad-checksum") {
        bytes = BuildOptionRom({FamilyImage()});
        bytes[kTextOffset] ^= 0x01;
    } else if (strKind == "truncated-pcir") {
        bytes = BuildOptionRom({FamilyImage()});
        bytes.resize(kTruncatedPcirBytes);
    } else if (strKind == "text") {
        bytes.assign(kNotARom, kNotARom + sizeof kNotARom - 1);
    } else {
        return false;
    }
    return true;
}

}  // namespace romtools
