#include "flash/update_engine.h"

#include <algorithm>
#include <cstring>

#include "util/event_log.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace flash {
namespace {

constexpr const char* kUpdateFirmwareName = "CInterctl::Update_Firmware";
constexpr const char* kCompareSectionName = "CInterctl::Compare_Section";

// Source lines the diagnostic lines carry.
constexpr int kLineChipEraseFail = 1302;
constexpr int kLineBlankCheckFail = 1317;
constexpr int kLineWriteSectionFail = 1340;
constexpr int kLineCompareSectionFail = 1349;
constexpr int kLineReadMemoryFail = 1756;

// The steps the diagnostic lines report, as the event log's step field names them.
constexpr const char* kStepChipErase = "chip-erase";
constexpr const char* kStepBlankCheck = "blank-check";
constexpr const char* kStepWriteSection = "write-section";
constexpr const char* kStepCompareSection = "compare-section";
constexpr const char* kStepReadBack = "read-back";
// The slices a pause is made of, so that a stopped job does not sit out the whole pause.
constexpr uint64_t kPauseSliceMs = 50;

// True when [dwOffset, dwOffset + dwLength) lies inside the image buffer.
bool InsideImageBuffer(uint32_t dwOffset, uint32_t dwLength) {
    return dwOffset <= kImageBufferBytes && dwLength <= kImageBufferBytes - dwOffset;
}

// A job stopped at the run's time limit: its steps end at once, and it logs nothing more.
bool Stopped() {
    return CSPICtl::Stopped();
}

// Sleeps ms on the clock, or less when the job is stopped meanwhile.
void PauseUnlessStopped(framework::Clock& clock, uint64_t ms) {
    for (uint64_t slept = 0; slept < ms && !Stopped(); slept += kPauseSliceMs) {
        clock.SleepMs(std::min(kPauseSliceMs, ms - slept));
    }
}

}  // namespace

uint32_t WrittenExtent(const FlashPartInfo& part, uint32_t dwImageLength) {
    const uint32_t dwSectionSize = part.ucSectionUnits * kSectionUnitBytes;
    if (dwSectionSize == 0) return 0;
    const uint32_t dwSectionLength = std::min(dwSectionSize, dwImageLength);
    uint32_t dwExtent = 0;
    uint32_t dwOffset = 0;
    do {
        dwExtent = std::max(dwExtent, dwOffset + dwSectionLength);
        dwOffset += dwSectionSize;
    } while (dwOffset < dwImageLength);
    return std::min(dwExtent, kImageBufferBytes);
}

bool ImageFitsFlash(const FlashPartInfo& part, uint32_t dwImageLength) {
    return IsIdentified(part) && WrittenExtent(part, dwImageLength) <= FlashSizeBytes(part);
}

CInterctl::CInterctl(uint8_t& rucControllerCount, ControllerInfo (&controllers)[kMaxControllers],
                     CSPICtl& spi)
    : m_rucControllerCount(rucControllerCount), m_pControllers(controllers), m_spi(spi) {}

CInterctl::~CInterctl() = default;

// Erase, settle, blank check, then each section written and read back; the whole sequence up
// to three times. Sections are the part's section size long, or the image's length when that
// is shorter, so the last one may reach into the zero tail of the buffer. A stopped job returns
// -1 at once, between any two steps, and writes no diagnostic line after the stop.
int32_t CInterctl::Update_Firmware(uint8_t ucTargetNumber, const ControllerInfo& record,
                                   FlashPartInfo part, const uint8_t* pImage,
                                   uint32_t dwImageLength, uint8_t* pucAttempts) {
    uint8_t ucAttemptsMade = 0;
    if (pucAttempts == nullptr) pucAttempts = &ucAttemptsMade;
    *pucAttempts = 0;
    // Refuse what cannot be written before the flash is erased: a blank flash does not boot, and
    // an image larger than the flash would wrap onto its own start and never verify.
    const uint32_t dwSectionSize = part.ucSectionUnits * kSectionUnitBytes;
    if (pImage == nullptr || dwImageLength > kImageBufferBytes || dwSectionSize == 0 ||
        !IsIdentified(part) || (!TraitsOf(part).bAaiProgram && record.usPageSize == 0) ||
        !ImageFitsFlash(part, dwImageLength)) {
        return kResultInvalidParameter;
    }
    int32_t result = kResultSuccess;
    for (uint8_t ucRetry = 0; ucRetry < kUpdateAttempts; ++ucRetry) {
        if (Stopped()) return kResultTimedOut;
        *pucAttempts = static_cast<uint8_t>(ucRetry + 1);
        CSPICtl::ForgetVanished();  // each attempt looks for the controller afresh
        result = m_spi.ChipErase(record, part);
        if (Stopped()) return kResultTimedOut;
        if (result < 0) {
            CEventStep step(kStepChipErase, result);
            EventLogPrintf(kEventTypeError,
                           "\r\n%s:%d: ucTargetNumber[%d], ChipErase Fail!!, ucRetry[%d] ",
                           kUpdateFirmwareName, kLineChipEraseFail, ucTargetNumber, ucRetry);
            continue;
        }
        PauseUnlessStopped(m_spi.GetClock(), kAfterEraseWaitMs);
        if (Stopped()) return kResultTimedOut;
        result = m_spi.BlankCheck(record);
        if (Stopped()) return kResultTimedOut;
        if (result < 0) {
            CEventStep step(kStepBlankCheck, result);
            EventLogPrintf(kEventTypeError,
                           "\r\n%s:%d: ucTargetNumber[%d], BlankCheck Fail!!, ucRetry[%d] ",
                           kUpdateFirmwareName, kLineBlankCheckFail, ucTargetNumber, ucRetry);
            continue;
        }
        const uint32_t dwSectionLength = std::min(dwSectionSize, dwImageLength);
        uint32_t dwOffset = 0;
        do {
            result = Write_Section(record, part, pImage, dwOffset, dwSectionLength);
            if (Stopped()) return kResultTimedOut;
            if (result < 0) {
                CEventStep step(kStepWriteSection, result);
                EventLogPrintf(kEventTypeError,
                               "\r\n%s:%d: ucTargetNumber[%d], Write_Section Fail!!, ucRetry[%d] ",
                               kUpdateFirmwareName, kLineWriteSectionFail, ucTargetNumber, ucRetry);
                break;
            }
            result = Compare_Section(pImage, record, dwOffset, dwSectionLength);
            if (Stopped()) return kResultTimedOut;
            if (result < 0) {
                CEventStep step(kStepCompareSection, result);
                EventLogPrintf(kEventTypeError,
                               "\r\n%s:%d: ucTargetNumber[%d],Compare_Section Fail!!, ucRetry[%d] ",
                               kUpdateFirmwareName, kLineCompareSectionFail, ucTargetNumber,
                               ucRetry);
                break;
            }
            dwOffset += dwSectionSize;
        } while (dwOffset < dwImageLength);
        if (result == kResultSuccess && dwOffset > dwSectionSize) {
            // A later section lands on an earlier one when the image is larger than the flash
            // (addresses wrap at the chip's size): read every earlier section back once more so
            // that such an image is never reported as written.
            for (uint32_t dwEarlier = 0; dwEarlier + dwSectionSize < dwOffset;
                 dwEarlier += dwSectionSize) {
                result = Compare_Section(pImage, record, dwEarlier, dwSectionLength);
                if (Stopped()) return kResultTimedOut;
                if (result < 0) {
                    CEventStep step(kStepCompareSection, result);
                    EventLogPrintf(
                        kEventTypeError,
                        "\r\n%s:%d: ucTargetNumber[%d],Compare_Section Fail!!, ucRetry[%d] ",
                        kUpdateFirmwareName, kLineCompareSectionFail, ucTargetNumber, ucRetry);
                    break;
                }
            }
        }
        if (result == kResultSuccess) return kResultSuccess;
    }
    return result;
}

// Writes the section page by page (or by auto-address-increment on parts that need it), the
// flash address and the image position advancing together.
int32_t CInterctl::Write_Section(const ControllerInfo& record, const FlashPartInfo& part,
                                 const uint8_t* pImage, uint32_t dwOffset, uint32_t dwLength) {
    if (dwLength == 0) return kResultSuccess;
    if (!InsideImageBuffer(dwOffset, dwLength)) return kResultInvalidParameter;
    const bool bAai = TraitsOf(part).bAaiProgram;
    // Without a page size the page loop would never advance.
    if (!bAai && record.usPageSize == 0) return kResultInvalidParameter;
    m_spi.Unprotect(record, part);
    if (bAai) {
        const int32_t result = m_spi.WriteData(record, kOpWriteEnable, 1);
        m_spi.EndCommand(record);
        if (result < 0) return result;
        m_spi.WaitWriteEnable(record);
        m_spi.AaiProgram(record, dwOffset, pImage + dwOffset, dwLength);
        m_spi.WriteDisable(record);
        return kResultSuccess;
    }
    uint32_t dwPosition = 0;
    while (dwPosition < dwLength) {
        if (Stopped()) return kResultTimedOut;
        const uint32_t dwPage = std::min<uint32_t>(record.usPageSize, dwLength - dwPosition);
        const int32_t result = m_spi.WriteData(record, kOpWriteEnable, 1);
        m_spi.EndCommand(record);
        if (result < 0) return result;
        m_spi.WaitWriteEnable(record);
        m_spi.PageProgram(record, dwOffset + dwPosition, pImage + dwOffset + dwPosition, dwPage);
        m_spi.WaitWhileBusy(record);
        dwPosition += dwPage;
    }
    m_spi.WriteDisable(record);
    return kResultSuccess;
}

// Reads the section back in 8-byte chunks. A chunk gets three reads; one that could not be
// read counts as differing. A chunk that differs three times in a row fails the section. A
// stopped job returns -1 at once, without a line for the read that failed.
int32_t CInterctl::Compare_Section(const uint8_t* pImage, const ControllerInfo& record,
                                   uint32_t dwOffset, uint32_t dwLength) {
    if (dwLength == 0) return kResultSuccess;
    if (!InsideImageBuffer(dwOffset, dwLength)) return kResultInvalidParameter;
    uint32_t dwPosition = 0;
    uint32_t dwChunk = std::min(kCompareChunkBytes, dwLength);
    uint32_t dwMismatches = 0;
    while (dwPosition < dwLength) {
        uint8_t expected[kCompareChunkBytes];
        uint8_t actual[kCompareBufferBytes];
        bool bRead = false;
        for (uint32_t retry = 0; retry < kCompareReadTries && !bRead; ++retry) {
            std::memcpy(expected, pImage + dwOffset + dwPosition, dwChunk);
            std::memset(actual, 0, sizeof actual);
            const int32_t nRead = m_spi.Read_Memory(record, dwOffset + dwPosition, dwChunk, actual);
            bRead = nRead == kResultSuccess;
            if (Stopped()) return kResultTimedOut;
            if (!bRead) {
                CEventStep step(kStepReadBack, nRead);
                EventLogPrintf(kEventTypeError, "\r\n%s:%d: Read_Memory Fail, retry[%d]\n",
                               kCompareSectionName, kLineReadMemoryFail, static_cast<int>(retry));
            }
        }
        if (bRead && std::memcmp(expected, actual, dwChunk) == 0) {
            dwPosition += dwChunk;
            dwMismatches = 0;
            dwChunk = std::min(kCompareChunkBytes, dwLength - dwPosition);
        } else {
            if (dwMismatches == kCompareMatchTries - 1) return kResultDataNotMatch;
            ++dwMismatches;
        }
    }
    return kResultSuccess;
}

}  // namespace flash
