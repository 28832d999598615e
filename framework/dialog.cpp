#include "framework/dialog.h"

#include <utility>

namespace framework {

// ---- Controls -------------------------------------------------------------------------------

std::shared_ptr<DialogHost> Control::HostRef() const {
    return m_pDialog ? m_pDialog->HostRef() : nullptr;
}

bool Control::SetWindowText(const std::string& text) {
    auto host = HostRef();
    return host && host->SetControlText(m_nId, text);
}

std::string Control::GetWindowText() const {
    auto host = HostRef();
    return host ? host->GetControlText(m_nId) : std::string();
}

bool Control::ShowWindow(int showCommand) {
    auto host = HostRef();
    return host && host->ShowControl(m_nId, showCommand != kSwHide);
}

bool Control::EnableWindow(bool enable) {
    auto host = HostRef();
    return host && host->EnableControl(m_nId, enable);
}

bool Control::IsWindowVisible() const {
    auto host = HostRef();
    return host && host->IsControlVisible(m_nId);
}

bool Control::IsWindowEnabled() const {
    auto host = HostRef();
    return host && host->IsControlEnabled(m_nId);
}

bool Button::SetCheck(int state) {
    auto host = HostRef();
    return host && host->SetCheck(m_nId, state);
}

int Button::GetCheck() const {
    auto host = HostRef();
    return host ? host->GetCheck(m_nId) : kBstUnchecked;
}

bool ProgressCtrl::SetRange(int low, int high) {
    auto host = HostRef();
    return host && host->SetProgressRange(m_nId, low, high);
}

int ProgressCtrl::SetStep(int step) {
    auto host = HostRef();
    return host ? host->SetProgressStep(m_nId, step) : 0;
}

int ProgressCtrl::SetPos(int pos) {
    auto host = HostRef();
    return host ? host->SetProgressPos(m_nId, pos) : 0;
}

int ProgressCtrl::GetPos() const {
    auto host = HostRef();
    return host ? host->GetProgressPos(m_nId) : 0;
}

Colour ProgressCtrl::SetBarColor(Colour colour) {
    auto host = HostRef();
    return host ? host->SetProgressBarColour(m_nId, colour) : kDefaultColour;
}

bool RichEditCtrl::StreamInRtf(const StreamReader& reader) {
    auto host = HostRef();
    return host && host->StreamInRtf(m_nId, reader);
}

bool SystemMenu::AppendMenu(unsigned flags, unsigned id, const std::string& text) {
    auto host = m_dialog.HostRef();
    return host && host->AppendSystemMenu(flags, id, text);
}

void PaintDC::EraseIconBackground() {
    if (auto host = m_dialog.HostRef()) host->EraseIconBackground();
}

void PaintDC::DrawIcon(int x, int y, Icon icon) {
    if (auto host = m_dialog.HostRef()) host->DrawIcon(x, y, icon);
}

// ---- Dialog ---------------------------------------------------------------------------------

Dialog::Dialog(int templateId, Dialog* parent)
    : m_nTemplateId(templateId), m_pParent(parent), m_systemMenu(*this) {}

Dialog::~Dialog() {
    DetachHost();
}

int Dialog::DoModal() {
    m_bBindFailed = false;
    return CurrentWindowSystem().RunModal(*this, m_pParent);
}

void Dialog::EndDialog(int result) {
    if (auto host = HostRef()) host->EndDialog(result);
}

bool Dialog::OnInitDialog() {
    DoDataExchange();
    return true;
}

void Dialog::OnClose() {
    OnCommand(kIdCancelCommand);
}

void Dialog::OnCommand(int id) {
    if (id == kIdOkCommand) {
        OnOK();
    } else if (id == kIdCancelCommand) {
        OnCancel();
    }
}

void Dialog::OnSysCommand(unsigned id, intptr_t lParam) {
    (void)lParam;
    switch (id & kScCommandMask) {
        case kScClose:
            OnClose();
            break;
        case kScMinimize:
            ShowWindow(kSwMinimize);
            break;
        case kScRestore:
            ShowWindow(kSwRestore);
            break;
        default:
            break;
    }
}

bool Dialog::BindControl(int id, Control& control) {
    auto host = HostRef();
    if (!host || !host->HasControl(id)) {
        m_bBindFailed = true;
        return false;
    }
    control.Attach(this, id);
    return true;
}

bool Dialog::SetWindowText(const std::string& text) {
    auto host = HostRef();
    return host && host->SetWindowText(text);
}

std::string Dialog::GetWindowText() const {
    auto host = HostRef();
    return host ? host->GetWindowText() : std::string();
}

bool Dialog::ShowWindow(int showCommand) {
    auto host = HostRef();
    return host && host->ShowWindow(showCommand);
}

bool Dialog::SetWindowPos(intptr_t insertAfter, int x, int y, int cx, int cy, unsigned flags) {
    auto host = HostRef();
    return host && host->SetWindowPos(insertAfter, x, y, cx, cy, flags);
}

bool Dialog::IsWindowVisible() const {
    auto host = HostRef();
    return host && host->IsWindowVisible();
}

bool Dialog::IsIconic() const {
    auto host = HostRef();
    return host && host->IsIconic();
}

Rect Dialog::GetClientRect() const {
    auto host = HostRef();
    return host ? host->GetClientRect() : Rect{};
}

Icon Dialog::SetIcon(Icon icon, bool big) {
    auto host = HostRef();
    return host ? host->SetIcon(icon, big) : 0;
}

SystemMenu* Dialog::GetSystemMenu() {
    auto host = HostRef();
    return host && host->HasSystemMenu() ? &m_systemMenu : nullptr;
}

bool Dialog::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    auto host = HostRef();
    return host && host->PostMessage(message, wParam, lParam);
}

unsigned Dialog::SetTimer(unsigned id, unsigned elapseMs) {
    auto host = HostRef();
    return host ? host->SetTimer(id, elapseMs) : 0;
}

bool Dialog::KillTimer(unsigned id) {
    auto host = HostRef();
    return host && host->KillTimer(id);
}

bool Dialog::HasWindow() const {
    return HostRef() != nullptr;
}

bool Dialog::SetDlgItemText(int id, const std::string& text) {
    auto host = HostRef();
    return host && host->SetControlText(id, text);
}

std::string Dialog::GetDlgItemText(int id) const {
    auto host = HostRef();
    return host ? host->GetControlText(id) : std::string();
}

bool Dialog::CheckDlgButton(int id, int state) {
    auto host = HostRef();
    return host && host->SetCheck(id, state);
}

int Dialog::IsDlgButtonChecked(int id) const {
    auto host = HostRef();
    return host ? host->GetCheck(id) : kBstUnchecked;
}

void Dialog::AttachHost(std::shared_ptr<DialogHost> host) {
    std::lock_guard<std::mutex> lock(m_hostMutex);
    m_host = std::move(host);
}

void Dialog::DetachHost() {
    std::lock_guard<std::mutex> lock(m_hostMutex);
    m_host.reset();
}

std::shared_ptr<DialogHost> Dialog::HostRef() const {
    std::lock_guard<std::mutex> lock(m_hostMutex);
    return m_host;
}

}  // namespace framework
