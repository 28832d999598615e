// Reading a PCI option ROM: the images of its chain, what each says it is for, and whether the
// whole is well formed. Also what a flash's contents are (an option ROM, blank, or neither).
// Reads bytes only; nothing here touches a file or a controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace optionrom {

// The layout of an image's header and of its PCI data structure ("PCIR").
inline constexpr uint8_t kSignature0 = 0x55;
inline constexpr uint8_t kSignature1 = 0xAA;
inline constexpr std::size_t kHeaderSizeOffset = 0x02;  // the image's size in 512-byte blocks
inline constexpr std::size_t kPcirPointerOffset = 0x18;
inline constexpr std::size_t kHeaderBytes = 0x1A;  // up to and including the PCIR pointer
inline constexpr uint32_t kBlockBytes = 512;
inline constexpr char kPcirSignature[4] = {'P', 'C', 'I', 'R'};
inline constexpr std::size_t kPcirVendorOffset = 0x04;
inline constexpr std::size_t kPcirDeviceOffset = 0x06;
inline constexpr std::size_t kPcirDeviceListOffset = 0x08;  // from the structure's start
inline constexpr std::size_t kPcirLengthOffset = 0x0A;
inline constexpr std::size_t kPcirRevisionOffset = 0x0C;
inline constexpr std::size_t kPcirClassCodeOffset = 0x0D;  // programming interface first
inline constexpr std::size_t kPcirImageLengthOffset = 0x10;
inline constexpr std::size_t kPcirCodeRevisionOffset = 0x12;
inline constexpr std::size_t kPcirCodeTypeOffset = 0x14;
inline constexpr std::size_t kPcirIndicatorOffset = 0x15;
inline constexpr std::size_t kPcirMinimumBytes = 0x18;
inline constexpr uint8_t kIndicatorLastImage = 0x80;
// The structure revision from which the word at 0x08 points to a device list.
inline constexpr uint8_t kPcirRevisionWithDeviceList = 3;
inline constexpr uint8_t kCodeTypeX86 = 0x00;
inline constexpr uint8_t kCodeTypeOpenFirmware = 0x01;
inline constexpr uint8_t kCodeTypePaRisc = 0x02;
inline constexpr uint8_t kCodeTypeEfi = 0x03;

// One image of the chain as its header and PCI data structure describe it.
struct RomImage {
    uint32_t dwOffset = 0;      // where it starts in the ROM
    uint32_t dwLength = 0;      // its length (the PCI data structure's, in bytes)
    uint32_t dwHeaderSize = 0;  // the header's size (in bytes; an x86 image's checksum covers it)
    uint16_t usVendorId = 0;
    uint16_t usDeviceId = 0;
    std::vector<uint16_t> deviceList;  // more device identifiers it serves, same vendor
    uint32_t dwClassCode = 0;          // base class, subclass, programming interface: 0x010185
    uint8_t ucPcirRevision = 0;
    uint16_t usCodeRevision = 0;
    uint8_t ucCodeType = 0;
    bool bLast = false;
};

// A ROM as read: the images read in chain order, and whether the whole chain is well formed.
struct RomCheck {
    bool bWellFormed = false;
    std::string strProblem;        // why not, when not: one sentence without its full stop
    std::vector<RomImage> images;  // the images read (up to the first problem)
};

// Reads the chain from the start of the bytes: every image's signature, its PCI data structure
// inside the bytes, its length inside the bytes, the last-image flag reached, and an x86
// image's byte sum of zero. Bytes after the last image are not looked at.
RomCheck ReadOptionRom(const uint8_t* pBytes, std::size_t length);

// Whether an image of the ROM names that vendor with that device, directly or in its device
// list.
bool NamesDevice(const RomCheck& rom, uint16_t usVendorId, uint16_t usDeviceId);

// "vvvv:dddd" in lower-case hexadecimal, as lspci prints it.
std::string PciIdText(uint16_t usVendorId, uint16_t usDeviceId);

// Every vendor:device the ROM's images name, each once, in the order they appear:
// "1f7c:2700, 1f7c:2701".
std::string DevicesNamedText(const RomCheck& rom);

// Why an image is refused for a controller, or empty when one of its images names it:
// "the image is for 1f7c:2703, this controller is 1f7c:2700".
std::string WrongDeviceText(const RomCheck& rom, uint16_t usVendorId, uint16_t usDeviceId);

// "x86", "Open Firmware", "PA-RISC", "EFI", or "type 0x%02x".
std::string CodeTypeName(uint8_t ucCodeType);

// An image in words: "1f7c:2700 x86, revision 0x0100, 64 KiB".
std::string ImageText(const RomImage& image);

// What a flash holds.
enum class ContentsKind { kOptionRom, kBlank, kNotOptionRom };

struct FlashContents {
    ContentsKind kind = ContentsKind::kNotOptionRom;
    RomCheck rom;  // as read from the flash's bytes
};

// Classifies a flash's bytes: blank when every byte reads 0xFF, an option ROM when its chain is
// well formed, else not an option ROM (rom.strProblem says why).
FlashContents ClassifyFlash(const uint8_t* pBytes, std::size_t length);

// "option-rom", "blank", "not-option-rom".
const char* ContentsKindName(ContentsKind kind);

// The contents in words: "option ROM 1f7c:2700 x86, revision 0x0100, 64 KiB", "blank", or
// "not an option ROM (it does not start with the signature 55 aa)".
std::string ContentsText(const FlashContents& contents);

}  // namespace optionrom
