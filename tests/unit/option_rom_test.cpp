// Reading option ROMs: the chain, what each image names, and every way a ROM is refused, with
// its exact words; what a flash's contents are.
#include "util/option_rom.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pci/controller_ids.h"
#include "tools/option_rom_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using optionrom::ReadOptionRom;

constexpr std::size_t kPcir = 0x40;  // where the builder puts the PCI data structure

uint16_t Device(std::size_t member) {
    return static_cast<uint16_t>(g_ControllerIds[member].dwDeviceId);
}
uint16_t Vendor() {
    return g_ControllerIds[0].usVendorId;
}
std::string Id(std::size_t member) {
    return optionrom::PciIdText(Vendor(), Device(member));
}

Bytes Sample(const char* kind) {
    Bytes bytes;
    EXPECT_TRUE(romtools::MakeSample(kind, bytes)) << kind;
    return bytes;
}

// Makes the first image's bytes (over its header's size) sum to zero again after a change.
void Resum(Bytes& b) {
    const std::size_t size = b[2] * std::size_t{512};
    b[size - 1] = 0;
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += b[i];
    b[size - 1] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

Bytes Changed(Bytes b, const std::function<void(Bytes&)>& change) {
    change(b);
    return b;
}

TEST(OptionRom, WellFormedRomsAndWhatTheyName) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<std::size_t> named;  // the family members an image names
        std::vector<uint8_t> codeTypes;
    };
    const uint8_t x86 = optionrom::kCodeTypeX86;
    const uint8_t efi = optionrom::kCodeTypeEfi;
    Bytes trailing = Sample("demo");
    trailing.resize(0x20000, 0xFF);
    const Case cases[] = {
        {"the whole family", Sample("demo"), {0, 1, 2, 3, 4, 5, 6}, {x86}},
        {"another device", Sample("other-device"), {3}, {x86}},
        {"a device list", Sample("device-list"), {0, 1, 3}, {x86}},
        {"x86 and EFI", Sample("chain"), {0, 1, 2, 3, 4, 5, 6}, {x86, efi}},
        {"erased bytes after the last image", trailing, {0, 1, 2, 3, 4, 5, 6}, {x86}},
        // Before structure revision 3 the word at 0x08 is no device list.
        {"a device list in a revision 0 structure",
         Changed(Sample("device-list"),
                 [](Bytes& b) {
                     b[kPcir + optionrom::kPcirRevisionOffset] = 0;
                     Resum(b);
                 }),
         {3},
         {x86}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const optionrom::RomCheck rom = ReadOptionRom(c.bytes.data(), c.bytes.size());
        EXPECT_TRUE(rom.bWellFormed) << rom.strProblem;
        EXPECT_EQ(rom.strProblem, "");
        ASSERT_EQ(rom.images.size(), c.codeTypes.size());
        for (std::size_t i = 0; i < c.codeTypes.size(); ++i) {
            EXPECT_EQ(rom.images[i].ucCodeType, c.codeTypes[i]);
            EXPECT_EQ(rom.images[i].bLast, i + 1 == c.codeTypes.size());
            EXPECT_EQ(rom.images[i].dwClassCode, 0x010185u);
            EXPECT_EQ(rom.images[i].usCodeRevision, 0x0100);
        }
        for (std::size_t member = 0; member < g_ControllerIds.size(); ++member) {
            const bool named = std::find(c.named.begin(), c.named.end(), member) != c.named.end();
            EXPECT_EQ(optionrom::NamesDevice(rom, Vendor(), Device(member)), named) << member;
            EXPECT_EQ(optionrom::WrongDeviceText(rom, Vendor(), Device(member)).empty(), named);
        }
        EXPECT_FALSE(optionrom::NamesDevice(rom, static_cast<uint16_t>(Vendor() + 1), Device(0)));
    }
    const optionrom::RomCheck chain = ReadOptionRom(Sample("chain").data(), 0x10000);
    ASSERT_EQ(chain.images.size(), 2u);
    EXPECT_EQ(chain.images[1].dwOffset, 0x8000u);
    EXPECT_EQ(chain.images[1].dwLength, 0x8000u);
    EXPECT_EQ(chain.images[0].deviceList.size(), g_ControllerIds.size() - 1);
}

TEST(OptionRom, AnImageForAnotherDeviceNamesBoth) {
    const Bytes other = Sample("other-device");
    const optionrom::RomCheck rom = ReadOptionRom(other.data(), other.size());
    EXPECT_EQ(optionrom::WrongDeviceText(rom, Vendor(), Device(0)),
              "the image is for " + Id(3) + ", this controller is " + Id(0));
    const Bytes list = Sample("device-list");
    EXPECT_EQ(
        optionrom::WrongDeviceText(ReadOptionRom(list.data(), list.size()), Vendor(), Device(2)),
        "the image is for " + Id(3) + ", " + Id(0) + ", " + Id(1) + ", this controller is " +
            Id(2));
}

TEST(OptionRom, IllFormedRomsAreRefusedWithTheReason) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string problem;
    };
    const Bytes demo = Sample("demo");
    const Bytes chain = Sample("chain");
    const auto setPcir16 = [](std::size_t field, uint16_t value) {
        return [=](Bytes& b) {
            b[kPcir + field] = static_cast<uint8_t>(value);
            b[kPcir + field + 1] = static_cast<uint8_t>(value >> 8);
        };
    };
    const Case cases[] = {
        {"a text file", Sample("text"), "it does not start with the signature 55 aa"},
        {"nothing", {}, "it does not start with the signature 55 aa"},
        {"erased", Bytes(0x10000, 0xFF), "it does not start with the signature 55 aa"},
        {"a cut header", Bytes{0x55, 0xAA, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         "image 1 at 0x0: its header (26 bytes) runs past the end of the ROM (12 bytes)"},
        {"a truncated PCI data structure", Sample("truncated-pcir"),
         "image 1 at 0x0: its PCI data structure (24 bytes at 0x40) runs past the end of the ROM "
         "(80 bytes)"},
        {"a PCI data structure pointer past the end",
         Changed(demo,
                 [](Bytes& b) {
                     b[optionrom::kPcirPointerOffset] = 0xF0;
                     b[optionrom::kPcirPointerOffset + 1] = 0xFF;
                 }),
         "image 1 at 0x0: its PCI data structure (24 bytes at 0xfff0) runs past the end of the ROM "
         "(65536 bytes)"},
        {"no PCIR signature", Changed(demo, [](Bytes& b) { b[kPcir + 3] = 'X'; }),
         "image 1 at 0x0: no PCI data structure at 0x40 (no \"PCIR\" there)"},
        {"a short structure length", Changed(demo, setPcir16(optionrom::kPcirLengthOffset, 0x10)),
         "image 1 at 0x0: its PCI data structure gives its length as 16 bytes, less than 24"},
        {"a zero image length", Changed(demo, setPcir16(optionrom::kPcirImageLengthOffset, 0)),
         "image 1 at 0x0: its PCI data structure gives its length as 0"},
        {"an image length past the end", Bytes(demo.begin(), demo.begin() + 0x8000),
         "image 1 at 0x0: its length (65536 bytes) runs past the end of the ROM (32768 bytes)"},
        {"a device list without its end",
         Changed(demo, setPcir16(optionrom::kPcirDeviceListOffset, 0x10000 - kPcir - 2)),
         "image 1 at 0x0: its device list at 0xfffe runs past the end of the image (no zero word "
         "ends it)"},
        {"a header size of zero", Changed(demo, [](Bytes& b) { b[2] = 0; }),
         "image 1 at 0x0 (x86): its header gives its size as 0 blocks"},
        {"a header size beyond the image",
         Changed(demo, setPcir16(optionrom::kPcirImageLengthOffset, 0x40)),
         "image 1 at 0x0 (x86): its header gives its size as 65536 bytes, more than its length "
         "(32768 bytes)"},
        {"a wrong checksum", Sample("bad-checksum"),
         "image 1 at 0x0 (x86): its bytes sum to 0x01, not 0 (a wrong checksum)"},
        {"a chain cut after its first image", Bytes(chain.begin(), chain.begin() + 0x8000),
         "the chain has no last image: image 1 at 0x0 is not marked last, and the ROM ends after "
         "it"},
        {"a chain whose second image has no signature",
         Changed(chain, [](Bytes& b) { b[0x8000] = 0; }),
         "image 2 at 0x8000 does not start with the signature 55 aa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const optionrom::RomCheck rom = ReadOptionRom(c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(rom.bWellFormed);
        EXPECT_EQ(rom.strProblem, c.problem);
    }
}

TEST(OptionRom, AFlashIsAnOptionRomBlankOrNeither) {
    struct Case {
        const char* name;
        Bytes bytes;
        optionrom::ContentsKind kind;
        std::string text;
    };
    const Case cases[] = {
        {"the demonstration's image", Sample("demo"), optionrom::ContentsKind::kOptionRom,
         "option ROM " + Id(0) + " x86, revision 0x0100, 64 KiB"},
        {"a chain", Sample("chain"), optionrom::ContentsKind::kOptionRom,
         "option ROM " + Id(0) + " x86, revision 0x0100, 32 KiB + " + Id(0) +
             " EFI, revision 0x0100, 32 KiB"},
        {"erased", Bytes(0x10000, 0xFF), optionrom::ContentsKind::kBlank, "blank"},
        {"zeros", Bytes(0x10000, 0), optionrom::ContentsKind::kNotOptionRom,
         "not an option ROM (it does not start with the signature 55 aa)"},
        {"a bad checksum", Sample("bad-checksum"), optionrom::ContentsKind::kNotOptionRom,
         "not an option ROM (image 1 at 0x0 (x86): its bytes sum to 0x01, not 0 (a wrong "
         "checksum))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const optionrom::FlashContents contents =
            optionrom::ClassifyFlash(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(contents.kind, c.kind);
        EXPECT_EQ(optionrom::ContentsText(contents), c.text);
    }
}

}  // namespace
