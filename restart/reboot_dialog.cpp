#include "restart/reboot_dialog.h"

#include "res/resource_ids.h"
#include "util/utility.h"

CReBoot::CReBoot() : framework::Dialog(res::IDD_REBOOT) {}

CReBoot::~CReBoot() = default;

void CReBoot::DoDataExchange() {
    BindControl(res::IDC_RESTART_NOW, m_RestartNow);
    BindControl(res::IDC_RESTART_LATER, m_RestartLater);
    BindControl(res::IDC_RESTART_HEADLINE, m_Headline);
}

bool CReBoot::OnInitDialog() {
    framework::Dialog::OnInitDialog();
    SetWindowText(kRestartTitle);
    SetWindowPos(framework::kHwndTopmost, 0, 0, 0, 0,
                 framework::kSwpNoMove | framework::kSwpNoSize | framework::kSwpNoActivate);
    if (g_Utility.m_bAllUpdated.load(std::memory_order_acquire) != 0) {
        m_Headline.SetWindowText(kRestartAllUpdatedHeadline);
    }
    m_RestartNow.SetCheck(framework::kBstChecked);
    m_bRestartNow = true;
    return true;
}

void CReBoot::OnCommand(int id) {
    if (id == res::IDC_RESTART_NOW) {
        OnRestartNowClicked();
    } else if (id == res::IDC_RESTART_LATER) {
        OnRestartLaterClicked();
    } else {
        framework::Dialog::OnCommand(id);
    }
}

void CReBoot::OnRestartNowClicked() {
    if (m_RestartNow.GetCheck() == framework::kBstChecked) {
        m_RestartLater.SetCheck(framework::kBstUnchecked);
        m_bRestartNow = true;
    } else {
        m_bRestartNow = false;
    }
}

void CReBoot::OnRestartLaterClicked() {
    if (m_RestartLater.GetCheck() == framework::kBstChecked) {
        m_RestartNow.SetCheck(framework::kBstUnchecked);
        m_bRestartNow = false;
    } else {
        m_bRestartNow = true;
    }
}
