#include "admin/commands.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "admin/firmware_check.h"
#include "admin/flash_contents.h"
#include "admin/probe.h"
#include "admin/sha256.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/message_box.h"
#include "framework/platform.h"
#include "pci/controller_ids.h"
#include "pci/vlmio_access.h"
#include "util/event_log.h"
#include "util/exit_status.h"
#include "util/image_file.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace admin {
namespace {

constexpr int kStatusHostNotReady = static_cast<int>(ExitStatus::kHostNotReady);
constexpr double kMsPerSecond = 1000.0;
constexpr const char* kImageNotFoundText = "Can't Find Firmware file(*.rom) !";
constexpr const char* kBackupFailedFormat =
    "The backup of the flash of %s failed: %s. Its flash was left as it was; it is not updated.";
constexpr const char* kWrongImageFormat = "%s %s. Its flash was left as it was; it is not updated.";
constexpr const char* kForcedSuffix = "; --force writes it anyway";
constexpr const char* kResultWrongImage = "wrong image";
// The diagnostic lines of the image check.
constexpr const char* kCheckFunctionName = "admin::RunRecorder::CheckImage";
constexpr const char* kStepImageCheck = "image-check";

int Status(ExitStatus status) {
    return static_cast<int>(status);
}

// The image as the run finds and loads it: the given path, or the program folder's search.
struct LoadedImage {
    int nStatus = 0;  // 0, or 2 not found, 3 not loaded
    std::string strProblem;
    ImageDescription description;
    std::unique_ptr<uint8_t[]> buffer;  // kImageBufferBytes
    uint32_t dwLength = 0;              // the image's length as the update takes it
};

LoadedImage LoadImageAsTheRunDoes(const std::string& strImagePath) {
    LoadedImage image;
    std::string strPath = strImagePath;
    if (strPath.empty()) {
        // The search runs from the program's folder, as the run's does.
        framework::SetCurrentDirectory(g_Utility.m_szModuleDir);
        const std::string strName = LocateFWBinFile(g_Utility.m_szModuleDir);
        if (!strName.empty()) strPath = FWFullName(g_Utility.m_szModuleDir, strName);
    }
    if (strPath.empty() || !framework::PathExists(strPath)) {
        image.nStatus = Status(ExitStatus::kImageNotFound);
        image.strProblem = strPath.empty() ? std::string(kImageNotFoundText)
                                           : framework::FileErrorText(
                                                 framework::FileErrorKind::kNotFound, strPath);
        return image;
    }
    image.buffer.reset(new (std::nothrow) uint8_t[kImageBufferBytes]());
    const int32_t nLoad = image.buffer == nullptr
                              ? kResultInsufficientMemory
                              : g_Utility.bOpenFWBinFile(strPath, image.buffer.get());
    if (nLoad != kResultSuccess) {
        image.nStatus = Status(ExitStatus::kImageLoadFailed);
        image.strProblem = strPath + " could not be loaded: " + GetResultString(nLoad) + " (" +
                           std::to_string(nLoad) + ")";
        image.buffer.reset();
        return image;
    }
    image.dwLength = g_Utility.m_dwFWBinSize;
    image.description = DescribeImage(strPath, image.buffer.get(), g_Utility.m_dwFWFileBytes);
    return image;
}

// What the update leaves out, in words.
std::string LeftOutWarning(const FoundFunction& f) {
    std::string text = "270X function " + ControllerAddressText(f.address);
    if (!WalkCovers(f.address)) {
        return text + " on a bus the walk skips (above 0x0f): not updated";
    }
    return text + " beyond the first four: not updated";
}

// The probe of a read-only run with the driver loaded: the controllers found, kept to the
// selected ones, and its warnings. Ends the report's status when nothing can be done.
struct Probed {
    ProbeResult probe;
    bool bUsable = false;
};

Probed ProbeForReport(const AdminRequest& request, Report& report) {
    Probed probed;
    probed.probe = ProbeControllers(g_Interctl, g_SPICtl, g_Utility.m_ucControllerCount,
                                    g_Utility.m_Controllers);
    for (const FoundFunction& f : probed.probe.leftOut)
        report.warnings.push_back(LeftOutWarning(f));
    if (!probed.probe.bFound) {
        report.nExitStatus = Status(ExitStatus::kControllerNotReady);
        report.warnings.push_back("no 270X controller was found");
        return probed;
    }
    for (const ControllerAddress& address : request.controllers) {
        auto at = [&](const ProbedController& p) { return IsAt(p.record, address); };
        if (std::none_of(probed.probe.controllers.begin(), probed.probe.controllers.end(), at)) {
            report.nExitStatus = Status(ExitStatus::kControllerNotReady);
            report.warnings.push_back("no 270X controller was found at " +
                                      ControllerAddressText(address));
            return probed;
        }
    }
    if (!request.controllers.empty()) {
        std::erase_if(probed.probe.controllers, [&](const ProbedController& p) {
            return std::none_of(request.controllers.begin(), request.controllers.end(),
                                [&](const ControllerAddress& a) { return IsAt(p.record, a); });
        });
    }
    probed.bUsable = true;
    return probed;
}

// Loads the driver, runs body with it, unloads it. The report ends with exit status 7 when the
// driver cannot be loaded.
template <typename Body>
Report WithDriver(ReportMode mode, Body body) {
    Report report;
    report.mode = mode;
    pci::IVlmIo& io = pci::VlmIo();
    io.UnloadVlmIODriver();
    if (io.LoadVlmIODriver() == 0) {
        io.UnloadVlmIODriver();
        report.nExitStatus = Status(ExitStatus::kAccessUnavailable);
        report.warnings.push_back("the access library's driver could not be loaded");
        return report;
    }
    body(report);
    io.UnloadVlmIODriver();
    return report;
}

ControllerReport Describe(const ProbedController& p) {
    ControllerReport c = DescribeController(p.record, p.part);
    if (p.bIdRead) {
        c.idOpcode = p.ucIdOpcode;
        c.idBytes = p.idBytes;
    }
    return c;
}

// The status that an image problem gives, when no controller problem came first.
void TakeImageStatus(Report& report, const LoadedImage& image) {
    if (image.nStatus == 0) {
        report.image = image.description;
        return;
    }
    report.strImageProblem = image.strProblem;
    if (report.nExitStatus == 0) report.nExitStatus = image.nStatus;
}

void WarnWhenImageDoesNotFit(Report& report, const ProbedController& p, const LoadedImage& image) {
    if (image.nStatus != 0 || !flash::IsIdentified(p.part)) return;
    const uint32_t dwExtent = WrittenExtent(p.part, image.dwLength);
    const uint32_t dwSize = flash::FlashSizeBytes(p.part);
    if (dwExtent > dwSize) {
        report.warnings.push_back("the update writes " + std::to_string(dwExtent) +
                                  " bytes, more than the flash of " +
                                  ControllerAddressText(p.record) + " holds (" +
                                  std::to_string(dwSize) + " bytes): it cannot be updated");
    }
}

// The image check's verdict on the image as a whole: a malformed image is the report's image
// problem with status 3, or a warning when forced.
void TakeImageCheck(Report& report, const AdminRequest& request, const LoadedImage& image) {
    if (image.nStatus != 0 || image.description.rom.bWellFormed) return;
    const std::string text = MalformedImageText(image.description.strPath, image.description.rom);
    if (request.bForce) {
        report.warnings.push_back(text + kForcedSuffix);
        return;
    }
    report.strImageProblem = text;
    if (report.nExitStatus == 0) report.nExitStatus = Status(ExitStatus::kImageLoadFailed);
}

// Writes a diagnostic line of the image check to the event log.
void LogImageCheck(int nLine, const std::string& strText, int32_t nResult) {
    CEventStep step(kStepImageCheck, nResult);
    EventLogPrintf(kEventTypeError, "\r\n%s:%d: %s", kCheckFunctionName, nLine, strText.c_str());
}

}  // namespace

ImageDescription DescribeImage(const std::string& strPath, const uint8_t* pImage,
                               uint32_t dwFileBytes) {
    ImageDescription d;
    d.strPath = strPath;
    d.dwFileBytes = dwFileBytes;
    d.strSha256 = Sha256Hex(pImage, dwFileBytes);
    d.rom = CheckImage(pImage, dwFileBytes);
    return d;
}

ControllerReport DescribeController(const ControllerInfo& record,
                                    const flash::FlashPartInfo& part) {
    ControllerReport c;
    c.strAddress = ControllerAddressText(record);
    c.ucIdRow = record.ucIdRow;
    if (record.ucIdRow < g_ControllerIds.size()) {
        c.usVendorId = g_ControllerIds[record.ucIdRow].usVendorId;
        c.usDeviceId = static_cast<uint16_t>(g_ControllerIds[record.ucIdRow].dwDeviceId);
    }
    c.bIdentified = flash::IsIdentified(part);
    if (c.bIdentified) {
        c.strVendor = part.szVendor;
        c.strPart = part.szPartName;
        c.dwSizeBytes = flash::FlashSizeBytes(part);
    }
    return c;
}

Report ListControllers(const AdminRequest& request) {
    return WithDriver(ReportMode::kList, [&](Report& report) {
        Probed probed = ProbeForReport(request, report);
        const LoadedImage image = LoadImageAsTheRunDoes(request.strImagePath);
        TakeImageStatus(report, image);
        TakeImageCheck(report, request, image);
        if (!probed.bUsable) return;
        const optionrom::RomCheck& rom = image.description.rom;
        bool bAllReady = true;
        for (const ProbedController& p : probed.probe.controllers) {
            ControllerReport c = Describe(p);
            c.strResult = c.bIdentified ? "ready" : "not identified";
            if (c.bIdentified) {
                const FlashState state =
                    ReadFlashState(g_SPICtl, p.record, p.part, image.buffer.get(), image.dwLength);
                if (state.bRead) c.flashContents = state.contents;
                c.holdsImage = state.holdsImage;
            }
            const std::string wrong = image.nStatus == 0 && rom.bWellFormed
                                          ? WrongControllerText(p.record, rom)
                                          : std::string();
            if (!c.bIdentified) {
                c.nResultCode = kResultDataNotMatch;
                c.strProblem = "its flash part is not in the table: it would not be updated";
                bAllReady = false;
            } else if (!wrong.empty() && !request.bForce) {
                c.strResult = kResultWrongImage;
                c.nResultCode = kResultInvalidParameter;
                c.strProblem = kCannotBeUpdated + wrong;
                bAllReady = false;
            }
            if (!wrong.empty() && request.bForce) {
                c.strForced = wrong;
                report.warnings.push_back(c.strAddress + " " + kCannotBeUpdated + wrong +
                                          kForcedSuffix);
            }
            if (c.bIdentified && !request.strBackupFolder.empty()) {
                const BackupResult backup =
                    BackupFlash(g_SPICtl, p.record, p.part, request.strBackupFolder, request.now());
                c.strBackup = backup.strPath;
                if (backup.nResult != kResultSuccess) {
                    const std::string problem = "backup failed: " + backup.strProblem;
                    if (c.strProblem.empty()) {
                        c.strResult = "backup failed";
                        c.nResultCode = backup.nResult;
                        c.strProblem = problem;
                    } else {
                        c.strProblem += "; " + problem;
                    }
                    bAllReady = false;
                }
            }
            WarnWhenImageDoesNotFit(report, p, image);
            report.controllers.push_back(std::move(c));
        }
        if (!bAllReady && report.nExitStatus == 0) report.nExitStatus = kStatusHostNotReady;
    });
}

Report VerifyControllers(const AdminRequest& request) {
    return WithDriver(ReportMode::kVerify, [&](Report& report) {
        Probed probed = ProbeForReport(request, report);
        const LoadedImage image = LoadImageAsTheRunDoes(request.strImagePath);
        TakeImageStatus(report, image);
        if (!probed.bUsable || image.nStatus != 0) return;
        bool bAllMatch = true;
        for (const ProbedController& p : probed.probe.controllers) {
            ControllerReport c = Describe(p);
            if (!request.strBackupFolder.empty() && c.bIdentified) {
                const BackupResult backup =
                    BackupFlash(g_SPICtl, p.record, p.part, request.strBackupFolder, request.now());
                c.strBackup = backup.strPath;
                if (backup.nResult != kResultSuccess)
                    c.strProblem = "backup failed: " + backup.strProblem;
            }
            const VerifyResult v =
                VerifyFlash(g_SPICtl, p.record, p.part, image.buffer.get(), image.dwLength);
            c.nResultCode = v.nResult;
            if (v.nResult == kResultSuccess) {
                c.strResult = "matches";
                c.compared = v.dwCompared;
            } else if (v.nResult == kResultDataNotMatch) {
                c.strResult = "differs";
                c.firstDifference = v.dwFirstDifference;
                c.compared = v.dwCompared;
            } else if (!c.bIdentified) {
                c.strResult = "not identified";
            } else {
                c.strResult = "unreadable";
            }
            bAllMatch = bAllMatch && v.nResult == kResultSuccess;
            report.controllers.push_back(std::move(c));
        }
        if (!bAllMatch && report.nExitStatus == 0) report.nExitStatus = kStatusHostNotReady;
    });
}

// ---- The update run's report ------------------------------------------------------------------

struct RunRecorder::State {
    mutable std::mutex mutex;
    ImageDescription image;
    std::vector<ControllerReport> done;  // outcomes of the controllers that finished
    std::vector<std::string> backups;    // per target (empty: none made)
    std::vector<std::string> problems;   // per target
    std::vector<std::string> forced;     // per target: what --force wrote over
    std::string imageProblem;            // why the image was refused as a whole
    std::vector<std::string> warnings;   // what --force let through
};

RunRecorder::RunRecorder(
    AdminRequest request,
    std::function<void(const ControllerReport&, const ImageDescription&)> onOutcome)
    : m_request(std::move(request)),
      m_onOutcome(std::move(onOutcome)),
      m_state(std::make_shared<State>()) {
    m_state->backups.resize(kMaxControllers);
    m_state->problems.resize(kMaxControllers);
    m_state->forced.resize(kMaxControllers);
}

RunOptions RunRecorder::Options() {
    RunOptions options;
    options.strImagePath = m_request.strImagePath;
    options.controllers = m_request.controllers;
    std::shared_ptr<State> state = m_state;
    options.onImageLoaded = [state](const std::string& strPath, const uint8_t* pImage,
                                    uint32_t dwFileBytes) {
        ImageDescription d = DescribeImage(strPath, pImage, dwFileBytes);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->image = std::move(d);
    };
    const bool bForce = m_request.bForce;
    options.checkImage = [state, bForce](const std::string& strPath, const uint8_t*,
                                         uint32_t) -> std::string {
        optionrom::RomCheck rom;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            rom = state->image.rom;
        }
        if (rom.bWellFormed) return {};
        std::string text = MalformedImageText(strPath, rom);
        if (!bForce) {
            LogImageCheck(__LINE__, text, kResultInvalidParameter);
            std::lock_guard<std::mutex> lock(state->mutex);
            state->imageProblem = text;
            return text + ".";
        }
        text += kForcedSuffix;
        LogImageCheck(__LINE__, text, kResultSuccess);
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->warnings.push_back(text);
        }
        framework::AfxMessageBox(text + ".", framework::kMbOk | framework::kMbIconExclamation);
        return {};
    };
    {
        const std::string strFolder = m_request.strBackupFolder;
        auto now = m_request.now;
        options.beforeErase = [state, strFolder, now, bForce](uint8_t ucTarget,
                                                              const ControllerInfo& record,
                                                              const flash::FlashPartInfo& part) {
            // The image must name this controller, unless forced; refused before any erase.
            std::string wrong;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->image.rom.bWellFormed) {
                    wrong = WrongControllerText(record, state->image.rom);
                }
            }
            const std::string address = ControllerAddressText(record);
            const std::string refusal = kCannotBeUpdated + wrong;
            if (!wrong.empty() && !bForce) {
                LogImageCheck(__LINE__, address + " " + refusal, kResultInvalidParameter);
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->problems[ucTarget] = refusal;
                }
                char szMessage[1024] = {};
                std::snprintf(szMessage, sizeof szMessage, kWrongImageFormat, address.c_str(),
                              refusal.c_str());
                framework::AfxMessageBox(szMessage,
                                         framework::kMbOk | framework::kMbIconExclamation);
                return kResultInvalidParameter;
            }
            if (!wrong.empty()) {
                const std::string text = address + " " + refusal + kForcedSuffix;
                LogImageCheck(__LINE__, text, kResultSuccess);
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->forced[ucTarget] = wrong;
                    state->warnings.push_back(text);
                }
                framework::AfxMessageBox(text + ".",
                                         framework::kMbOk | framework::kMbIconExclamation);
            }
            if (strFolder.empty()) return kResultSuccess;
            const BackupResult backup = BackupFlash(g_SPICtl, record, part, strFolder, now());
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->backups[ucTarget] = backup.strPath;
                if (backup.nResult != kResultSuccess) {
                    state->problems[ucTarget] = "backup failed: " + backup.strProblem;
                }
            }
            if (backup.nResult != kResultSuccess) {
                char szMessage[1024] = {};
                std::snprintf(szMessage, sizeof szMessage, kBackupFailedFormat,
                              ControllerAddressText(record).c_str(), backup.strProblem.c_str());
                framework::AfxMessageBox(szMessage,
                                         framework::kMbOk | framework::kMbIconExclamation);
            }
            return backup.nResult;
        };
    }
    auto onOutcome = m_onOutcome;
    options.onControllerDone = [state, onOutcome](uint8_t ucTarget, const ControllerInfo& record,
                                                  const ControllerOutcome& outcome) {
        flash::FlashPartInfo part = flash::UnidentifiedFlashPart();
        const int row =
            record.szPartName[0] != '\0' ? flash::FindFlashPartByName(record.szPartName) : -1;
        if (row >= 0) part = flash::g_FlashParts[static_cast<std::size_t>(row)];
        ControllerReport c = DescribeController(record, part);
        c.nResultCode = outcome.nResult;
        c.strResult = outcome.nResult == kResultSuccess ? "updated" : "not updated";
        c.attempts = outcome.ucAttempts;
        c.seconds = static_cast<double>(outcome.ullWorkMs) / kMsPerSecond;
        ImageDescription image;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            c.strBackup = state->backups[ucTarget];
            c.strProblem = state->problems[ucTarget];
            c.strForced = state->forced[ucTarget];
            if (c.strProblem.empty() && outcome.nResult != kResultSuccess) {
                c.strProblem = GetResultString(outcome.nResult);
            }
            state->done.push_back(c);
            image = state->image;
        }
        if (onOutcome) onOutcome(c, image);
    };
    return options;
}

ImageDescription RunRecorder::Image() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->image;
}

Report RunRecorder::Finish(int nExitStatus) const {
    Report report;
    report.mode = ReportMode::kUpdate;
    report.nExitStatus = nExitStatus;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->image.strPath.empty()) report.image = m_state->image;
    report.strImageProblem = m_state->imageProblem;
    report.warnings = m_state->warnings;
    // Every controller of the run, in its order; one whose job never finished (stopped at the
    // time limit) was not updated.
    for (uint8_t i = 0; i < g_Utility.m_ucControllerCount; ++i) {
        const ControllerInfo& record = g_Utility.m_Controllers[i];
        auto same = [&](const ControllerReport& c) {
            return c.strAddress == ControllerAddressText(record);
        };
        auto found = std::find_if(m_state->done.begin(), m_state->done.end(), same);
        if (found != m_state->done.end()) {
            report.controllers.push_back(*found);
            continue;
        }
        if (!report.image) continue;  // the run ended before any controller was worked on
        flash::FlashPartInfo part = flash::UnidentifiedFlashPart();
        const int row =
            record.szPartName[0] != '\0' ? flash::FindFlashPartByName(record.szPartName) : -1;
        if (row >= 0) part = flash::g_FlashParts[static_cast<std::size_t>(row)];
        ControllerReport c = DescribeController(record, part);
        c.strResult = "not updated";
        c.nResultCode = kResultTimedOut;
        c.strProblem = GetResultString(kResultTimedOut);
        c.strBackup = m_state->backups[i];
        report.controllers.push_back(std::move(c));
    }
    return report;
}

}  // namespace admin
