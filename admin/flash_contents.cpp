#include "admin/flash_contents.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "flash/update_engine.h"
#include "framework/platform.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace admin {
namespace {

// A readable hexadecimal address: "0x0001f000".
std::string HexAddress(uint32_t address) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(address));
    return text;
}

// The part's name with everything but letters, digits, '.' and '-' made '_'.
std::string SafeName(const char* pszName) {
    std::string name = pszName;
    for (char& c : name) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!keep) c = '_';
    }
    return name.empty() ? std::string("unknown") : name;
}

// The file's whole contents, at most limit bytes; false when it cannot be read.
bool ReadBack(const std::string& path, std::size_t limit, std::vector<uint8_t>& contents) {
    framework::FileError error;
    std::unique_ptr<framework::File> file = framework::OpenFileShared(path, error);
    if (!file) return false;
    contents.assign(limit + 1, 0);
    std::size_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file->Read(contents.data() + total, contents.size() - total, got)) return false;
        if (got == 0 || total + got == contents.size()) {
            total += got;
            break;
        }
        total += got;
    }
    contents.resize(total);
    return file->Close();
}

BackupResult Failed(int32_t nResult, std::string strProblem) {
    BackupResult result;
    result.nResult = nResult;
    result.strProblem = std::move(strProblem);
    return result;
}

std::atomic<int> g_nStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

}  // namespace

void RequestStop(int nSignal) {
    g_nStopSignal.store(nSignal, std::memory_order_relaxed);
}

int StopRequested() {
    return g_nStopSignal.load(std::memory_order_relaxed);
}

int32_t ReadFlash(flash::CSPICtl& spi, const ControllerInfo& record, uint32_t dwAddress,
                  uint32_t dwLength, uint8_t* pOut) {
    for (uint32_t done = 0; done < dwLength;) {
        if (StopRequested() != 0) return kResultTimedOut;
        const uint32_t block = std::min(kReadBlockBytes, dwLength - done);
        if (spi.Read_Memory(record, dwAddress + done, block, pOut + done) != kResultSuccess) {
            return kResultTransferError;
        }
        done += block;
    }
    return kResultSuccess;
}

VerifyResult VerifyFlash(flash::CSPICtl& spi, const ControllerInfo& record,
                         const flash::FlashPartInfo& part, const uint8_t* pImage,
                         uint32_t dwImageLength) {
    VerifyResult result;
    if (!flash::IsIdentified(part) || pImage == nullptr) {
        result.nResult = kResultInvalidParameter;
        return result;
    }
    result.dwCompared = flash::WrittenExtent(part, dwImageLength);
    std::vector<uint8_t> contents(result.dwCompared);
    result.nResult = ReadFlash(spi, record, 0, result.dwCompared, contents.data());
    if (result.nResult != kResultSuccess) return result;
    auto [flashAt, imageAt] = std::mismatch(contents.begin(), contents.end(), pImage);
    if (flashAt != contents.end()) {
        result.nResult = kResultDataNotMatch;
        result.dwFirstDifference = static_cast<uint32_t>(flashAt - contents.begin());
    }
    return result;
}

std::string BackupFileName(const ControllerInfo& record, const flash::FlashPartInfo& part,
                           std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{floor<seconds>(when - day)};
    char text[64] = {};
    std::snprintf(text, sizeof text, "%02x-%02x-%x-", static_cast<unsigned>(record.ucBus),
                  static_cast<unsigned>(record.ucDevice), static_cast<unsigned>(record.ucFunction));
    char stamp[32] = {};
    std::snprintf(stamp, sizeof stamp, "-%04d%02u%02uT%02d%02d%02dZ.bin",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text + SafeName(part.szPartName) + stamp;
}

BackupResult BackupFlash(flash::CSPICtl& spi, const ControllerInfo& record,
                         const flash::FlashPartInfo& part, const std::string& strFolder,
                         std::chrono::system_clock::time_point when) {
    const uint32_t dwSize = flash::FlashSizeBytes(part);
    if (dwSize == 0) {
        return Failed(kResultInvalidParameter,
                      "its flash part is not identified, so its size is "
                      "not known");
    }
    std::vector<uint8_t> first(dwSize);
    std::vector<uint8_t> second(dwSize);
    int32_t nRead = ReadFlash(spi, record, 0, dwSize, first.data());
    if (nRead == kResultSuccess) nRead = ReadFlash(spi, record, 0, dwSize, second.data());
    if (nRead == kResultTimedOut) {
        return Failed(kResultTimedOut, "the run was stopped before its flash was read whole");
    }
    if (nRead != kResultSuccess) return Failed(kResultTransferError, "its flash could not be read");
    auto [a, b] = std::mismatch(first.begin(), first.end(), second.begin());
    if (a != first.end()) {
        return Failed(kResultDataNotMatch,
                      "two reads of its flash differ at " +
                          HexAddress(static_cast<uint32_t>(a - first.begin())));
    }

    // A name of its own: one made in the same second gets a number.
    const std::string strName = BackupFileName(record, part, when);
    const std::string strStem = strName.substr(0, strName.size() - 4);
    std::string strPath;
    framework::FileError error;
    bool bWritten = false;
    for (int n = 1; n <= kBackupNameTries && !bWritten; ++n) {
        strPath = strFolder + framework::PathSeparator() +
                  (n == 1 ? strName : strStem + "-" + std::to_string(n) + ".bin");
        bWritten = framework::WriteNewFile(strPath, first.data(), first.size(), error);
        if (!bWritten && error.kind != framework::FileErrorKind::kAlreadyExists) break;
    }
    if (!bWritten) {
        return Failed(kResultEntityNotFound, framework::FileErrorText(error.kind, strPath));
    }
    std::vector<uint8_t> back;
    if (!ReadBack(strPath, first.size(), back) || back != first) {
        // A file that does not hold the flash must never be taken for its backup.
        framework::RemoveFile(strPath);
        return Failed(kResultDataNotMatch, strPath + " does not read back as written");
    }
    BackupResult result;
    result.strPath = strPath;
    return result;
}

}  // namespace admin
