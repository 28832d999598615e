#include "util/option_rom.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace optionrom {
namespace {

constexpr uint8_t kErased = 0xFF;
constexpr uint32_t kKiB = 1024;

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// printf into a string.
template <typename... Args>
std::string Format(const char* pszFormat, Args... args) {
    char text[256] = {};
    std::snprintf(text, sizeof text, pszFormat, args...);
    return text;
}

// "image 2 at 0x8000": how a problem names the image it is in.
std::string Where(std::size_t index, std::size_t offset) {
    return Format("image %zu at 0x%zx", index + 1, offset);
}

RomCheck Refused(RomCheck rom, std::string strProblem) {
    rom.bWellFormed = false;
    rom.strProblem = std::move(strProblem);
    return rom;
}

// Reads one image's PCI data structure into image; empty when it is sound, else the problem.
std::string ReadPcir(const uint8_t* pBytes, std::size_t length, std::size_t index,
                     std::size_t offset, RomImage& image) {
    const std::size_t pcir = offset + Word(pBytes + offset + kPcirPointerOffset);
    const std::string where = Where(index, offset);
    if (pcir + kPcirMinimumBytes > length) {
        return where + Format(
                           ": its PCI data structure (%zu bytes at 0x%zx) runs past the end "
                           "of the ROM (%zu bytes)",
                           kPcirMinimumBytes, pcir, length);
    }
    if (std::memcmp(pBytes + pcir, kPcirSignature, sizeof kPcirSignature) != 0) {
        return where + Format(": no PCI data structure at 0x%zx (no \"PCIR\" there)", pcir);
    }
    const std::size_t pcirLength = Word(pBytes + pcir + kPcirLengthOffset);
    if (pcirLength < kPcirMinimumBytes) {
        return where +
               Format(": its PCI data structure gives its length as %zu bytes, less than %zu",
                      pcirLength, kPcirMinimumBytes);
    }
    if (pcir + pcirLength > length) {
        return where + Format(
                           ": its PCI data structure (%zu bytes at 0x%zx) runs past the end "
                           "of the ROM (%zu bytes)",
                           pcirLength, pcir, length);
    }
    const uint8_t* p = pBytes + pcir;
    image.usVendorId = Word(p + kPcirVendorOffset);
    image.usDeviceId = Word(p + kPcirDeviceOffset);
    image.ucPcirRevision = p[kPcirRevisionOffset];
    image.dwClassCode = static_cast<uint32_t>(p[kPcirClassCodeOffset]) |
                        (static_cast<uint32_t>(p[kPcirClassCodeOffset + 1]) << 8) |
                        (static_cast<uint32_t>(p[kPcirClassCodeOffset + 2]) << 16);
    image.dwLength = static_cast<uint32_t>(Word(p + kPcirImageLengthOffset)) * kBlockBytes;
    image.usCodeRevision = Word(p + kPcirCodeRevisionOffset);
    image.ucCodeType = p[kPcirCodeTypeOffset];
    image.bLast = (p[kPcirIndicatorOffset] & kIndicatorLastImage) != 0;

    if (image.dwLength == 0) return where + ": its PCI data structure gives its length as 0";
    const std::size_t end = offset + image.dwLength;
    if (end > length) {
        return where + Format(": its length (%u bytes) runs past the end of the ROM (%zu bytes)",
                              static_cast<unsigned>(image.dwLength), length);
    }
    if (pcir + pcirLength > end) {
        return where +
               Format(": its PCI data structure at 0x%zx lies outside its length (%u bytes)", pcir,
                      static_cast<unsigned>(image.dwLength));
    }

    const std::size_t listPointer = Word(p + kPcirDeviceListOffset);
    if (image.ucPcirRevision >= kPcirRevisionWithDeviceList && listPointer != 0) {
        // Device identifiers, a word each, up to a zero word, all inside the image.
        std::size_t at = pcir + listPointer;
        for (;;) {
            if (at + 2 > end) {
                return where + Format(
                                   ": its device list at 0x%zx runs past the end of the image "
                                   "(no zero word ends it)",
                                   pcir + listPointer);
            }
            const uint16_t id = Word(pBytes + at);
            if (id == 0) break;
            image.deviceList.push_back(id);
            at += 2;
        }
    }

    if (image.ucCodeType == kCodeTypeX86) {
        const std::string x86 = Where(index, offset) + " (x86)";
        if (image.dwHeaderSize == 0) return x86 + ": its header gives its size as 0 blocks";
        if (image.dwHeaderSize > image.dwLength) {
            return x86 + Format(
                             ": its header gives its size as %u bytes, more than its length "
                             "(%u bytes)",
                             static_cast<unsigned>(image.dwHeaderSize),
                             static_cast<unsigned>(image.dwLength));
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i < image.dwHeaderSize; ++i) sum += pBytes[offset + i];
        if ((sum & 0xFF) != 0) {
            return x86 + Format(": its bytes sum to 0x%02x, not 0 (a wrong checksum)", sum & 0xFF);
        }
    }
    return {};
}

}  // namespace

RomCheck ReadOptionRom(const uint8_t* pBytes, std::size_t length) {
    RomCheck rom;
    if (pBytes == nullptr) length = 0;
    std::size_t offset = 0;
    for (std::size_t index = 0;; ++index) {
        const bool signature = offset + 2 <= length && pBytes[offset] == kSignature0 &&
                               pBytes[offset + 1] == kSignature1;
        if (!signature) {
            if (index == 0) {
                return Refused(std::move(rom), "it does not start with the signature 55 aa");
            }
            return Refused(std::move(rom),
                           Where(index, offset) + " does not start with the signature 55 aa");
        }
        if (offset + kHeaderBytes > length) {
            return Refused(std::move(rom),
                           Where(index, offset) +
                               Format(": its header (%zu bytes) runs past the end of the ROM "
                                      "(%zu bytes)",
                                      kHeaderBytes, length));
        }
        RomImage image;
        image.dwOffset = static_cast<uint32_t>(offset);
        image.dwHeaderSize =
            static_cast<uint32_t>(pBytes[offset + kHeaderSizeOffset]) * kBlockBytes;
        std::string problem = ReadPcir(pBytes, length, index, offset, image);
        if (!problem.empty()) return Refused(std::move(rom), std::move(problem));
        rom.images.push_back(image);
        if (image.bLast) break;
        offset += image.dwLength;
        if (offset >= length) {
            return Refused(std::move(rom),
                           "the chain has no last image: " + Where(index, image.dwOffset) +
                               " is not marked last, and the ROM ends after it");
        }
    }
    rom.bWellFormed = true;
    return rom;
}

bool NamesDevice(const RomCheck& rom, uint16_t usVendorId, uint16_t usDeviceId) {
    return std::any_of(rom.images.begin(), rom.images.end(), [&](const RomImage& image) {
        if (image.usVendorId != usVendorId) return false;
        return image.usDeviceId == usDeviceId ||
               std::find(image.deviceList.begin(), image.deviceList.end(), usDeviceId) !=
                   image.deviceList.end();
    });
}

std::string PciIdText(uint16_t usVendorId, uint16_t usDeviceId) {
    return Format("%04x:%04x", static_cast<unsigned>(usVendorId),
                  static_cast<unsigned>(usDeviceId));
}

std::string DevicesNamedText(const RomCheck& rom) {
    std::vector<std::string> named;
    auto add = [&](uint16_t vendor, uint16_t device) {
        const std::string id = PciIdText(vendor, device);
        if (std::find(named.begin(), named.end(), id) == named.end()) named.push_back(id);
    };
    for (const RomImage& image : rom.images) {
        add(image.usVendorId, image.usDeviceId);
        for (uint16_t device : image.deviceList) add(image.usVendorId, device);
    }
    std::string text;
    for (const std::string& id : named) text += (text.empty() ? "" : ", ") + id;
    return text;
}

std::string WrongDeviceText(const RomCheck& rom, uint16_t usVendorId, uint16_t usDeviceId) {
    if (NamesDevice(rom, usVendorId, usDeviceId)) return {};
    return "the image is for " + DevicesNamedText(rom) + ", this controller is " +
           PciIdText(usVendorId, usDeviceId);
}

std::string CodeTypeName(uint8_t ucCodeType) {
    switch (ucCodeType) {
        case kCodeTypeX86:
            return "x86";
        case kCodeTypeOpenFirmware:
            return "Open Firmware";
        case kCodeTypePaRisc:
            return "PA-RISC";
        case kCodeTypeEfi:
            return "EFI";
        default:
            return Format("type 0x%02x", static_cast<unsigned>(ucCodeType));
    }
}

std::string ImageText(const RomImage& image) {
    std::string size = image.dwLength % kKiB == 0 ? std::to_string(image.dwLength / kKiB) + " KiB"
                                                  : std::to_string(image.dwLength) + " bytes";
    return PciIdText(image.usVendorId, image.usDeviceId) + " " + CodeTypeName(image.ucCodeType) +
           Format(", revision 0x%04x, ", static_cast<unsigned>(image.usCodeRevision)) + size;
}

FlashContents ClassifyFlash(const uint8_t* pBytes, std::size_t length) {
    FlashContents contents;
    const bool blank = pBytes != nullptr && length > 0 &&
                       std::all_of(pBytes, pBytes + length, [](uint8_t b) { return b == kErased; });
    if (blank) {
        contents.kind = ContentsKind::kBlank;
        return contents;
    }
    contents.rom = ReadOptionRom(pBytes, length);
    contents.kind =
        contents.rom.bWellFormed ? ContentsKind::kOptionRom : ContentsKind::kNotOptionRom;
    return contents;
}

const char* ContentsKindName(ContentsKind kind) {
    switch (kind) {
        case ContentsKind::kOptionRom:
            return "option-rom";
        case ContentsKind::kBlank:
            return "blank";
        case ContentsKind::kNotOptionRom:
            return "not-option-rom";
    }
    return "not-option-rom";
}

std::string ContentsText(const FlashContents& contents) {
    switch (contents.kind) {
        case ContentsKind::kBlank:
            return "blank";
        case ContentsKind::kOptionRom: {
            std::string text = "option ROM";
            for (std::size_t i = 0; i < contents.rom.images.size(); ++i) {
                text += (i == 0 ? " " : " + ") + ImageText(contents.rom.images[i]);
            }
            return text;
        }
        case ContentsKind::kNotOptionRom:
            break;
    }
    return "not an option ROM (" + contents.rom.strProblem + ")";
}

}  // namespace optionrom
