// The main window: the controllers' rows, their flash parts, the activity bar and one job bar
// per controller. Its initialisation asks for the licence, loads the access library's driver
// and starts the upgrade run; the run closes it when it is over.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "console/run_options.h"
#include "console/upgrade_run.h"
#include "framework/critical_section.h"
#include "framework/dialog.h"
#include "framework/event.h"
#include "framework/keep_awake.h"
#include "framework/thread.h"
#include "licence/agreement.h"
#include "restart/reboot_dialog.h"
#include "util/controller_info.h"
#include "util/option_rom.h"

inline constexpr const char* kMainTitleFormat = "Velmora 270 Firmware Upgrade Tool %s";
inline constexpr const char* kMainTitleVersion = "Ver 1.0.2.0";
inline constexpr const char* kSilentCommandLine = "/s";
inline constexpr unsigned kAboutCommandId = 0x0010;
// The hide used before the licence and before a restart: not topmost, hidden, not activated,
// neither moved nor sized.
inline constexpr unsigned kHideWindowFlags = 0x93;
// Every window-position flag but the show bit: what the silent-mode filter leaves.
inline constexpr unsigned kNeverShowFlags = 0xFFFFFFBF;
// The window change before each job start: every flag but the hide bit.
inline constexpr unsigned kJobStartWindowFlags = 0xFFFFFF7F;
// Locks of the dialog: spin count with the wait event allocated at once.
inline constexpr uint32_t kLockSpinCount = 0x80000400;
inline constexpr int kProgressLow = 0;
inline constexpr int kProgressHigh = 100;
inline constexpr int kProgressStep = 1;
inline constexpr framework::Colour kBarGreen = framework::Rgb(0, 150, 75);
inline constexpr framework::Colour kBarBlue = framework::Rgb(50, 50, 255);
inline constexpr framework::Colour kBarRed = framework::Rgb(255, 50, 50);
inline constexpr uint64_t kWorkerWaitSliceMs = 1000;
inline constexpr uint8_t kResultNotUpdated = 0;
inline constexpr uint8_t kResultUpdated = 1;

class CVLM270FWUpdateDlg;
// The main dialog, set once before any other thread starts and never cleared.
extern CVLM270FWUpdateDlg* g_pMainDlg;

// The About box.
class CAboutDlg : public framework::Dialog {
public:
    CAboutDlg();
};

class CVLM270FWUpdateDlg : public framework::Dialog {
public:
    CVLM270FWUpdateDlg();
    ~CVLM270FWUpdateDlg() override;

    // Fills the number rows and shows the job bars of n controllers, then their flash parts.
    void ShowControllers(uint8_t ucCount);
    // Fills the flash part labels of n controllers from the controller table.
    void ShowFlashParts(uint8_t ucCount);
    // Sets up the bars and empties every label.
    void ClearLabels();
    // The activity bar and the job bars: range, step, position 0 and green; job bars hidden.
    void SetUpProgressBars();

    // The run on the worker thread, from the controller walk to the jobs' results: how it
    // ends. The ending's own steps (message, bar, exit status) are EndRun's.
    RunEnding RunFirmwareUpgrade();
    // Shows how the run ended: the ending's timer stop, window hide, red and full bar, exit
    // status and message, each in the order that ending has them.
    void EndRun(RunEnding ending);
    // The worker's closing steps after the run: restart prompt, restart, driver unload, close.
    void FinishWorker();

    // Waits for the worker to end, then for the job threads: jobs stopped at the time limit get
    // ullStoppedLimitMs counted from their stop, whatever they are blocked on. True when every
    // thread has ended; then no thread of the run can reach the image buffer, and it is freed.
    bool WaitForThreadsToEnd(uint64_t ullStoppedLimitMs);

    // Whether the upgrade run's worker is running (a close now is deferred).
    bool RunInProgress() const;
    // Job i's flash write has begun: from now on its flash may hold anything until the job ends.
    void MarkFlashWriteBegun(uint8_t ucIndex) {
        m_bFlashWriteBegun[ucIndex].store(true, std::memory_order_release);
    }
    bool Silent() const { return m_bSilent; }

    CAgreement m_Agreement;
    CReBoot m_ReBoot;
    framework::Icon m_hIcon = 0;
    bool m_bSilent = false;
    std::string m_strCmdLine;
    framework::WinThread* m_pWorkerThread = nullptr;
    framework::WinThread* m_pJobThread[kMaxControllers] = {};
    framework::CriticalSection m_csWrite;
    framework::CriticalSection m_csIdentify;
    framework::ProgressCtrl m_OverallProgress;
    framework::ProgressCtrl m_JobProgress[kMaxControllers];
    framework::StaticText m_FlashPartLabel[kMaxControllers];
    framework::StaticText m_UpdateToValue;
    framework::StaticText m_NumberLabel[3 * kMaxControllers];
    std::atomic<uint8_t> m_ucResult[kMaxControllers] = {};
    // What became of each controller's job: written by that job alone, read once it finished.
    ControllerOutcome m_Outcome[kMaxControllers] = {};
    // The image's option ROM when the run checks it, else null.
    const optionrom::RomCheck* ImageRom() const {
        return m_bImageRomChecked ? &m_ImageRom : nullptr;
    }

    // The threads' handles: they outlive the self-deleting thread objects, so the run can tell
    // whether a thread still runs without touching its object.
    framework::ThreadHandle m_hWorkerThread;
    framework::ThreadHandle m_hJobThread[kMaxControllers];

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    void OnSysCommand(unsigned id, intptr_t lParam) override;
    void OnPaint() override;
    framework::Icon OnQueryDragIcon() override;
    void OnTimer(unsigned id) override;
    void OnWindowPosChanging(framework::WindowPos& pos) override;
    // The close box, a posted close request, the Cancel button and Escape.
    void OnClose() override;
    void OnCancel() override;
    // Enter (the hidden default button): ends the dialog, but not while a run is in progress.
    void OnOK() override;

private:
    friend unsigned FirmwareUpgradeThreadProc(void* pParam);

    // The command line's comparison with the silent switch: ASCII letters without regard to
    // case, every other byte as it is.
    static bool EqualsIgnoringCase(const std::string& a, const std::string& b);
    void EnableDlgItem(int id);
    // The close handling shared by the close request and the Cancel command.
    void CloseHandler();
    // The failure endings' common step: the activity bar red and full.
    void ShowFailureOnBar();
    // Allocates the image buffer and loads the image into it; false (with the diagnostic line
    // written) when it could not be loaded.
    bool LoadImage();
    // Reads the loaded image as an option ROM into m_ImageRom: true when well formed, or when
    // forced (said in a message and the event log); false, with m_strImageRefusal, when not.
    bool CheckImageRom(bool bForce);
    // Starts job i's thread; false when it could not start.
    bool StartJob(uint8_t ucIndex);
    // Waits for every job to finish, within the run's time limit: false at the time-out.
    bool WaitForJobs(uint8_t ucCount);
    // The time-out's first step: stops the unfinished jobs and waits a while for their threads.
    void StopUnfinishedJobs(uint8_t ucCount);
    // After the time-out's message: one line per stopped controller whose flash may be partly
    // written, in the event log and for the person at the program.
    void ReportPartlyWrittenFlashes();
    // Whether job i's thread was started and has not ended yet.
    bool JobThreadRunning(uint8_t ucIndex) const;
    // Waits until no job thread runs (true), or until the clock's millisecond count reaches
    // ullDeadlineMs (false).
    bool WaitForJobThreads(uint64_t ullDeadlineMs);

    std::atomic<bool> m_bJobBarsPlaced{false};
    // Set at the end of the dialog's initialisation; the worker starts its run only then.
    framework::Event m_Initialised;
    std::atomic<bool> m_bWorkerStarted{false};
    std::atomic<bool> m_bSkipUnload{false};
    // Whether the access library is the emulated PC, decided once before the run starts: a run
    // on the emulated PC never restarts this computer.
    bool m_bEmulatedPc = false;
    // Per job: its flash write had begun; it was stopped at the time limit.
    std::atomic<bool> m_bFlashWriteBegun[kMaxControllers] = {};
    std::atomic<bool> m_bJobStopped[kMaxControllers] = {};
    // When the unfinished jobs were stopped (process clock, milliseconds); 0 while none was.
    std::atomic<uint64_t> m_ullJobsStoppedAtMs{0};
    // The run's image file (full path) and what its load returned; the worker's alone.
    std::string m_strFwFullName;
    int32_t m_nImageLoadResult = 0;
    std::string m_strImageRefusal;  // why a loaded image was refused, when it was
    // The image's option ROM, when the run checks it (m_bImageRomChecked).
    optionrom::RomCheck m_ImageRom;
    bool m_bImageRomChecked = false;
    // Holds the computer awake from the first job start until the run's ending is shown.
    framework::KeepAwake m_KeepAwake;
};
