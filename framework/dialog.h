// Modal dialogs: the base the system's dialogs derive from, their controls and their handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "framework/window_system.h"
#include "framework/window_types.h"

namespace framework {

class Dialog;

// A control of a dialog, reached through its id. Bound by the dialog's data exchange (or taken
// with GetDlgItem); usable from any thread while the dialog's window exists, failing harmlessly
// otherwise.
class Control {
public:
    Control() = default;
    Control(Dialog* dialog, int id) : m_pDialog(dialog), m_nId(id) {}
    virtual ~Control() = default;

    void Attach(Dialog* dialog, int id) {
        m_pDialog = dialog;
        m_nId = id;
    }
    bool IsBound() const { return m_pDialog != nullptr; }

    bool SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    bool ShowWindow(int showCommand);  // kSwHide or a showing command
    bool EnableWindow(bool enable);
    bool IsWindowVisible() const;
    bool IsWindowEnabled() const;

protected:
    std::shared_ptr<DialogHost> HostRef() const;

    Dialog* m_pDialog = nullptr;
    int m_nId = 0;
};

using StaticText = Control;

class Button : public Control {
public:
    bool SetCheck(int state);
    int GetCheck() const;
};

class ProgressCtrl : public Control {
public:
    bool SetRange(int low, int high);
    int SetStep(int step);  // returns the step before
    int SetPos(int pos);    // returns the position before
    int GetPos() const;
    Colour SetBarColor(Colour colour);  // returns the colour before
};

class RichEditCtrl : public Control {
public:
    // Replaces the pane's contents with the Rich Text Format document the reader yields.
    bool StreamInRtf(const StreamReader& reader);
};

// The system menu of a dialog's window.
class SystemMenu {
public:
    explicit SystemMenu(Dialog& dialog) : m_dialog(dialog) {}
    bool AppendMenu(unsigned flags, unsigned id = 0, const std::string& text = std::string());

private:
    Dialog& m_dialog;
};

// Painting inside the paint handler.
class PaintDC {
public:
    explicit PaintDC(Dialog& dialog) : m_dialog(dialog) {}
    void EraseIconBackground();
    void DrawIcon(int x, int y, Icon icon);

private:
    Dialog& m_dialog;
};

class Dialog {
public:
    explicit Dialog(int templateId, Dialog* parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    int TemplateId() const { return m_nTemplateId; }

    // Runs the dialog modally: 1 OK, 2 Cancel (or what EndDialog was given), kDialogFailed when
    // the window cannot be created or a quit request ended the loop.
    virtual int DoModal();
    void EndDialog(int result);

    // Handlers. The base versions are the default processing: call them from an override.
    // Initialisation: binds the controls (DoDataExchange); returns true to let the window system
    // set the focus. A dialog whose binding failed is ended as not created (kDialogFailed).
    virtual bool OnInitDialog();
    virtual void DoDataExchange() {}
    virtual void OnTimer(unsigned id) { (void)id; }
    // The close request: sends the Cancel command.
    virtual void OnClose();
    virtual void OnOK() { EndDialog(kIdOkCommand); }
    virtual void OnCancel() { EndDialog(kIdCancelCommand); }
    // Button clicks: kIdOkCommand goes to OnOK, kIdCancelCommand to OnCancel; others are ignored.
    virtual void OnCommand(int id);
    // System menu commands: close, minimise and restore; others are ignored.
    virtual void OnSysCommand(unsigned id, intptr_t lParam);
    virtual void OnPaint() {}
    virtual Icon OnQueryDragIcon() { return 0; }
    virtual void OnWindowPosChanging(WindowPos& pos) { (void)pos; }

    // Binds a control object to a control of the window; false (and the dialog's data exchange
    // fails) when the window has no such control.
    bool BindControl(int id, Control& control);
    bool DataExchangeFailed() const { return m_bBindFailed; }

    // Window operations (any thread).
    bool SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    bool ShowWindow(int showCommand);
    bool SetWindowPos(intptr_t insertAfter, int x, int y, int cx, int cy, unsigned flags);
    bool IsWindowVisible() const;
    bool IsIconic() const;
    Rect GetClientRect() const;
    Icon SetIcon(Icon icon, bool big);
    // The system menu, or nullptr when the window has none.
    SystemMenu* GetSystemMenu();
    bool PostMessage(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);
    bool PostClose() { return PostMessage(kWmClose); }
    unsigned SetTimer(unsigned id, unsigned elapseMs);
    bool KillTimer(unsigned id);
    bool HasWindow() const;

    // Controls by id (any thread).
    Control GetDlgItem(int id) { return Control(this, id); }
    bool SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    bool CheckDlgButton(int id, int state);
    int IsDlgButtonChecked(int id) const;

    // For window systems: attach the window when it is created, detach it when it is gone.
    void AttachHost(std::shared_ptr<DialogHost> host);
    void DetachHost();
    std::shared_ptr<DialogHost> HostRef() const;

private:
    int m_nTemplateId;
    Dialog* m_pParent;
    mutable std::mutex m_hostMutex;
    std::shared_ptr<DialogHost> m_host;  // null while the dialog has no window
    SystemMenu m_systemMenu;
    bool m_bBindFailed = false;
};

}  // namespace framework
