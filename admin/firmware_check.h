// Whether an image is the right one: an option ROM that is well formed and made for the
// controller it is written to, and what a controller's flash holds now compared with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "util/controller_info.h"
#include "util/option_rom.h"

namespace admin {

// The image's check, as its file's bytes read (not the zeros a short file is padded with).
optionrom::RomCheck CheckImage(const uint8_t* pImage, uint32_t dwFileBytes);

// Why the image cannot be written at all: "<path> is not a well-formed option ROM: <reason>".
std::string MalformedImageText(const std::string& strPath, const optionrom::RomCheck& rom);

// The vendor and device identifiers of the controller's identifier row.
uint16_t ControllerVendorId(const ControllerInfo& record);
uint16_t ControllerDeviceId(const ControllerInfo& record);

// What refuses a controller the image is not for.
inline constexpr const char* kCannotBeUpdated = "cannot be updated: ";

// Why the image is not for that controller, or empty when it is: "the image is for 1f7c:2703,
// this controller is 1f7c:2700".
std::string WrongControllerText(const ControllerInfo& record, const optionrom::RomCheck& rom);

// What the flash holds now, and whether it holds the image (the bytes an update leaves, compared
// as --verify compares them).
struct FlashState {
    bool bRead = false;                 // false: the flash could not be read (or no part)
    optionrom::FlashContents contents;  // when read
    std::optional<bool> holdsImage;     // when read and an image is given
};

// Reads the whole flash once. pImage (the image buffer) may be null: no comparison.
FlashState ReadFlashState(flash::CSPICtl& spi, const ControllerInfo& record,
                          const flash::FlashPartInfo& part, const uint8_t* pImage,
                          uint32_t dwImageLength);

}  // namespace admin
