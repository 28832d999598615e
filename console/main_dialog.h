// The main window: the controllers' rows, their flash parts, the activity bar and one job bar
// per controller. Its initialisation asks for the licence, loads the access library's driver
// and starts the upgrade run; the run closes it when it is over.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/critical_section.h"
#include "framework/dialog.h"
#include "framework/thread.h"
#include "licence/agreement.h"
#include "restart/reboot_dialog.h"
#include "util/controller_info.h"

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

// The run's worker: 0 while it runs, 1 once it has made its closing steps.
extern std::atomic<uint8_t> g_bWorkerDone;

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

    // The whole run, on the worker thread: true only when every controller was updated.
    bool RunFirmwareUpgrade();
    // The worker's closing steps after the run: restart prompt, restart, driver unload, close.
    void FinishWorker();

    // Whether the worker or a job thread has not ended yet.
    bool ThreadsStillRunning() const;
    // Waits for the worker to end, then for the job threads, giving up only when a call has
    // stayed inside the access library for ullStuckLimitMs; true when every thread has ended.
    bool WaitForThreadsToEnd(uint64_t ullStuckLimitMs);
    // Whether a close was asked for while the run was in progress.
    bool CloseDeferred() const { return m_bCloseDeferred.load(std::memory_order_acquire); }

    // Whether the upgrade run's worker is running (a close now is deferred).
    bool RunInProgress() const;
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
    // Waits for the job threads that have not ended, up to the limit; true when none still
    // runs inside the access library.
    bool WaitForJobThreads(uint64_t ullLimitMs);
    // Starts job i's thread; false when it could not start.
    bool StartJob(uint8_t ucIndex, const std::string& strFwFullName);
    // Waits for every job to finish, within the run's time limit: false at the time-out.
    bool WaitForJobs(uint8_t ucCount);
    // The time-out ending.
    void TimeOutEnding(uint8_t ucCount);

    std::atomic<bool> m_bJobBarsPlaced{false};
    std::atomic<bool> m_bInitialised{false};
    std::atomic<bool> m_bWorkerStarted{false};
    std::atomic<bool> m_bCloseDeferred{false};
    std::atomic<bool> m_bSkipUnload{false};
};

// The worker thread's procedure: the run and its closing steps. Returns 1.
unsigned FirmwareUpgradeThreadProc(void* pParam);
