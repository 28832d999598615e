// A controller's flash read without writing it: whole reads, the comparison with an image, and
// backups of the whole flash.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "flash/flash_part_table.h"
#include "flash/spi_protocol.h"
#include "util/controller_info.h"

namespace admin {

// Flash reads go in blocks of this many bytes, one read command each.
inline constexpr uint32_t kReadBlockBytes = 4096;
// How many names a backup tries when one made in the same second already exists.
inline constexpr int kBackupNameTries = 100;

// A read-only run asked to stop (by a signal): the flash reads end at their next block, with
// no command left open, and the run ends at the next controller. Safe to call from a signal
// handler. 0: no stop asked for.
void RequestStop(int nSignal);
int StopRequested();

// Reads dwLength bytes of the flash from dwAddress into pOut: 0, -2 when a read failed, or -1
// when a stop was asked for (between two blocks). Addresses past the chip's end wrap, as the
// chip does.
int32_t ReadFlash(flash::CSPICtl& spi, const ControllerInfo& record, uint32_t dwAddress,
                  uint32_t dwLength, uint8_t* pOut);

struct VerifyResult {
    int32_t nResult = 0;  // 0 matches, -3 differs, -2 a read failed, -4 the part is not identified
    uint32_t dwFirstDifference = 0;  // the first address that differs (nResult -3)
    uint32_t dwCompared = 0;         // bytes compared: the written extent
};

// Compares the flash with what an update of the image (the image buffer, kImageBufferBytes,
// and the image's length) leaves in it, over the written extent.
VerifyResult VerifyFlash(flash::CSPICtl& spi, const ControllerInfo& record,
                         const flash::FlashPartInfo& part, const uint8_t* pImage,
                         uint32_t dwImageLength);

// The name of a backup: "<bus>-<device>-<function>-<part>-<UTC time>.bin" with the numbers in
// hexadecimal as lspci prints them and the part's name made safe for a file name, e.g.
// "02-00-0-MX25L_V_512_C_-20260105T101500Z.bin" (never ".rom", which the image search
// would take for an image).
std::string BackupFileName(const ControllerInfo& record, const flash::FlashPartInfo& part,
                           std::chrono::system_clock::time_point when);

struct BackupResult {
    // 0 made, -1 stopped, -2 a read failed, -3 reads differ, -4 no size, -6 file
    int32_t nResult = 0;
    std::string strPath;     // the backup file, when made
    std::string strProblem;  // what went wrong, for the administrator
};

// Reads the whole flash twice and compares the reads, writes them to a new file in the folder
// (never over an existing one), makes it durable and reads it back. Anything short of that is a
// failure, and no file is left behind.
BackupResult BackupFlash(flash::CSPICtl& spi, const ControllerInfo& record,
                         const flash::FlashPartInfo& part, const std::string& strFolder,
                         std::chrono::system_clock::time_point when);

}  // namespace admin
