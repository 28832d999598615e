// The Linux program's entry point: its options (help and version first of all), the
// administrator check, then either an administrator's read-only run (--list, --verify) or the
// update run: the terminal check, the terminal front end, and the program (access library,
// application) with the remaining arguments joined by single spaces as its command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "admin/commands.h"
#include "admin/flash_contents.h"
#include "app/program_entry.h"
#include "console/run_options.h"
#include "framework/posix/system_log.h"
#include "framework/services.h"
#include "programs/linux/options.h"
#include "programs/linux/report_output.h"
#include "programs/linux/terminal_front_end.h"
#include "res/dialog_templates.h"
#include "util/event_log.h"
#include "util/exit_status.h"
#include "util/result_codes.h"

#ifndef VLM_VERSION
#error "VLM_VERSION names the program's version"
#endif

namespace {

namespace fs = std::filesystem;
using cli::kProgramName;

// Exit statuses of the checks made before the application runs.
constexpr int kExitHelp = 0;
constexpr int kExitNoTerminal = 6;
constexpr int kExitNotAdministrator = 7;
constexpr int kExitImageNotFound = static_cast<int>(ExitStatus::kImageNotFound);
// A run that went well but could not write its report (EX_IOERR).
constexpr int kExitReportNotWritten = 74;

// Fields of the outcome records the program adds to the journal.
constexpr const char* kFieldOutcome = "VLM270_OUTCOME";
constexpr const char* kFieldImage = "VLM270_IMAGE";
constexpr const char* kFieldImageSha256 = "VLM270_IMAGE_SHA256";
constexpr const char* kFieldAttempts = "VLM270_ATTEMPTS";
constexpr const char* kFieldBackup = "VLM270_BACKUP";
constexpr const char* kStepOutcome = "outcome";

int UsageError(const std::string& strError) {
    std::fprintf(stderr, "%s: %s\n%sRun \"%s --help\" for the whole text.\n", kProgramName,
                 strError.c_str(), cli::UsageSynopsis().c_str(), kProgramName);
    return cli::kExitUsage;
}

// A path given on the command line, made absolute against the directory the program was started
// in (the run later works from the program's folder).
std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// Whether the folder is the program's own, where the image search looks.
bool IsProgramFolder(const std::string& strFolder) {
    std::error_code ec;
    const fs::path program = fs::canonical("/proc/self/exe", ec).parent_path();
    if (ec) return false;
    const fs::path folder = fs::canonical(strFolder, ec);
    return !ec && folder == program;
}

// Why a backup folder cannot be trusted, or empty when it can: one that anyone but root (the
// user running the program) could change, where a restore would find whatever they put there.
std::string UnsafeBackupFolder(const std::string& strFolder) {
    struct stat st {};
    if (stat(strFolder.c_str(), &st) != 0) return "the folder cannot be examined";
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
    if (st.st_uid == geteuid() && !othersWrite) return std::string();
    char mode[8] = {};
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("the folder could be changed by others than root (owner uid ") +
           std::to_string(st.st_uid) + ", mode " + mode +
           "), and a restore from it would write what they put there; make it root's alone "
           "(sudo chown root: " +
           strFolder + " && sudo chmod go-w " + strFolder + ")";
}

// One record per controller in the journal: "updated", with the image's SHA-256, or "not
// updated" with the result code, so that the journal shows every run's outcome.
void LogOutcome(const admin::ControllerReport& c, const admin::ImageDescription& image) {
    const bool bUpdated = c.nResultCode == kResultSuccess;
    std::string message = c.strAddress + (bUpdated ? " updated" : " not updated");
    if (c.bIdentified) message += " (" + c.strVendor + ":[" + c.strPart + "])";
    if (bUpdated) {
        message += " with " + image.strPath + ", sha256 " + image.strSha256;
    } else {
        message +=
            ": " + GetResultString(c.nResultCode) + " (" + std::to_string(c.nResultCode) + ")";
        if (!c.strProblem.empty() && c.strProblem != GetResultString(c.nResultCode)) {
            message += ", " + c.strProblem;
        }
    }
    std::vector<framework::EventField> fields = {
        {framework::kFieldEventSource, kEventSourceName},
        {kEventFieldController, c.strAddress},
        {kEventFieldStep, kStepOutcome},
        {kEventFieldResult, std::to_string(c.nResultCode)},
        {kFieldOutcome, bUpdated ? "updated" : "not-updated"},
        {kFieldImage, image.strPath},
        {kFieldImageSha256, image.strSha256},
        {kFieldAttempts, std::to_string(c.attempts.value_or(0))},
    };
    if (c.bIdentified) fields.push_back({kEventFieldPart, c.strVendor + ":[" + c.strPart + "]"});
    if (!c.strBackup.empty()) fields.push_back({kFieldBackup, c.strBackup});
    framework::WriteSystemLog(
        bUpdated ? framework::kLogPriorityNotice : framework::kLogPriorityError, message, fields);
}

// The mode a report of these options is in.
admin::ReportMode ModeOf(const cli::ProgramOptions& options) {
    if (options.bList) return admin::ReportMode::kList;
    if (options.bVerify) return admin::ReportMode::kVerify;
    return admin::ReportMode::kUpdate;
}

// Prints the report (JSON when asked for, else the read-only runs' lines; an update prints
// nothing more) and returns the run's exit status, or kExitReportNotWritten when a run that
// would have ended 0 could not write its report: a script must never take a lost report for a
// success.
int PrintReport(const cli::ProgramOptions& options, const admin::Report& report) {
    std::string out;
    if (options.bJson) {
        out = cli::ReportJson(report, VLM_VERSION);
    } else if (report.mode != admin::ReportMode::kUpdate) {
        out = cli::ReportText(report);
    }
    const bool written = std::fputs(out.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 &&
                         std::ferror(stdout) == 0;
    if (written) return report.nExitStatus;
    std::fprintf(stderr, "%s: the report could not be written to standard output: %s\n",
                 kProgramName, std::strerror(errno));
    return report.nExitStatus == 0 ? kExitReportNotWritten : report.nExitStatus;
}

// The report of a run that ended before it began: its mode, status and what is known.
int EndBeforeTheRun(const cli::ProgramOptions& options, int status,
                    const std::string& strImageProblem = std::string()) {
    if (!options.bJson) return status;
    admin::Report report;
    report.mode = ModeOf(options);
    report.nExitStatus = status;
    report.strImageProblem = strImageProblem;
    return PrintReport(options, report);
}

// A close signal in a read-only run: the run ends at its next safe point, with its report.
extern "C" void StopReadOnlyRun(int nSignal) {
    admin::RequestStop(nSignal);
}

// --list and --verify: no licence, no terminal, nothing written to any flash. INT, TERM, HUP
// and QUIT end the run at its next safe point (between two flash reads) with its report; a
// closed output only makes the report fail (74), it never kills the run mid-command.
int RunReadOnly(const cli::ProgramOptions& options, const admin::AdminRequest& request) {
    struct sigaction stop {};
    stop.sa_handler = StopReadOnlyRun;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signalNumber, &stop, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    framework::Services services;
    services.resources = &res::Resources();
    framework::ScopedServices installed(std::move(services));
    admin::Report report;
    report.mode = ModeOf(options);
    int status = RunWithAccessLibrary([&] {
        report =
            options.bList ? admin::ListControllers(request) : admin::VerifyControllers(request);
        return report.nExitStatus;
    });
    report.nExitStatus = status;
    return PrintReport(options, report);
}

// The update run, interactive or silent, with the options' image, controllers and backups.
int RunUpdate(const cli::ProgramOptions& options, const admin::AdminRequest& request) {
    const bool silent = options.bSilent;
    if (!silent && isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr,
                     "%s: the interactive run asks for the licence and needs a terminal on "
                     "standard input; run it as \"%s /s\" for the silent mode\n",
                     kProgramName, kProgramName);
        return EndBeforeTheRun(options, kExitNoTerminal);
    }

    terminal::TerminalFrontEnd frontEnd(terminal::StandardTerminalOptions(silent));
    const bool verbose = options.bVerbose && silent;
    admin::RunRecorder recorder(
        request, [verbose](const admin::ControllerReport& c, const admin::ImageDescription& image) {
            LogOutcome(c, image);
            if (!verbose) return;
            std::string line = std::string(kProgramName) + ": " + c.strAddress + " " + c.strResult;
            if (!c.strBackup.empty()) line += ", backup " + c.strBackup;
            std::fprintf(stderr, "%s\n", line.c_str());
        });
    RunOptions runOptions = recorder.Options();
    auto describe = std::move(runOptions.onImageLoaded);
    runOptions.onImageLoaded = [&, describe](const std::string& strPath, const uint8_t* pImage,
                                             uint32_t dwFileBytes) {
        describe(strPath, pImage, dwFileBytes);
        frontEnd.SetImageName(strPath);
        if (verbose) {
            const admin::ImageDescription image = recorder.Image();
            std::fprintf(stderr, "%s: image %s, %u bytes, sha256 %s\n", kProgramName,
                         image.strPath.c_str(), static_cast<unsigned>(image.dwFileBytes),
                         image.strSha256.c_str());
        }
    };
    SetRunOptions(std::move(runOptions));

    // The program's services: the platform's, with the terminal's windows and message boxes
    // and the program's resources.
    framework::Services services;
    services.resources = &res::Resources();
    frontEnd.Provide(services);
    framework::ScopedServices installed(std::move(services));
    frontEnd.Install();
    int status = RunVlm270FWUpdate(options.strCommandLine);
    frontEnd.Uninstall();
    SetRunOptions(RunOptions{});
    return PrintReport(options, recorder.Finish(status));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::ProgramOptions options;
    std::string strError;
    const bool parsed = cli::ParseOptions(args, options, strError);
    // Help and version win over everything, also over a usage error.
    if (options.bHelp) {
        std::fputs(cli::UsageText().c_str(), stdout);
        return kExitHelp;
    }
    if (options.bVersion) {
        std::printf("%s %s\n", kProgramName, VLM_VERSION);
        return kExitHelp;
    }
    if (!parsed) return UsageError(strError);

    admin::AdminRequest request;
    request.controllers = options.controllers;
    if (!options.strImagePath.empty()) {
        request.strImagePath = Absolute(options.strImagePath);
        struct stat st {};
        if (stat(request.strImagePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            std::fprintf(stderr, "%s: --image %s: no such file\n", kProgramName,
                         options.strImagePath.c_str());
            return EndBeforeTheRun(
                options, kExitImageNotFound,
                admin::ImageProblemText(request.strImagePath, kResultEntityNotFound));
        }
    }
    if (!options.strBackupFolder.empty()) {
        request.strBackupFolder = Absolute(options.strBackupFolder);
        struct stat st {};
        if (stat(request.strBackupFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return UsageError("--backup " + options.strBackupFolder + ": no such folder");
        }
        if (IsProgramFolder(request.strBackupFolder)) {
            return UsageError("--backup " + options.strBackupFolder +
                              ": that is the program's folder, where a backup could be taken "
                              "for the image; back up into a folder of its own");
        }
    }

    if (geteuid() != 0) {
        std::fprintf(stderr, "%s needs administrator rights: run it with sudo\n", kProgramName);
        return EndBeforeTheRun(options, kExitNotAdministrator);
    }
    if (!request.strBackupFolder.empty()) {
        const std::string strUnsafe = UnsafeBackupFolder(request.strBackupFolder);
        if (!strUnsafe.empty()) {
            std::fprintf(stderr, "%s: --backup %s: %s\n", kProgramName,
                         options.strBackupFolder.c_str(), strUnsafe.c_str());
            return EndBeforeTheRun(options, kExitNotAdministrator);
        }
    }
    if (options.bList || options.bVerify) return RunReadOnly(options, request);
    return RunUpdate(options, request);
}
