// libFuzzer target for the option ROM reader: any bytes must be read without a fault, and what
// it says must hold together: a well-formed ROM is a chain of images inside the bytes, one after
// another from offset 0, the last one marked last; any other has a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "util/option_rom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const optionrom::RomCheck rom = optionrom::ReadOptionRom(data, size);
    if (rom.bWellFormed) {
        if (!rom.strProblem.empty() || rom.images.empty()) std::abort();
        std::size_t next = 0;
        for (std::size_t i = 0; i < rom.images.size(); ++i) {
            const optionrom::RomImage& image = rom.images[i];
            if (image.dwOffset != next || image.dwLength == 0) std::abort();
            if (image.dwOffset + std::size_t{image.dwLength} > size) std::abort();
            if (image.bLast != (i + 1 == rom.images.size())) std::abort();
            next = image.dwOffset + std::size_t{image.dwLength};
        }
    } else if (rom.strProblem.empty()) {
        std::abort();
    }
    const optionrom::FlashContents contents = optionrom::ClassifyFlash(data, size);
    if (optionrom::ContentsText(contents).empty()) std::abort();
    for (const optionrom::RomImage& image : rom.images) {
        if (optionrom::ImageText(image).empty()) std::abort();
    }
    return 0;
}
