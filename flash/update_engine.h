// The update engine: finds the 270X controllers and puts a firmware image into one
// controller's flash (erase, blank check, write and read back, up to three attempts).
#pragma once

#include <cstdint>
#include <mutex>

#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "util/controller_info.h"

namespace flash {

// Attempts of the whole erase-check-write-compare sequence.
inline constexpr uint8_t kUpdateAttempts = 3;
// Time the flash is left to settle between the chip erase and the blank check.
inline constexpr uint64_t kAfterEraseWaitMs = 1000;
// Read-back comparison: chunk size, reads of a chunk, comparisons of a chunk.
inline constexpr uint32_t kCompareChunkBytes = 8;
inline constexpr uint32_t kCompareReadTries = 3;
inline constexpr uint32_t kCompareMatchTries = 3;
inline constexpr uint32_t kCompareBufferBytes = 255;

// How many bytes from address 0 an update writes for an image of that length: its sections as
// the engine cuts them (the part's section size, or the image's length when shorter), the last
// one reaching into the zero tail of the image buffer. 0 for a part without sections.
uint32_t WrittenExtent(const FlashPartInfo& part, uint32_t dwImageLength);

// Whether what the update writes of the image fits in the identified part's flash.
bool ImageFitsFlash(const FlashPartInfo& part, uint32_t dwImageLength);

// One instance for the process, built at static initialisation over the utility object's
// controller table and the SPI layer object, e.g.
//   flash::CInterctl g_Interctl(g_Utility.m_ucControllerCount, g_Utility.m_Controllers,
//                               g_SPICtl);
// (only references are kept, so the SPI layer object may be constructed after it).
class CInterctl {
public:
    // The engine fills the controller table given (count and four records) and drives the
    // flash through spi.
    CInterctl(uint8_t& rucControllerCount, ControllerInfo (&controllers)[kMaxControllers],
              CSPICtl& spi);
    virtual ~CInterctl();
    CInterctl(const CInterctl&) = delete;
    CInterctl& operator=(const CInterctl&) = delete;

    // Walks PCI configuration space for 270X controllers under the engine lock and fills the
    // controller table: 0 when one was found, -2 when none was.
    int32_t ScanControllers();

    // Puts the image into the flash of one controller. pImage is the image buffer
    // (kImageBufferBytes long) and dwImageLength the image's length. 0, or the failing step's
    // code: -2, -3, -4 for parameters that cannot be written, such as an image larger than the
    // part's flash (nothing is touched then), or -1
    // when the calling job was stopped (it returns at once and logs nothing more). When
    // pucAttempts is given, it receives the number of attempts made (0 when refused).
    int32_t Update_Firmware(uint8_t ucTargetNumber, const ControllerInfo& record,
                            FlashPartInfo part, const uint8_t* pImage, uint32_t dwImageLength,
                            uint8_t* pucAttempts = nullptr);
    // Writes one section of the image at the same flash address: 0, -2 write enable not
    // accepted, -4 a section past the buffer's end or no page size for a page-programmed part,
    // -1 the job was stopped.
    int32_t Write_Section(const ControllerInfo& record, const FlashPartInfo& part,
                          const uint8_t* pImage, uint32_t dwOffset, uint32_t dwLength);
    // Reads one section back and compares it with the image: 0, -3 a chunk differed (or could
    // not be read) three times, -4 a section past the buffer's end, -1 the job was stopped.
    int32_t Compare_Section(const uint8_t* pImage, const ControllerInfo& record, uint32_t dwOffset,
                            uint32_t dwLength);

    // The engine lock, held by the controller walk.
    std::mutex& EngineLock() { return m_csEngine; }

private:
    std::mutex m_csEngine;
    uint8_t& m_rucControllerCount;
    ControllerInfo* m_pControllers;
    CSPICtl& m_spi;
};

}  // namespace flash

// The update engine, over the utility object's controller table and the SPI layer (built with
// the other process-wide objects, in their order).
extern flash::CInterctl g_Interctl;
