#include "admin/firmware_check.h"

#include <algorithm>
#include <vector>

#include "admin/flash_contents.h"
#include "flash/update_engine.h"
#include "util/result_codes.h"

namespace admin {

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
        const uint32_t dwExtent = flash::WrittenExtent(part, dwImageLength);
        state.holdsImage =
            dwExtent <= dwSize && std::equal(contents.begin(), contents.begin() + dwExtent, pImage);
    }
    return state;
}

}  // namespace admin
