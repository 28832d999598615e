// The administrator's read-only runs (--list, --verify) and what an update run reports (its
// image, each controller's outcome and backup), each ending in a report.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "admin/probe.h"
#include "admin/report.h"
#include "console/run_options.h"
#include "util/controller_info.h"

namespace admin {

struct AdminRequest {
    std::string strImagePath;  // the image to use (a full path); empty: the program folder's
    std::vector<ControllerAddress> controllers;  // only these; empty: every controller found
    std::string strBackupFolder;                 // where backups go; empty: none are made
    std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

// --list: the controllers as the update finds them, each flash part with its identification and
// size, backups when asked for, the image that would be written, and warnings about what the
// update would leave out. Writes nothing to any flash. The exit status is the one the update
// would most likely end with: 1 no controller (or a selected one missing), 2 no image, 3 the
// image cannot be loaded, 5 a controller that cannot be updated (part not identified, backup
// failed), else 0; 7 when the driver cannot be loaded.
Report ListControllers(const AdminRequest& request);

// --verify: each controller's flash compared with what the update of the image leaves in it.
// Writes nothing. 0 when every controller matches, 5 when one does not (or cannot be read or
// identified); 1, 2, 3 and 7 as for ListControllers.
Report VerifyControllers(const AdminRequest& request);

// Records what an update run does for its report: hooks for the run's options, and the report
// once the run is over. Backups are made before each erase when a folder is given; a backup
// that fails keeps that controller from being erased, with a message.
class RunRecorder {
public:
    // onOutcome is called on a controller's job once that controller's outcome is known.
    RunRecorder(AdminRequest request,
                std::function<void(const ControllerReport&, const ImageDescription&)> onOutcome);

    // The run's options: the request's image and controllers, with this recorder's hooks.
    RunOptions Options();
    // The image loaded by the run, once it is (empty path before).
    ImageDescription Image() const;
    // The report of the run that ended with that exit status.
    Report Finish(int nExitStatus) const;

private:
    struct State;
    AdminRequest m_request;
    std::function<void(const ControllerReport&, const ImageDescription&)> m_onOutcome;
    std::shared_ptr<State> m_state;
};

// The report entry of a controller: its address, identifier row and, when identified, its part.
ControllerReport DescribeController(const ControllerInfo& record, const flash::FlashPartInfo& part);

// Why an image was not loaded: strPath empty when the folder's search found none; nResult -6
// when the path does not exist, else the load's result code.
std::string ImageProblemText(const std::string& strPath, int32_t nResult);

// The warnings of a controller walk: the 270X functions it left out, none found at all, or a
// selected address that is not among the controllers found.
std::vector<std::string> WalkWarnings(const std::vector<FoundFunction>& leftOut, bool bFound,
                                      const std::vector<ControllerInfo>& found,
                                      const std::vector<ControllerAddress>& selected);

// The image's description from the bytes its file gave.
ImageDescription DescribeImage(const std::string& strPath, const uint8_t* pImage,
                               uint32_t dwFileBytes);

}  // namespace admin
