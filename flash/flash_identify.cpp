// Identification of a controller's flash part against the part table.
#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "util/result_codes.h"

namespace flash {

FlashPartInfo CSPICtl::QueryFlashPart(ControllerInfo& record) {
    if (SettleChip(record) != kResultSuccess) return UnidentifiedFlashPart();
    for (const FlashPartInfo& row : g_FlashParts) {
        uint32_t id = 0;
        if (ReadId(record, row.ucIdOpcode, row.ucIdMode, &id) != kResultSuccess) {
            // A bridge that does not answer tells nothing about the part: writing with some
            // other part's commands could ruin the flash, so it counts as not identified.
            return UnidentifiedFlashPart();
        }
        const auto b0 = static_cast<uint8_t>(id);
        const auto b1 = static_cast<uint8_t>(id >> 8);
        const auto b2 = static_cast<uint8_t>(id >> 16);
        if (MatchesId(row, b0, b1, b2)) {
            record.usPageSize = TraitsOf(row).usPageSize;
            return row;
        }
    }
    return UnidentifiedFlashPart();
}

}  // namespace flash
