// What a controller's flash holds now, as an option ROM, compared with the image.
#pragma once

#include <cstdint>
#include <optional>

#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "util/controller_info.h"
#include "util/option_rom.h"

namespace admin {

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
