#include "admin/commands.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "admin/flash_contents.h"
#include "admin/probe.h"
#include "admin/sha256.h"
#include "console/preflight.h"
#include "flash/spi_protocol.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/message_box.h"
#include "framework/platform.h"
#include "pci/controller_ids.h"
#include "pci/vlmio_access.h"
#include "util/exit_status.h"
#include "util/image_file.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace admin {
namespace {

constexpr int kStatusHostNotReady = static_cast<int>(ExitStatus::kHostNotReady);
constexpr double kMsPerSecond = 1000.0;
constexpr int kSignalStatusBase = 128;
constexpr const char* kImageNotFoundText = "Can't Find Firmware file(*.rom) !";
constexpr const char* kBackupFailedFormat =
    "The backup of the flash of %s failed: %s. Its flash was left as it was; it is not updated.";

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
        image.strProblem = ImageProblemText(strPath, kResultEntityNotFound);
        return image;
    }
    image.buffer.reset(new (std::nothrow) uint8_t[kImageBufferBytes]());
    const int32_t nLoad = image.buffer == nullptr
                              ? kResultInsufficientMemory
                              : g_Utility.bOpenFWBinFile(strPath, image.buffer.get());
    if (nLoad != kResultSuccess) {
        image.nStatus = Status(ExitStatus::kImageLoadFailed);
        image.strProblem = ImageProblemText(strPath, nLoad);
        image.buffer.reset();
        return image;
    }
    image.dwLength = g_Utility.m_dwFWBinSize;
    image.description = DescribeImage(strPath, image.buffer.get(), g_Utility.m_dwFWFileBytes);
    return image;
}

// Whether every selected controller is among those found.
bool AllSelectedFound(const std::vector<ControllerInfo>& found,
                      const std::vector<ControllerAddress>& selected) {
    return std::all_of(selected.begin(), selected.end(), [&](const ControllerAddress& a) {
        return std::any_of(found.begin(), found.end(),
                           [&](const ControllerInfo& r) { return IsAt(r, a); });
    });
}

// What the update leaves out, in words.
std::string LeftOutWarning(const FoundFunction& f) {
    std::string text = "270X function " + ControllerAddressText(f.address);
    if (!WalkCovers(f.address)) {
        return text + " on a bus the walk skips (above 0x0f): not updated";
    }
    return text + " beyond the first four: not updated";
}

// The entry of a 270X function the update leaves out, in a --verify report.
ControllerReport NotCompared(const FoundFunction& f) {
    ControllerInfo record{};
    record.ucBus = f.address.ucBus;
    record.ucDevice = f.address.ucDevice;
    record.ucFunction = f.address.ucFunction;
    record.ucIdRow = f.ucIdRow;
    ControllerReport c = DescribeController(record, flash::UnidentifiedFlashPart());
    c.strResult = "not compared";
    c.strProblem = LeftOutWarning(f) + ", so its flash was not compared";
    return c;
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
    std::vector<ControllerInfo> found;
    for (const ProbedController& p : probed.probe.controllers) found.push_back(p.record);
    report.warnings =
        WalkWarnings(probed.probe.leftOut, probed.probe.bFound, found, request.controllers);
    if (!probed.probe.bFound || !AllSelectedFound(found, request.controllers)) {
        report.nExitStatus = Status(ExitStatus::kControllerNotReady);
        return probed;
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

// A read-only run stopped by a signal ends, at the safe point it reached, with the shell's
// status for that signal (128 + its number) and says how far it got.
void EndWhenStopped(Report& report, std::size_t nControllers) {
    const int nSignal = StopRequested();
    if (nSignal == 0) return;
    report.warnings.push_back("stopped by signal " + std::to_string(nSignal) + " after " +
                              std::to_string(report.controllers.size()) + " of " +
                              std::to_string(nControllers) +
                              " controllers; no flash command was left open");
    report.nExitStatus = kSignalStatusBase + nSignal;
}

// A controller's entry as the pre-flight verdict gives it: "ready", or what keeps it from being
// updated.
void TakeVerdict(ControllerReport& c, const PreflightVerdict& verdict) {
    c.strPreflight = verdict.pszReason;
    if (verdict.bCanUpdate) {
        c.strResult = "ready";
        return;
    }
    switch (verdict.failed) {
        case PreflightCondition::kPartIdentified:
            c.strResult = "not identified";
            break;
        case PreflightCondition::kBackupTaken:
            c.strResult = "backup failed";
            break;
        default:
            c.strResult = "cannot be updated";
            break;
    }
    c.nResultCode = verdict.nResultCode;
    c.strProblem = verdict.strText + ": it would not be updated";
}

}  // namespace

std::string ImageProblemText(const std::string& strPath, int32_t nResult) {
    if (strPath.empty()) return kImageNotFoundText;
    if (nResult == kResultEntityNotFound) {
        return framework::FileErrorText(framework::FileErrorKind::kNotFound, strPath);
    }
    return strPath + " could not be loaded: " + GetResultString(nResult) + " (" +
           std::to_string(nResult) + ")";
}

std::vector<std::string> WalkWarnings(const std::vector<FoundFunction>& leftOut, bool bFound,
                                      const std::vector<ControllerInfo>& found,
                                      const std::vector<ControllerAddress>& selected) {
    std::vector<std::string> warnings;
    for (const FoundFunction& f : leftOut) warnings.push_back(LeftOutWarning(f));
    if (!bFound) {
        warnings.push_back("no 270X controller was found");
        return warnings;
    }
    for (const ControllerAddress& address : selected) {
        if (!AllSelectedFound(found, {address})) {
            warnings.push_back("no 270X controller was found at " + ControllerAddressText(address));
            break;
        }
    }
    return warnings;
}

ImageDescription DescribeImage(const std::string& strPath, const uint8_t* pImage,
                               uint32_t dwFileBytes) {
    ImageDescription d;
    d.strPath = strPath;
    d.dwFileBytes = dwFileBytes;
    d.strSha256 = Sha256Hex(pImage, dwFileBytes);
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
        if (!probed.bUsable) return;
        bool bAllReady = true;
        for (const ProbedController& p : probed.probe.controllers) {
            if (StopRequested() != 0) break;
            ControllerReport c = Describe(p);
            // The update's own conditions; without an image only the flash part's can be known.
            PreflightFacts facts;
            facts.strImagePath = image.description.strPath;
            facts.dwImageLength = image.dwLength;
            facts.record = p.record;
            facts.part = p.part;
            PreflightVerdict verdict = CheckBeforeErase(
                facts, image.nStatus == 0 ? PreflightStage::kAll : PreflightStage::kFlash);
            if (!request.strBackupFolder.empty() && c.bIdentified) {
                // Backed up whatever the verdict: a flash read is never harmful.
                const BackupResult backup =
                    BackupFlash(g_SPICtl, p.record, p.part, request.strBackupFolder, request.now());
                c.strBackup = backup.strPath;
                if (verdict.bCanUpdate) verdict = BackupVerdict(backup.nResult, backup.strProblem);
            }
            TakeVerdict(c, verdict);
            bAllReady = bAllReady && verdict.bCanUpdate;
            report.controllers.push_back(std::move(c));
        }
        if (!bAllReady && report.nExitStatus == 0) report.nExitStatus = kStatusHostNotReady;
        EndWhenStopped(report, probed.probe.controllers.size());
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
            if (StopRequested() != 0) break;
            ControllerReport c = Describe(p);
            bool bBackedUp = true;
            if (!request.strBackupFolder.empty() && c.bIdentified) {
                const BackupResult backup =
                    BackupFlash(g_SPICtl, p.record, p.part, request.strBackupFolder, request.now());
                c.strBackup = backup.strPath;
                if (backup.nResult != kResultSuccess) {
                    // As --list --backup: a backup asked for and not made fails the run.
                    c.strProblem = BackupVerdict(backup.nResult, backup.strProblem).strText;
                    bBackedUp = false;
                }
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
            } else if (v.nResult == kResultTimedOut && StopRequested() != 0) {
                c.strResult = "not compared";
                c.strProblem = "the run was stopped before its flash was read whole";
            } else if (!c.bIdentified) {
                c.strResult = "not identified";
            } else {
                c.strResult = "unreadable";
            }
            bAllMatch = bAllMatch && v.nResult == kResultSuccess && bBackedUp;
            report.controllers.push_back(std::move(c));
        }
        // A 270X the update leaves out cannot hold the image for all the run knows: it is named,
        // and the host does not count as holding it everywhere.
        if (request.controllers.empty()) {
            for (const FoundFunction& f : probed.probe.leftOut) {
                report.controllers.push_back(NotCompared(f));
                bAllMatch = false;
            }
        }
        if (!bAllMatch && report.nExitStatus == 0) report.nExitStatus = kStatusHostNotReady;
        EndWhenStopped(report, probed.probe.controllers.size());
    });
}

// ---- The update run's report ------------------------------------------------------------------

struct RunRecorder::State {
    mutable std::mutex mutex;
    ImageDescription image;
    std::vector<ControllerReport> done;  // outcomes of the controllers that finished
    std::vector<std::string> backups;    // per target (empty: none made)
    std::vector<std::string> problems;   // per target
    std::vector<std::string> preflight;  // per target: the backup's verdict word when it failed
    // Per target: the result of its backup, made before the jobs (a job without one is not
    // erased).
    std::vector<int32_t> backupResults;
    std::string imageProblem;           // why the run's image was not loaded
    std::vector<std::string> warnings;  // what the run left out, as --list words it
};

RunRecorder::RunRecorder(
    AdminRequest request,
    std::function<void(const ControllerReport&, const ImageDescription&)> onOutcome)
    : m_request(std::move(request)),
      m_onOutcome(std::move(onOutcome)),
      m_state(std::make_shared<State>()) {
    m_state->backups.resize(kMaxControllers);
    m_state->problems.resize(kMaxControllers);
    m_state->preflight.resize(kMaxControllers);
    m_state->backupResults.resize(kMaxControllers, kResultInvalidParameter);
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
    const std::vector<ControllerAddress> selected = m_request.controllers;
    options.onControllersFound = [state, selected](bool bFound) {
        // The separate scan, as --list makes it, for what the walk left out.
        std::vector<FoundFunction> leftOut;
        std::vector<ControllerInfo> found(g_Utility.m_Controllers,
                                          g_Utility.m_Controllers + g_Utility.m_ucControllerCount);
        for (const FoundFunction& f : ScanAllBuses(pci::VlmIo())) {
            if (std::none_of(found.begin(), found.end(),
                             [&](const ControllerInfo& r) { return IsAt(r, f.address); })) {
                leftOut.push_back(f);
            }
        }
        std::vector<std::string> warnings = WalkWarnings(leftOut, bFound, found, selected);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->warnings = std::move(warnings);
    };
    options.onImageRefused = [state](const std::string& strPath, int32_t nResult) {
        std::string problem = ImageProblemText(strPath, nResult);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->imageProblem = std::move(problem);
    };
    if (!m_request.strBackupFolder.empty()) {
        const std::string strFolder = m_request.strBackupFolder;
        auto now = m_request.now;
        // Every flash is backed up before the first job starts, so that the backups never eat
        // into the time the run gives its jobs; a controller whose backup failed is then not
        // erased.
        options.beforeJobs = [state, strFolder, now](uint8_t ucCount) {
            for (uint8_t t = 0; t < ucCount && t < kMaxControllers; ++t) {
                ControllerInfo record = g_Utility.m_Controllers[t];  // the job identifies its own
                const flash::FlashPartInfo part = g_SPICtl.QueryFlashPart(record);
                BackupResult backup;
                if (flash::IsIdentified(part)) {
                    backup = BackupFlash(g_SPICtl, record, part, strFolder, now());
                } else {
                    // Its job will find the part not identified and leave it alone.
                    backup.nResult = kResultSuccess;
                }
                const PreflightVerdict verdict = BackupVerdict(backup.nResult, backup.strProblem);
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->backups[t] = backup.strPath;
                    state->backupResults[t] = backup.nResult;
                    state->preflight[t] = verdict.bCanUpdate ? "" : verdict.pszReason;
                    state->problems[t] = verdict.strText;
                }
                if (!verdict.bCanUpdate) {
                    char szMessage[1024] = {};
                    std::snprintf(szMessage, sizeof szMessage, kBackupFailedFormat,
                                  ControllerAddressText(record).c_str(), backup.strProblem.c_str());
                    framework::AfxMessageBox(szMessage,
                                             framework::kMbOk | framework::kMbIconExclamation);
                }
            }
        };
        options.beforeErase = [state](uint8_t ucTarget, const ControllerInfo&,
                                      const flash::FlashPartInfo&) {
            std::lock_guard<std::mutex> lock(state->mutex);
            return ucTarget < kMaxControllers ? state->backupResults[ucTarget]
                                              : kResultInvalidParameter;
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
            c.strPreflight =
                outcome.strPreflight.empty() ? state->preflight[ucTarget] : outcome.strPreflight;
            if (c.strProblem.empty()) c.strProblem = outcome.strProblem;
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
