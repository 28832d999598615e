#include "admin/firmware_check.h"

#include <algorithm>
#include <vector>

#include "admin/flash_contents.h"
#include "pci/controller_ids.h"
#include "util/result_codes.h"

namespace admin {

optionrom::RomCheck CheckImage(const uint8_t* pImage, uint32_t dwFileBytes) {
    return optionrom::ReadOptionRom(pImage, pImage != nullptr ? dwFileBytes : 0);
}

std::string MalformedImageText(const std::string& strPath, const optionrom::RomCheck& rom) {
    return strPath + " is not a well-formed option ROM: " + rom.strProblem;
}

uint16_t ControllerVendorId(const ControllerInfo& record) {
    return record.ucIdRow < g_ControllerIds.size() ? g_ControllerIds[record.ucIdRow].usVendorId : 0;
}

uint16_t ControllerDeviceId(const ControllerInfo& record) {
    return record.ucIdRow < g_ControllerIds.size()
               ? static_cast<uint16_t>(g_ControllerIds[record.ucIdRow].dwDeviceId)
               : 0;
}

std::string WrongControllerText(const ControllerInfo& record, const optionrom::RomCheck& rom) {
    return optionrom::WrongDeviceText(rom, ControllerVendorId(record), ControllerDeviceId(record));
}

FlashState ReadFlashState(flash::CSPICtl& spi, const ControllerInfo& record,
                          const flash::FlashPartInfo& part, const uint8_t* pImage,
                          uint32_t dwImageLength) {
    FlashState state;
    const uint32_t dwSize = flash::FlashSizeBytes(part);
    if (dwSize == 0) return state;
    std::vector<uint8_t> contents(dwSize);
    if (ReadFlash(spi, record, 0, dwSize, contents.data()) != kResultSuccess) return state;
    state.bRead = true;
    state.contents = optionrom::ClassifyFlash(contents.data(), contents.size());
    if (pImage != nullptr) {
        // What an update leaves: the image, then its zero tail, over the sections it writes. A
        // flash smaller than that cannot hold it.
        const uint32_t dwExtent = WrittenExtent(part, dwImageLength);
        state.holdsImage =
            dwExtent <= dwSize && std::equal(contents.begin(), contents.begin() + dwExtent, pImage);
    }
    return state;
}

}  // namespace admin
