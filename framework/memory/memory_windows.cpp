// The in-memory windows' and controls' state: each window made from its template, each change
// applied and told to the observer in order, the window classes the libraries register.
#include "framework/memory/memory_window_system.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "framework/clock.h"
#include "framework/dialog.h"
#include "framework/memory/memory_window_internal.h"
#include "framework/rtf_text.h"

namespace framework {
namespace {

// The dialog font's base units in pixels: a dialog unit is a quarter of the width and an eighth
// of the height.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int kSystemIconSize = 32;
// Bytes asked of a stream reader at a time.
constexpr std::size_t kStreamChunk = 4096;

struct ControlLibrary {
    const char* name;
    const char* windowClass;
};
constexpr ControlLibrary kControlLibraries[] = {{"RICHED20.DLL", "RichEdit20A"}};
constexpr const char* kBuiltInClasses[] = {"Button", "Static", "msctls_progress32"};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool IsProgress(const ControlState& c) {
    return c.kind == ControlKind::kProgressBar;
}

}  // namespace

const ControlState* WindowState::Control(int id) const {
    if (id == kIdcStatic) return nullptr;
    for (const ControlState& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

ControlState* WindowState::Control(int id) {
    return const_cast<ControlState*>(std::as_const(*this).Control(id));
}

// The DialogHost of one in-memory window: every call goes to the window system by window id, so
// a call after the window is gone finds nothing and fails.
class MemoryDialogHost final : public DialogHost {
public:
    MemoryDialogHost(MemoryWindowSystem& system, uint64_t windowId)
        : m_system(system), m_windowId(windowId) {}

    uint64_t WindowId() const { return m_windowId; }

    void EndDialog(int result) override {
        Change([&](W& w) {
            if (!w.ended) {
                w.ended = true;
                w.endResult = result;
                Wake(w);
            }
            return true;
        });
    }

    bool SetWindowText(const std::string& text) override {
        return Change([&](W& w) {
            w.state.title = text;
            m_system.Record(w, 0, Property::kTitle, 0, 0, text);
            return true;
        });
    }

    std::string GetWindowText() override {
        return Read<std::string>([](W& w) { return w.state.title; }, std::string());
    }

    bool ShowWindow(int showCommand) override {
        bool wasVisible = IsWindowVisible();
        constexpr unsigned kKeep = kSwpNoMove | kSwpNoSize | kSwpNoZOrder | kSwpNoActivate;
        bool minimise = showCommand == kSwMinimize || showCommand == kSwShowMinimized;
        bool restore = showCommand == kSwRestore || showCommand == kSwShowNormal;
        if (minimise || restore) {
            Change([&](W& w) {
                if (w.state.minimised != minimise) {
                    w.state.minimised = minimise;
                    w.needsPaint = true;
                    m_system.Record(w, 0, Property::kMinimised, minimise ? 1 : 0);
                }
                return true;
            });
        }
        unsigned flags = kKeep | (showCommand == kSwHide ? kSwpHideWindow : kSwpShowWindow);
        SetWindowPos(kHwndTop, 0, 0, 0, 0, flags);
        return wasVisible;
    }

    bool SetWindowPos(intptr_t insertAfter, int x, int y, int cx, int cy, unsigned flags) override {
        W* window = nullptr;
        Dialog* dialog = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_system.m_mutex);
            window = m_system.FindLive(m_windowId);
            if (!window) return false;
            dialog = window->dialog;
        }
        // The handler runs while the window cannot end under it.
        std::lock_guard<std::recursive_mutex> handler(window->handlerMutex);
        WindowPos pos{insertAfter, x, y, cx, cy, flags};
        if ((flags & kSwpNoSendChanging) == 0) {
            {
                std::lock_guard<std::mutex> lock(m_system.m_mutex);
                if (!m_system.FindLive(m_windowId)) return false;
            }
            dialog->OnWindowPosChanging(pos);
        }
        return Change([&](W& w) {
            WindowState& s = w.state;
            if ((pos.flags & kSwpNoMove) == 0) {
                int width = s.rect.Width();
                int height = s.rect.Height();
                s.rect = Rect{pos.x, pos.y, pos.x + width, pos.y + height};
            }
            if ((pos.flags & kSwpNoSize) == 0) {
                s.rect.right = s.rect.left + pos.cx;
                s.rect.bottom = s.rect.top + pos.cy;
            }
            if ((pos.flags & kSwpNoZOrder) == 0 &&
                (pos.insertAfter == kHwndTopmost || pos.insertAfter == kHwndNoTopmost)) {
                bool topmost = pos.insertAfter == kHwndTopmost;
                if (s.topmost != topmost) {
                    s.topmost = topmost;
                    m_system.Record(w, 0, Property::kTopmost, topmost ? 1 : 0);
                }
            }
            m_system.Record(w, 0, Property::kWindowPos, pos.flags, pos.insertAfter);
            bool show = (pos.flags & kSwpShowWindow) != 0;
            bool hide = (pos.flags & kSwpHideWindow) != 0;
            if ((show || hide) && s.visible != show) {
                s.visible = show;
                if (show) w.needsPaint = true;
                m_system.Record(w, 0, Property::kWindowVisible, show ? 1 : 0);
            }
            return true;
        });
    }

    bool IsWindowVisible() override {
        return Read<bool>([](W& w) { return w.state.visible; }, false);
    }

    bool IsIconic() override {
        return Read<bool>([](W& w) { return w.state.minimised; }, false);
    }

    Rect GetClientRect() override {
        return Read<Rect>(
            [](W& w) {
                return Rect{0, 0, w.state.rect.Width(), w.state.rect.Height()};
            },
            Rect{});
    }

    Icon SetIcon(Icon icon, bool big) override {
        Icon before = 0;
        Change([&](W& w) {
            Icon& slot = big ? w.state.bigIcon : w.state.smallIcon;
            before = slot;
            slot = icon;
            m_system.Record(w, 0, Property::kIcon, static_cast<int64_t>(icon), big ? 1 : 0);
            return true;
        });
        return before;
    }

    bool HasSystemMenu() override {
        return Read<bool>([](W& w) { return w.state.hasSystemMenu; }, false);
    }

    bool AppendSystemMenu(unsigned flags, unsigned id, const std::string& text) override {
        return Change([&](W& w) {
            if (!w.state.hasSystemMenu) return false;
            w.state.systemMenu.push_back(MenuItem{flags, id, text});
            m_system.Record(w, 0, Property::kMenuItem, flags, id, text);
            return true;
        });
    }

    bool PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        if (message != kWmClose && message != kWmCommand && message != kWmSysCommand) {
            return false;
        }
        return Change([&](W& w) {
            w.queue->messages.push_back({m_windowId, message, wParam, lParam});
            Wake(w);
            return true;
        });
    }

    unsigned SetTimer(unsigned id, unsigned elapseMs) override {
        uint64_t now = ProcessClock().NowMs();
        bool set = Change([&](W& w) {
            w.timers[id] = W::Timer{elapseMs, now + elapseMs};
            w.state.timers[id] = elapseMs;
            m_system.Record(w, 0, Property::kTimerSet, id, elapseMs);
            return true;
        });
        return set ? id : 0;
    }

    bool KillTimer(unsigned id) override {
        return Change([&](W& w) {
            if (w.timers.erase(id) == 0) return false;
            w.state.timers.erase(id);
            m_system.Record(w, 0, Property::kTimerKilled, id);
            return true;
        });
    }

    void EraseIconBackground() override {
        Change([&](W& w) {
            if (w.painting) w.state.lastPaint.push_back(IconDrawing{0, 0, 0});
            return true;
        });
    }

    void DrawIcon(int x, int y, Icon icon) override {
        Change([&](W& w) {
            if (w.painting) w.state.lastPaint.push_back(IconDrawing{x, y, icon});
            return true;
        });
    }

    bool HasControl(int id) override {
        return Read<bool>([&](W& w) { return w.state.Control(id) != nullptr; }, false);
    }

    bool SetControlText(int id, const std::string& text) override {
        return ChangeControl(id, [&](W& w, ControlState& c) {
            c.text = text;
            m_system.Record(w, id, Property::kText, 0, 0, text);
            return true;
        });
    }

    std::string GetControlText(int id) override {
        return Read<std::string>(
            [&](W& w) {
                const ControlState* c = w.state.Control(id);
                return c ? c->text : std::string();
            },
            std::string());
    }

    bool ShowControl(int id, bool show) override {
        return ChangeControl(id, [&](W& w, ControlState& c) {
            c.visible = show;
            m_system.Record(w, id, Property::kVisible, show ? 1 : 0);
            return true;
        });
    }

    bool EnableControl(int id, bool enable) override {
        return ChangeControl(id, [&](W& w, ControlState& c) {
            c.enabled = enable;
            m_system.Record(w, id, Property::kEnabled, enable ? 1 : 0);
            return true;
        });
    }

    bool IsControlVisible(int id) override {
        return Read<bool>(
            [&](W& w) {
                const ControlState* c = w.state.Control(id);
                return c && c->visible;
            },
            false);
    }

    bool IsControlEnabled(int id) override {
        return Read<bool>(
            [&](W& w) {
                const ControlState* c = w.state.Control(id);
                return c && c->enabled;
            },
            false);
    }

    bool SetCheck(int id, int state) override {
        return ChangeControl(id, [&](W& w, ControlState& c) {
            c.check = state;
            m_system.Record(w, id, Property::kCheck, state);
            return true;
        });
    }

    int GetCheck(int id) override {
        return Read<int>(
            [&](W& w) {
                const ControlState* c = w.state.Control(id);
                return c ? c->check : kBstUnchecked;
            },
            kBstUnchecked);
    }

    bool SetProgressRange(int id, int low, int high) override {
        return ChangeControl(id, [&](W& w, ControlState& c) {
            if (!IsProgress(c)) return false;
            c.low = low;
            c.high = high;
            c.pos = std::clamp(c.pos, std::min(low, high), std::max(low, high));
            m_system.Record(w, id, Property::kRange, low, high);
            return true;
        });
    }

    int SetProgressStep(int id, int step) override {
        int before = 0;
        ChangeControl(id, [&](W& w, ControlState& c) {
            if (!IsProgress(c)) return false;
            before = c.step;
            c.step = step;
            m_system.Record(w, id, Property::kStep, step);
            return true;
        });
        return before;
    }

    int SetProgressPos(int id, int pos) override {
        int before = 0;
        ChangeControl(id, [&](W& w, ControlState& c) {
            if (!IsProgress(c)) return false;
            before = c.pos;
            c.pos = std::clamp(pos, std::min(c.low, c.high), std::max(c.low, c.high));
            m_system.Record(w, id, Property::kPos, c.pos);
            return true;
        });
        return before;
    }

    int GetProgressPos(int id) override {
        return Read<int>(
            [&](W& w) {
                const ControlState* c = w.state.Control(id);
                return c ? c->pos : 0;
            },
            0);
    }

    Colour SetProgressBarColour(int id, Colour colour) override {
        Colour before = kDefaultColour;
        ChangeControl(id, [&](W& w, ControlState& c) {
            if (!IsProgress(c)) return false;
            before = c.barColour;
            c.barColour = colour;
            m_system.Record(w, id, Property::kBarColour, colour);
            return true;
        });
        return before;
    }

    bool StreamInRtf(int id, const StreamReader& reader) override {
        if (!HasControl(id)) return false;
        // The document is read before the window is locked: the reader is the caller's code.
        std::string document;
        char buffer[kStreamChunk];
        for (;;) {
            std::size_t count = reader(buffer, sizeof buffer);
            if (count == 0) break;
            document.append(buffer, std::min(count, sizeof buffer));
        }
        std::string text = RtfToText(document);
        return ChangeControl(id, [&](W& w, ControlState& c) {
            if (c.kind != ControlKind::kRichEdit) return false;
            c.rtf = std::move(document);
            c.text = text;
            m_system.Record(w, id, Property::kText, 0, 0, text);
            return true;
        });
    }

private:
    using W = MemoryWindowSystem::Window;

    static void Wake(W& w) {
        ++w.queue->generation;
        w.queue->cv.notify_all();
    }

    // Runs f on the live window under the window system's lock, then tells the observer.
    template <typename F>
    bool Change(F f) {
        std::lock_guard<std::recursive_mutex> order(m_system.m_notifyMutex);
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(m_system.m_mutex);
            W* w = m_system.FindLive(m_windowId);
            if (w) done = f(*w);
        }
        m_system.NotifyObserver();
        return done;
    }

    template <typename F>
    bool ChangeControl(int id, F f) {
        return Change([&](W& w) {
            ControlState* c = w.state.Control(id);
            return c != nullptr && f(w, *c);
        });
    }

    template <typename T, typename F>
    T Read(F f, T fallback) {
        std::lock_guard<std::mutex> lock(m_system.m_mutex);
        W* w = m_system.FindLive(m_windowId);
        return w ? f(*w) : fallback;
    }

    MemoryWindowSystem& m_system;
    uint64_t m_windowId;
};

// ---- The windows -----------------------------------------------------------------------------

MemoryWindowSystem::MemoryWindowSystem() {
    for (const char* c : kBuiltInClasses) m_registeredClasses.insert(c);
}

MemoryWindowSystem::~MemoryWindowSystem() = default;

void MemoryWindowSystem::SetObserver(MemoryWindowObserver* observer) {
    std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = observer;
}

std::optional<WindowState> MemoryWindowSystem::FindWindow(int templateId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if ((*it)->state.templateId == templateId) return Snapshot(**it);
    }
    return std::nullopt;
}

MemoryWindowSystem::Window* MemoryWindowSystem::FindLive(uint64_t windowId) {
    if (windowId == 0 || windowId > m_windows.size()) return nullptr;
    Window* w = m_windows[windowId - 1].get();
    return w->state.alive ? w : nullptr;
}

void MemoryWindowSystem::Record(Window& window, int controlId, Property property, int64_t value,
                                int64_t value2, std::string text) {
    if (m_observer) {
        ChangeRecord r;
        r.windowId = window.state.windowId;
        r.templateId = window.state.templateId;
        r.controlId = controlId;
        r.property = property;
        r.value = value;
        r.value2 = value2;
        r.text = std::move(text);
        m_pendingNotices.push_back(std::move(r));
    }
    if (window.queue && property != Property::kUserAction) {
        ++window.queue->generation;
        window.queue->cv.notify_all();
    }
}

void MemoryWindowSystem::NotifyObserver() {
    std::vector<ChangeRecord> notices;
    MemoryWindowObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        notices.swap(m_pendingNotices);
        observer = m_observer;
    }
    if (!observer) return;
    for (const ChangeRecord& r : notices) observer->OnChange(r);
}

WindowState MemoryWindowSystem::Snapshot(const Window& window) const {
    return window.state;
}

MemoryWindowSystem::Window& MemoryWindowSystem::MakeWindow(Dialog& dialog, Dialog* parent) {
    const DialogTemplate* tmpl = FindDialogTemplate(dialog.TemplateId());
    Window* window = nullptr;
    {
        std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto created = std::make_unique<Window>();
            window = created.get();
            WindowState& s = window->state;
            s.windowId = m_nextWindowId++;
            s.templateId = dialog.TemplateId();
            s.thread = std::this_thread::get_id();
            m_windows.push_back(std::move(created));
            std::string failure;
            if (!tmpl) {
                failure = "no dialog template " + std::to_string(dialog.TemplateId());
            } else {
                for (const ControlTemplate& c : tmpl->controls) {
                    std::string windowClass(ControlClassName(c.kind));
                    if (failure.empty() && !m_registeredClasses.count(windowClass)) {
                        failure = "window class " + windowClass + " is not registered";
                    }
                }
            }
            if (!failure.empty()) {
                s.result = kDialogFailed;
                Record(*window, 0, Property::kCreateFailed, 0, 0, failure);
            } else {
                window->queue = QueueOf(s.thread);
                window->dialog = &dialog;
                s.alive = true;
                s.title = std::string(tmpl->caption);
                s.rect = Rect{0, 0, tmpl->cx * kBaseUnitX / 4, tmpl->cy * kBaseUnitY / 8};
                s.hasSystemMenu = (tmpl->style & kWsSysMenu) != 0;
                if (parent) {
                    auto parentHost =
                        std::dynamic_pointer_cast<MemoryDialogHost>(parent->HostRef());
                    if (parentHost) s.parentWindowId = parentHost->WindowId();
                }
                for (const ControlTemplate& c : tmpl->controls) {
                    ControlState control;
                    control.id = c.id;
                    control.kind = c.kind;
                    control.style = c.style;
                    control.text = std::string(c.text);
                    control.visible = (c.style & kWsVisible) != 0;
                    s.controls.push_back(std::move(control));
                }
                Record(*window, 0, Property::kCreated, 0, 0, s.title);
            }
        }
        NotifyObserver();
    }
    return *window;
}

std::shared_ptr<DialogHost> MemoryWindowSystem::MakeHost(const Window& window) {
    return std::make_shared<MemoryDialogHost>(*this, window.state.windowId);
}

void MemoryWindowSystem::EndWindow(Window& window, int result) {
    std::lock_guard<std::recursive_mutex> handler(window.handlerMutex);
    std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        WindowState& s = window.state;
        if (s.visible) {
            s.visible = false;
            Record(window, 0, Property::kWindowVisible, 0);
        }
        window.timers.clear();
        s.timers.clear();
        std::erase_if(window.queue->messages,
                      [&](const Message& m) { return m.windowId == s.windowId; });
        s.result = result;
        Record(window, 0, Property::kDestroyed, result);
        s.alive = false;
        window.dialog = nullptr;
    }
    NotifyObserver();
}

// ---- Window classes and metrics -------------------------------------------------------------

bool MemoryWindowSystem::LoadControlLibrary(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string key = Upper(name);
    for (const ControlLibrary& library : kControlLibraries) {
        if (key == library.name) m_registeredClasses.insert(library.windowClass);
    }
    return true;
}

bool MemoryWindowSystem::InitCommonControls(uint32_t size, uint32_t classes) {
    (void)size;
    (void)classes;
    return true;
}

int MemoryWindowSystem::GetSystemMetrics(int index) {
    return index == kSmCxIcon || index == kSmCyIcon ? kSystemIconSize : 0;
}

}  // namespace framework
