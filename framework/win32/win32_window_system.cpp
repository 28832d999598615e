#include "framework/win32/win32_window_system.h"

#include "framework/win32/win32_headers.h"
// After windows.h:
#include <commctrl.h>
#include <richedit.h>
#include <uxtheme.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "framework/dialog.h"
#include "framework/win_app.h"

namespace framework {
namespace {

// Private messages of our dialog windows.
constexpr UINT kWmApplyQueued = WM_APP + 1;        // apply the changes queued by other threads
constexpr UINT kWmRunOnWindowThread = WM_APP + 2;  // lParam: a std::function<void()>* to run

constexpr WORD kTemplateVersion = 1;
constexpr WORD kExtendedSignature = 0xFFFF;
constexpr WORD kOrdinalMarker = 0xFFFF;
constexpr WORD kButtonClassAtom = 0x0080;
constexpr WORD kStaticClassAtom = 0x0082;
constexpr WORD kNormalWeight = FW_NORMAL;
constexpr UINT kClickedNotification = BN_CLICKED;

thread_local bool t_quitRequested = false;  // a quit request reached this thread's loops
thread_local int t_quitExitCode = 0;

// ---- Building the template ------------------------------------------------------------------

class TemplateWriter {
public:
    void Word(WORD value) { Bytes(&value, sizeof value); }
    void DWord(DWORD value) { Bytes(&value, sizeof value); }
    void Short(short value) { Bytes(&value, sizeof value); }
    // A text as UTF-16 (the template texts are plain ASCII), with its terminating zero.
    void Text(std::string_view text) {
        for (char c : text) Word(static_cast<WORD>(static_cast<unsigned char>(c)));
        Word(0);
    }
    void Ordinal(WORD value) {
        Word(kOrdinalMarker);
        Word(value);
    }
    void AlignToDWord() {
        while (m_bytes.size() % sizeof(DWORD) != 0) m_bytes.push_back(0);
    }
    void PatchWord(std::size_t offset, WORD value) {
        std::memcpy(m_bytes.data() + offset, &value, sizeof value);
    }
    std::size_t Size() const { return m_bytes.size(); }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

private:
    void Bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
    }
    std::vector<uint8_t> m_bytes;
};

// ---- The window of one dialog ---------------------------------------------------------------

// What other threads read instead of asking the window's thread.
struct ControlShadow {
    std::string text;
    int check = kBstUnchecked;
    int low = 0;
    int high = kProgressDefaultHigh;
    int step = kProgressDefaultStep;
    int pos = 0;
    Colour colour = kDefaultColour;
};

HICON IconHandle(Icon icon, bool big) {
    if (icon == 0) return nullptr;
    int size = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr),
                                         MAKEINTRESOURCEA(static_cast<WORD>(icon)), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR | LR_SHARED));
}

class Win32DialogHost final : public DialogHost,
                              public std::enable_shared_from_this<Win32DialogHost> {
public:
    Win32DialogHost(Dialog& dialog, const DialogTemplate& tmpl)
        : m_dialog(dialog), m_ownerThread(GetCurrentThreadId()), m_title(tmpl.caption) {
        for (const ControlTemplate& c : tmpl.controls) {
            if (c.id == kIdcStatic) continue;
            m_controls[c.id].text = std::string(c.text);
        }
    }

    Dialog& TheDialog() { return m_dialog; }
    HWND Window() const { return m_hwnd.load(std::memory_order_acquire); }
    void SetWindow(HWND hwnd) { m_hwnd.store(hwnd, std::memory_order_release); }
    bool Ended() const { return m_ended.load(std::memory_order_acquire); }
    int Result() const { return m_result.load(std::memory_order_acquire); }

    // The window is going: nothing queued is applied any more, and every call fails.
    void MarkGone() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true;
        m_queue.clear();
    }

    // Applies the changes other threads queued, in order (window's thread).
    void ApplyQueued() {
        for (;;) {
            std::function<void()> change;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_gone || m_queue.empty()) return;
                change = std::move(m_queue.front());
                m_queue.pop_front();
            }
            change();
        }
    }

    // Painting: the paint context is opened by the first drawing call of the paint handler.
    void BeginPaintHandler() { m_paintDc = nullptr; }
    bool EndPaintHandler() {
        if (m_paintDc == nullptr) return false;
        EndPaint(Window(), &m_paint);
        m_paintDc = nullptr;
        return true;
    }

    // ---- DialogHost ----

    void EndDialog(int result) override {
        bool expected = false;
        if (m_ended.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            m_result.store(result, std::memory_order_release);
        }
        if (HWND hwnd = Window()) PostMessageA(hwnd, WM_NULL, 0, 0);  // wakes the loop
    }

    bool SetWindowText(const std::string& text) override {
        if (!Alive()) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_title = text;
        }
        return Apply([this, text] { SetWindowTextA(Window(), text.c_str()); });
    }

    std::string GetWindowText() override {
        if (!Alive()) return {};
        if (OnOwnerThread()) {
            ApplyQueued();
            return WindowText(Window());
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_title;
    }

    bool ShowWindow(int showCommand) override {
        if (!Alive()) return false;
        bool wasVisible = ::IsWindowVisible(Window()) != 0;
        Apply([this, showCommand] { ::ShowWindow(Window(), showCommand); });
        return wasVisible;
    }

    bool SetWindowPos(intptr_t insertAfter, int x, int y, int cx, int cy, unsigned flags) override {
        if (!Alive()) return false;
        return Apply([this, insertAfter, x, y, cx, cy, flags] {
            HWND hwnd = Window();
            ::SetWindowPos(hwnd, reinterpret_cast<HWND>(insertAfter), x, y, cx, cy, flags);
            // A change that asked for no redrawing may leave a shown window unpainted.
            if ((flags & SWP_NOREDRAW) != 0 && ::IsWindowVisible(hwnd)) {
                RedrawWindow(hwnd, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            }
        });
    }

    bool IsWindowVisible() override { return Alive() && ::IsWindowVisible(Window()) != 0; }
    bool IsIconic() override { return Alive() && ::IsIconic(Window()) != 0; }

    Rect GetClientRect() override {
        RECT r{};
        if (!Alive() || !::GetClientRect(Window(), &r)) return Rect{};
        return Rect{r.left, r.top, r.right, r.bottom};
    }

    Icon SetIcon(Icon icon, bool big) override {
        if (!Alive()) return 0;
        Icon before;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Icon& slot = big ? m_bigIcon : m_smallIcon;
            before = slot;
            slot = icon;
        }
        Apply([this, icon, big] {
            SendMessageA(Window(), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                         reinterpret_cast<LPARAM>(IconHandle(icon, big)));
        });
        return before;
    }

    bool HasSystemMenu() override {
        return Alive() && (GetWindowLongPtrA(Window(), GWL_STYLE) & WS_SYSMENU) != 0;
    }

    bool AppendSystemMenu(unsigned flags, unsigned id, const std::string& text) override {
        if (!Alive()) return false;
        return Apply([this, flags, id, text] {
            HMENU menu = GetSystemMenu(Window(), FALSE);
            if (menu != nullptr) {
                AppendMenuA(menu, flags, id, (flags & MF_SEPARATOR) != 0 ? nullptr : text.c_str());
            }
        });
    }

    bool PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        return Alive() && PostMessageA(Window(), message, wParam, lParam) != 0;
    }

    unsigned SetTimer(unsigned id, unsigned elapseMs) override {
        if (!Alive()) return 0;
        Apply([this, id, elapseMs] { ::SetTimer(Window(), id, elapseMs, nullptr); });
        return id;
    }

    bool KillTimer(unsigned id) override {
        if (!Alive()) return false;
        return Apply([this, id] { ::KillTimer(Window(), id); });
    }

    void EraseIconBackground() override {
        if (HDC dc = PaintDc())
            SendMessageA(Window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    }

    void DrawIcon(int x, int y, Icon icon) override {
        if (HDC dc = PaintDc()) ::DrawIcon(dc, x, y, IconHandle(icon, true));
    }

    bool HasControl(int id) override { return Alive() && GetDlgItem(Window(), id) != nullptr; }

    bool SetControlText(int id, const std::string& text) override {
        if (!HasControl(id)) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_controls[id].text = text;
        }
        return Apply([this, id, text] { SetDlgItemTextA(Window(), id, text.c_str()); });
    }

    std::string GetControlText(int id) override {
        if (!HasControl(id)) return {};
        if (OnOwnerThread()) {
            ApplyQueued();
            return WindowText(GetDlgItem(Window(), id));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_controls[id].text;
    }

    bool ShowControl(int id, bool show) override {
        if (!HasControl(id)) return false;
        return Apply(
            [this, id, show] { ::ShowWindow(GetDlgItem(Window(), id), show ? SW_SHOW : SW_HIDE); });
    }

    bool EnableControl(int id, bool enable) override {
        if (!HasControl(id)) return false;
        return Apply(
            [this, id, enable] { EnableWindow(GetDlgItem(Window(), id), enable ? TRUE : FALSE); });
    }

    bool IsControlVisible(int id) override {
        if (!HasControl(id)) return false;
        if (OnOwnerThread()) ApplyQueued();
        return (GetWindowLongPtrA(GetDlgItem(Window(), id), GWL_STYLE) & WS_VISIBLE) != 0;
    }

    bool IsControlEnabled(int id) override {
        if (!HasControl(id)) return false;
        if (OnOwnerThread()) ApplyQueued();
        return IsWindowEnabled(GetDlgItem(Window(), id)) != 0;
    }

    bool SetCheck(int id, int state) override {
        if (!HasControl(id)) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_controls[id].check = state;
        }
        return Apply([this, id, state] {
            SendDlgItemMessageA(Window(), id, BM_SETCHECK, static_cast<WPARAM>(state), 0);
        });
    }

    int GetCheck(int id) override {
        if (!HasControl(id)) return kBstUnchecked;
        if (OnOwnerThread()) {
            ApplyQueued();
            return static_cast<int>(SendDlgItemMessageA(Window(), id, BM_GETCHECK, 0, 0));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_controls[id].check;
    }

    bool SetProgressRange(int id, int low, int high) override {
        if (!HasControl(id)) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ControlShadow& c = m_controls[id];
            c.low = low;
            c.high = high;
            c.pos = Clamp(c.pos, low, high);
        }
        return Apply([this, id, low, high] {
            SendDlgItemMessageA(Window(), id, PBM_SETRANGE32, static_cast<WPARAM>(low),
                                static_cast<LPARAM>(high));
        });
    }

    int SetProgressStep(int id, int step) override {
        if (!HasControl(id)) return 0;
        int before;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            before = m_controls[id].step;
            m_controls[id].step = step;
        }
        Apply([this, id, step] {
            SendDlgItemMessageA(Window(), id, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
        });
        return before;
    }

    int SetProgressPos(int id, int pos) override {
        if (!HasControl(id)) return 0;
        int before;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ControlShadow& c = m_controls[id];
            before = c.pos;
            c.pos = Clamp(pos, c.low, c.high);
        }
        Apply([this, id, pos] {
            SendDlgItemMessageA(Window(), id, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
        });
        return before;
    }

    int GetProgressPos(int id) override {
        if (!HasControl(id)) return 0;
        if (OnOwnerThread()) {
            ApplyQueued();
            return static_cast<int>(SendDlgItemMessageA(Window(), id, PBM_GETPOS, 0, 0));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_controls[id].pos;
    }

    Colour SetProgressBarColour(int id, Colour colour) override {
        if (!HasControl(id)) return kDefaultColour;
        Colour before;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            before = m_controls[id].colour;
            m_controls[id].colour = colour;
        }
        Apply([this, id, colour] {
            SendDlgItemMessageA(Window(), id, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(colour));
        });
        return before;
    }

    bool StreamInRtf(int id, const StreamReader& reader) override {
        if (!HasControl(id)) return false;
        bool ok = false;
        std::function<void()> stream = [&] {
            ApplyQueued();
            EDITSTREAM es{};
            es.dwCookie = reinterpret_cast<DWORD_PTR>(&reader);
            es.pfnCallback = &ReadCallback;
            SendDlgItemMessageA(Window(), id, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es));
            ok = true;  // the stream's own error is the pane's business
        };
        if (OnOwnerThread()) {
            stream();
        } else {
            // The reader lives on this thread's stack: wait for the window's thread to use it.
            SendMessageA(Window(), kWmRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&stream));
        }
        return ok;
    }

private:
    static DWORD CALLBACK ReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG capacity,
                                       LONG* bytesRead) {
        const auto* reader = reinterpret_cast<const StreamReader*>(cookie);
        std::size_t n = (*reader)(reinterpret_cast<char*>(buffer),
                                  capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
        *bytesRead = static_cast<LONG>(n);
        return 0;
    }

    static std::string WindowText(HWND hwnd) {
        int length = GetWindowTextLengthA(hwnd);
        if (length <= 0) return {};
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        int n = GetWindowTextA(hwnd, text.data(), length + 1);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return text;
    }

    static int Clamp(int value, int low, int high) {
        if (value < low) return low;
        if (value > high) return high;
        return value;
    }

    bool OnOwnerThread() const { return GetCurrentThreadId() == m_ownerThread; }

    bool Alive() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_gone && Window() != nullptr;
    }

    HDC PaintDc() {
        if (!OnOwnerThread() || !Alive()) return nullptr;
        if (m_paintDc == nullptr) m_paintDc = BeginPaint(Window(), &m_paint);
        return m_paintDc;
    }

    // Runs a change now on the window's thread (after what others queued before), or queues it
    // for that thread.
    bool Apply(std::function<void()> change) {
        if (OnOwnerThread()) {
            ApplyQueued();
            if (!Alive()) return false;
            change();
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_gone) return false;
            bool wasEmpty = m_queue.empty();
            m_queue.push_back(std::move(change));
            if (!wasEmpty) return true;  // a wake-up is already on its way
        }
        return PostMessageA(Window(), kWmApplyQueued, 0, 0) != 0;
    }

    Dialog& m_dialog;
    const DWORD m_ownerThread;
    std::atomic<HWND> m_hwnd{nullptr};
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_result{0};
    std::mutex m_mutex;
    bool m_gone = false;
    std::deque<std::function<void()>> m_queue;
    std::string m_title;
    std::map<int, ControlShadow> m_controls;
    Icon m_bigIcon = 0;
    Icon m_smallIcon = 0;
    HDC m_paintDc = nullptr;
    PAINTSTRUCT m_paint{};
};

// ---- The dialog procedure -------------------------------------------------------------------

struct CreationContext {
    std::shared_ptr<Win32DialogHost> host;
    bool initFailed = false;
};

Win32DialogHost* HostOf(HWND hwnd) {
    return reinterpret_cast<Win32DialogHost*>(GetWindowLongPtrA(hwnd, DWLP_USER));
}

// Turns off visual styles for each progress bar so that its bar colour shows.
void PrepareControls(HWND hwnd) {
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, PROGRESS_CLASSA) != 0) continue;
        // Empty names turn the visual style off; where they are refused as invalid, names
        // that match no style do the same.
        if (FAILED(SetWindowTheme(child, L"", L""))) SetWindowTheme(child, L" ", L" ");
    }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* context = reinterpret_cast<CreationContext*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(context->host.get()));
        context->host->SetWindow(hwnd);
        PrepareControls(hwnd);
        Dialog& dialog = context->host->TheDialog();
        dialog.AttachHost(context->host);
        bool setFocus = dialog.OnInitDialog();
        if (dialog.DataExchangeFailed()) context->initFailed = true;
        return setFocus ? TRUE : FALSE;
    }
    Win32DialogHost* host = HostOf(hwnd);
    if (host == nullptr) return FALSE;
    Dialog& dialog = host->TheDialog();
    switch (message) {
        case kWmApplyQueued:
            host->ApplyQueued();
            return TRUE;
        case kWmRunOnWindowThread:
            (*reinterpret_cast<std::function<void()>*>(lParam))();
            return TRUE;
        case WM_TIMER:
            dialog.OnTimer(static_cast<unsigned>(wParam));
            return TRUE;
        case WM_CLOSE:
            dialog.OnClose();
            return TRUE;
        case WM_COMMAND:
            // Button clicks, Enter and Escape; other controls' notifications are not commands.
            if (HIWORD(wParam) == kClickedNotification || lParam == 0) {
                dialog.OnCommand(LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_SYSCOMMAND: {
            unsigned command = static_cast<unsigned>(wParam) & kScCommandMask;
            // Moving, sizing and the keyboard menu stay with the system's own handling.
            bool ours = command < SC_SIZE || command == SC_CLOSE || command == SC_MINIMIZE ||
                        command == SC_RESTORE;
            if (!ours) return FALSE;
            dialog.OnSysCommand(static_cast<unsigned>(wParam), lParam);
            return TRUE;
        }
        case WM_PAINT: {
            host->BeginPaintHandler();
            dialog.OnPaint();
            return host->EndPaintHandler() ? TRUE : FALSE;
        }
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(IconHandle(dialog.OnQueryDragIcon(), true));
        case WM_WINDOWPOSCHANGING: {
            auto* wp = reinterpret_cast<WINDOWPOS*>(lParam);
            WindowPos pos{reinterpret_cast<intptr_t>(wp->hwndInsertAfter),
                          wp->x,
                          wp->y,
                          wp->cx,
                          wp->cy,
                          wp->flags};
            dialog.OnWindowPosChanging(pos);
            wp->hwndInsertAfter = reinterpret_cast<HWND>(pos.insertAfter);
            wp->x = pos.x;
            wp->y = pos.y;
            wp->cx = pos.cx;
            wp->cy = pos.cy;
            wp->flags = pos.flags;
            return FALSE;  // and the default processing
        }
        default:
            return FALSE;
    }
}

// The window of the dialog the application made its main window, or null.
HWND MainWindow() {
    WinApp* app = AfxGetApp();
    if (app == nullptr || app->m_pMainWnd == nullptr) return nullptr;
    auto host = std::dynamic_pointer_cast<Win32DialogHost>(app->m_pMainWnd->HostRef());
    return host ? host->Window() : nullptr;
}

}  // namespace

std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& t) {
    TemplateWriter w;
    // The window is shown by the modal loop once it is idle, not by its creation.
    DWORD style = (t.style & ~static_cast<DWORD>(WS_VISIBLE)) | DS_CENTER;
    w.Word(kTemplateVersion);
    w.Word(kExtendedSignature);
    w.DWord(0);  // help id
    w.DWord(t.exStyle);
    w.DWord(style);
    w.Word(static_cast<WORD>(t.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(static_cast<short>(t.cx));
    w.Short(static_cast<short>(t.cy));
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(t.caption);
    w.Word(static_cast<WORD>(t.fontPoints));
    w.Word(kNormalWeight);
    w.Word(0);  // not italic, default character set
    w.Text(t.fontFace);
    for (const ControlTemplate& c : t.controls) {
        w.AlignToDWord();
        w.DWord(0);  // help id
        w.DWord(c.exStyle);
        w.DWord(c.style | WS_CHILD);
        w.Short(static_cast<short>(c.x));
        w.Short(static_cast<short>(c.y));
        w.Short(static_cast<short>(c.cx));
        w.Short(static_cast<short>(c.cy));
        w.DWord(static_cast<DWORD>(c.id));
        switch (c.kind) {
            case ControlKind::kPushButton:
            case ControlKind::kDefPushButton:
            case ControlKind::kGroupBox:
            case ControlKind::kRadioButton:
                w.Ordinal(kButtonClassAtom);
                break;
            case ControlKind::kStatic:
            case ControlKind::kIcon:
                w.Ordinal(kStaticClassAtom);
                break;
            default:
                w.Text(ControlClassName(c.kind));
                break;
        }
        if (c.kind == ControlKind::kIcon) {
            w.Ordinal(static_cast<WORD>(std::stoi(std::string(c.text))));
        } else {
            w.Text(c.text);
        }
        w.Word(0);  // no creation data
    }
    return w.Take();
}

int Win32WindowSystem::RunModal(Dialog& dialog, Dialog* parent) {
    const DialogTemplate* tmpl = FindDialogTemplate(dialog.TemplateId());
    if (tmpl == nullptr) return kDialogFailed;
    std::vector<uint8_t> bytes = BuildDialogTemplate(*tmpl);

    HWND owner = nullptr;
    if (parent != nullptr) {
        if (auto parentHost = std::dynamic_pointer_cast<Win32DialogHost>(parent->HostRef())) {
            owner = parentHost->Window();
        }
    } else if (HWND main = MainWindow();
               main != nullptr && IsWindowVisible(main) &&
               GetWindowThreadProcessId(main, nullptr) == GetCurrentThreadId()) {
        // Like the About box: a dialog opened from the shown main window belongs to it, which
        // stays disabled while it is open.
        owner = main;
    }
    CreationContext context{std::make_shared<Win32DialogHost>(dialog, *tmpl)};
    HWND hwnd = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), owner,
                                           &DialogProc, reinterpret_cast<LPARAM>(&context));
    if (hwnd == nullptr) {
        // A control class that is not registered (the rich-text pane without its library).
        dialog.DetachHost();
        return kDialogFailed;
    }
    std::shared_ptr<Win32DialogHost> host = context.host;
    bool ownerDisabled = false;
    if (owner != nullptr && IsWindowEnabled(owner)) {
        EnableWindow(owner, FALSE);
        ownerDisabled = true;
    }

    int result = kDialogFailed;
    bool shown = false;
    if (!context.initFailed) {
        MSG msg{};
        for (;;) {
            if (host->Ended()) {
                result = host->Result();
                break;
            }
            if (t_quitRequested) break;
            if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && !shown) {
                // Nothing queued: the first time, the window is shown.
                shown = true;
                if (!IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);
                continue;
            }
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) {
                t_quitRequested = true;
                if (got == 0) t_quitExitCode = static_cast<int>(msg.wParam);
                break;
            }
            if (!IsDialogMessageA(hwnd, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }

    if (ownerDisabled) EnableWindow(owner, TRUE);
    host->MarkGone();
    ::ShowWindow(hwnd, SW_HIDE);
    DestroyWindow(hwnd);
    host->SetWindow(nullptr);
    dialog.DetachHost();
    return result;
}

void Win32WindowSystem::PostQuit(int exitCode) {
    t_quitRequested = true;
    t_quitExitCode = exitCode;
    ::PostQuitMessage(exitCode);
}

bool Win32WindowSystem::LoadControlLibrary(const std::string& name) {
    // From the system folder only: never a copy planted beside the program.
    return LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) != nullptr;
}

bool Win32WindowSystem::InitCommonControls(uint32_t size, uint32_t classes) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = size;
    icc.dwICC = classes;
    return InitCommonControlsEx(&icc) != 0;
}

int Win32WindowSystem::GetSystemMetrics(int index) {
    return ::GetSystemMetrics(index);
}

int Win32WindowSystem::ShowMessageBox(const MessageBoxRequest& request) {
    HWND owner = request.ownedByMainWindow ? MainWindow() : nullptr;
    UINT type = request.type | MB_SETFOREGROUND;
    if (owner == nullptr) type |= MB_TOPMOST;
    return MessageBoxA(owner, request.text.c_str(), request.caption.c_str(), type);
}

}  // namespace framework
