#include "console/main_dialog.h"

#include <cstdio>

#include "framework/platform.h"
#include "framework/window_system.h"
#include "pci/vlmio_access.h"
#include "res/resource_ids.h"
#include "util/exit_status.h"
#include "util/utility.h"

CVLM270FWUpdateDlg* g_pMainDlg = nullptr;

namespace {

constexpr const char* kBusCaption = "Bus:";
constexpr const char* kDeviceCaption = "Device:";
constexpr const char* kFunctionCaption = "Function:";
constexpr const char* kSingleControllerName = "270X :";
constexpr const char* kUpdateToCaption = "Update to:";
constexpr const char* kControllerNames[kMaxControllers] = {
    "270X 1:", "270X 2:", "270X 3:", "270X 4:"};
// Number labels: bus, device and function of each controller, in that order.
constexpr int kBusColumn = 0;
constexpr int kDeviceColumn = 1;
constexpr int kFunctionColumn = 2;
constexpr int kColumns = 3;

std::string TwoDigits(unsigned value) {
    char text[8] = {};
    std::snprintf(text, sizeof text, "%02d", static_cast<int>(value));
    return text;
}

}  // namespace

CAboutDlg::CAboutDlg() : framework::Dialog(res::IDD_ABOUTBOX) {}

CVLM270FWUpdateDlg::CVLM270FWUpdateDlg() : framework::Dialog(res::IDD_VLM270FWUPDATE_DIALOG) {
    m_hIcon = framework::LoadIcon(res::IDR_MAINFRAME);
    m_bSilent = false;
}

CVLM270FWUpdateDlg::~CVLM270FWUpdateDlg() = default;

void CVLM270FWUpdateDlg::DoDataExchange() {
    // The order of the dialog's bindings: activity bar, job bars, flash part labels, the
    // update-to value, then the number labels.
    BindControl(res::IDC_OVERALL_PROGRESS, m_OverallProgress);
    for (std::size_t i = 0; i < kMaxControllers; ++i) {
        BindControl(res::kJobBars[i], m_JobProgress[i]);
    }
    for (std::size_t i = 0; i < kMaxControllers; ++i) {
        BindControl(res::kFlashPartLabels[i], m_FlashPartLabel[i]);
    }
    BindControl(res::IDC_UPDATE_TO_VALUE, m_UpdateToValue);
    for (std::size_t i = 0; i < kMaxControllers; ++i) {
        const res::NumberRow& row = res::kNumberRows[i];
        BindControl(row.bus, m_NumberLabel[i * kColumns + kBusColumn]);
        BindControl(row.device, m_NumberLabel[i * kColumns + kDeviceColumn]);
        BindControl(row.function, m_NumberLabel[i * kColumns + kFunctionColumn]);
    }
}

bool CVLM270FWUpdateDlg::OnInitDialog() {
    framework::Dialog::OnInitDialog();

    if (framework::SystemMenu* pSysMenu = GetSystemMenu()) {
        std::string strAboutMenu = framework::LoadString(res::IDS_ABOUTBOX);
        if (!strAboutMenu.empty()) {
            pSysMenu->AppendMenu(framework::kMfSeparator);
            pSysMenu->AppendMenu(framework::kMfString, kAboutCommandId, strAboutMenu);
        }
    }
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    if (EqualsIgnoringCase(m_strCmdLine, kSilentCommandLine)) {
        ShowWindow(framework::kSwHide);
        m_bSilent = true;
    }
    SetWindowPos(framework::kHwndNoTopmost, 0, 0, 0, 0, kHideWindowFlags);

    framework::SetCurrentDirectory(g_Utility.m_szModuleDir);

    char szTitle[128] = {};
    std::snprintf(szTitle, sizeof szTitle, kMainTitleFormat, kMainTitleVersion);
    SetWindowText(szTitle);

    pci::IVlmIo& io = pci::VlmIo();
    // Decided once, before anything can be inside the library.
    m_bEmulatedPc = io.IsEmulated();
    if (!m_bSilent) {
        if (m_Agreement.DoModal() != framework::kIdOkCommand) {
            // A licence that could not even be shown is a failure of the program, not the
            // user's refusal.
            RecordExitStatus(m_Agreement.RichTextLoaded() ? ExitStatus::kLicenceNotAccepted
                                                          : ExitStatus::kUnexpectedFailure);
            io.UnloadVlmIODriver();
            PostClose();
            return false;
        }
    } else if (!m_Agreement.RichTextLoaded()) {
        // The quit request that follows the failed library load would otherwise end the
        // program while the run writes: end it before the run starts.
        RecordExitStatus(ExitStatus::kUnexpectedFailure);
        io.UnloadVlmIODriver();
        PostClose();
        return false;
    }

    io.UnloadVlmIODriver();
    if (io.LoadVlmIODriver() != 0) {
        m_csWrite.Initialize(kLockSpinCount);
        m_csIdentify.Initialize(kLockSpinCount);
        g_bWorkerDone.store(0, std::memory_order_release);
        m_Initialised.Reset();
        m_bWorkerStarted.store(true, std::memory_order_release);
        m_pWorkerThread =
            framework::BeginThread(FirmwareUpgradeThreadProc, &g_bWorkerDone,
                                   framework::ThreadPriority::kHighest, &m_hWorkerThread);
        if (m_pWorkerThread == nullptr) {
            // Nothing was updated and nothing will be: close as after a failed driver load.
            m_bWorkerStarted.store(false, std::memory_order_release);
            RecordExitStatus(ExitStatus::kUnexpectedFailure);
            io.UnloadVlmIODriver();
            PostClose();
        }
    } else {
        RecordExitStatus(ExitStatus::kAccessUnavailable);
        io.UnloadVlmIODriver();
        PostClose();
    }

    ClearLabels();
    // The worker starts its run only now, so that clearing the labels can never undo what the
    // run has already shown.
    m_Initialised.Set();
    return true;
}

bool CVLM270FWUpdateDlg::EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

void CVLM270FWUpdateDlg::ClearLabels() {
    SetUpProgressBars();
    for (const res::NumberRow& row : res::kNumberRows) {
        for (int id : {row.busCaption, row.deviceCaption, row.functionCaption}) {
            SetDlgItemText(id, std::string());
        }
    }
    for (framework::StaticText& label : m_NumberLabel) label.SetWindowText(std::string());
    for (int id : res::kControllerNames) SetDlgItemText(id, std::string());
    for (framework::StaticText& label : m_FlashPartLabel) label.SetWindowText(std::string());
    SetDlgItemText(res::IDC_UPDATE_TO_CAPTION, std::string());
    m_UpdateToValue.SetWindowText(std::string());
    m_bJobBarsPlaced.store(false, std::memory_order_release);
}

void CVLM270FWUpdateDlg::SetUpProgressBars() {
    m_OverallProgress.SetRange(kProgressLow, kProgressHigh);
    m_OverallProgress.SetStep(kProgressStep);
    m_OverallProgress.SetPos(kProgressLow);
    m_OverallProgress.SetBarColor(kBarGreen);
    for (framework::ProgressCtrl& bar : m_JobProgress) {
        bar.ShowWindow(framework::kSwHide);
        bar.SetRange(kProgressLow, kProgressHigh);
        bar.SetStep(kProgressStep);
        bar.SetPos(kProgressLow);
        bar.SetBarColor(kBarGreen);
    }
}

void CVLM270FWUpdateDlg::ShowControllers(uint8_t ucCount) {
    for (framework::StaticText& label : m_NumberLabel) label.EnableWindow(true);
    // Only the first showing places the job bars at 0: later ones (from the jobs) leave every
    // bar where its job has put it, so a finished bar never jumps back.
    const bool bPlaceBars = !m_bJobBarsPlaced.exchange(true, std::memory_order_acq_rel);
    auto showRow = [this, bPlaceBars](std::size_t i) {
        const res::NumberRow& row = res::kNumberRows[i];
        const ControllerInfo& record = g_Utility.m_Controllers[i];
        SetDlgItemText(row.busCaption, kBusCaption);
        SetDlgItemText(row.deviceCaption, kDeviceCaption);
        SetDlgItemText(row.functionCaption, kFunctionCaption);
        m_NumberLabel[i * kColumns + kBusColumn].SetWindowText(TwoDigits(record.ucBus));
        m_NumberLabel[i * kColumns + kDeviceColumn].SetWindowText(TwoDigits(record.ucDevice));
        m_NumberLabel[i * kColumns + kFunctionColumn].SetWindowText(TwoDigits(record.ucFunction));
        m_JobProgress[i].ShowWindow(framework::kSwShow);
        if (bPlaceBars) m_JobProgress[i].SetPos(kProgressLow);
    };
    showRow(0);
    for (std::size_t i = kColumns; i < std::size(m_NumberLabel); ++i) {
        m_NumberLabel[i].SetWindowText(std::string());
    }
    for (std::size_t i = 1; i < kMaxControllers && i < ucCount; ++i) showRow(i);
    ShowFlashParts(ucCount);
}

void CVLM270FWUpdateDlg::ShowFlashParts(uint8_t ucCount) {
    const auto& names = res::kControllerNames;
    EnableDlgItem(names[0]);
    SetDlgItemText(names[0], kSingleControllerName);
    m_FlashPartLabel[0].SetWindowText(FlashPartText(g_Utility.m_Controllers[0]));
    for (std::size_t i = 1; i < kMaxControllers; ++i) {
        m_FlashPartLabel[i].SetWindowText(std::string());
    }
    if (ucCount > 1) SetDlgItemText(names[0], kControllerNames[0]);
    for (std::size_t i = 1; i < kMaxControllers && i < ucCount; ++i) {
        SetDlgItemText(names[i], kControllerNames[i]);
        m_FlashPartLabel[i].SetWindowText(FlashPartText(g_Utility.m_Controllers[i]));
    }
    SetDlgItemText(res::IDC_UPDATE_TO_CAPTION, kUpdateToCaption);
    m_UpdateToValue.SetWindowText(std::string());
}

void CVLM270FWUpdateDlg::EnableDlgItem(int id) {
    if (auto host = HostRef()) host->EnableControl(id, true);
}

void CVLM270FWUpdateDlg::OnSysCommand(unsigned id, intptr_t lParam) {
    if ((id & framework::kScCommandMask) == kAboutCommandId) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        framework::Dialog::OnSysCommand(id, lParam);
    }
}

void CVLM270FWUpdateDlg::OnPaint() {
    if (!IsIconic()) {
        framework::Dialog::OnPaint();
        return;
    }
    framework::PaintDC dc(*this);
    dc.EraseIconBackground();
    const int cxIcon = framework::GetSystemMetrics(framework::kSmCxIcon);
    const int cyIcon = framework::GetSystemMetrics(framework::kSmCyIcon);
    const framework::Rect rect = GetClientRect();
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

framework::Icon CVLM270FWUpdateDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CVLM270FWUpdateDlg::OnWindowPosChanging(framework::WindowPos& pos) {
    if (m_bSilent) pos.flags &= kNeverShowFlags;
    framework::Dialog::OnWindowPosChanging(pos);
}
