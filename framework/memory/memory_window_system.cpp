#include "framework/memory/memory_window_system.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <utility>

#include "framework/clock.h"
#include "framework/dialog.h"
#include "framework/rtf_text.h"

namespace framework {
namespace {

// The dialog font's base units in pixels: a dialog unit is a quarter of the width and an eighth
// of the height.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int kSystemIconSize = 32;
// How often a loop waiting for a clock that only tests move looks at the time again.
constexpr auto kVirtualClockPoll = std::chrono::milliseconds(1);
// How long a refused user action waits before the responder is asked again.
constexpr uint64_t kRefusedActionWaitMs = 10;
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

bool IsButton(ControlKind kind) {
    return kind == ControlKind::kPushButton || kind == ControlKind::kDefPushButton ||
           kind == ControlKind::kRadioButton;
}

bool IsProgress(const ControlState& c) {
    return c.kind == ControlKind::kProgressBar;
}

}  // namespace

struct MemoryWindowSystem::ThreadQueue {
    std::deque<Message> messages;
    bool quit = false;
    uint64_t generation = 0;  // moves on whenever something happens to the thread's windows
    std::condition_variable cv;
};

struct MemoryWindowSystem::Window {
    struct Timer {
        unsigned periodMs;
        uint64_t dueMs;
    };
    WindowState state;
    Dialog* dialog = nullptr;
    std::shared_ptr<ThreadQueue> queue;
    std::recursive_mutex handlerMutex;  // held while another thread runs one of its handlers
    std::map<unsigned, Timer> timers;
    bool ended = false;
    int endResult = 0;
    bool needsPaint = false;
    bool shownOnIdle = false;
    bool painting = false;

    ControlState* Control(int id) {
        if (id == kIdcStatic) return nullptr;
        for (ControlState& c : state.controls) {
            if (c.id == id) return &c;
        }
        return nullptr;
    }
};

const ControlState* WindowState::Control(int id) const {
    if (id == kIdcStatic) return nullptr;
    for (const ControlState& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
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
        return Read<bool>([&](W& w) { return w.Control(id) != nullptr; }, false);
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
                const ControlState* c = w.Control(id);
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
                const ControlState* c = w.Control(id);
                return c && c->visible;
            },
            false);
    }

    bool IsControlEnabled(int id) override {
        return Read<bool>(
            [&](W& w) {
                const ControlState* c = w.Control(id);
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
                const ControlState* c = w.Control(id);
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
                const ControlState* c = w.Control(id);
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
            ControlState* c = w.Control(id);
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

// ---- The window system ----------------------------------------------------------------------

MemoryWindowSystem::MemoryWindowSystem() {
    for (const char* c : kBuiltInClasses) m_registeredClasses.insert(c);
}

MemoryWindowSystem::~MemoryWindowSystem() {
    Uninstall();
}

void MemoryWindowSystem::Install() {
    SetWindowSystem(this);
    SetMessageBoxHandler([this](const MessageBoxRequest& r) { return ShowMessageBox(r); });
    m_installed = true;
}

void MemoryWindowSystem::Uninstall() {
    if (!m_installed) return;
    m_installed = false;
    SetMessageBoxHandler(nullptr);
    SetWindowSystem(nullptr);
}

void MemoryWindowSystem::SetDialogResponder(DialogResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dialogResponder = std::move(responder);
}

void MemoryWindowSystem::SetMessageBoxResponder(MessageBoxResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messageBoxResponder = std::move(responder);
}

void MemoryWindowSystem::SetObserver(MemoryWindowObserver* observer) {
    std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = observer;
}

void MemoryWindowSystem::SetControlLibraryAvailable(const std::string& name, bool available) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (available) {
        m_unavailableLibraries.erase(Upper(name));
    } else {
        m_unavailableLibraries.insert(Upper(name));
    }
}

std::vector<WindowState> MemoryWindowSystem::Windows() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<WindowState> all;
    for (const auto& w : m_windows) all.push_back(Snapshot(*w));
    return all;
}

std::optional<WindowState> MemoryWindowSystem::FindWindow(int templateId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if ((*it)->state.templateId == templateId) return Snapshot(**it);
    }
    return std::nullopt;
}

std::vector<ChangeRecord> MemoryWindowSystem::History() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history;
}

std::vector<ChangeRecord> MemoryWindowSystem::History(uint64_t windowId, int controlId,
                                                      Property property) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ChangeRecord> selected;
    for (const ChangeRecord& r : m_history) {
        if (r.windowId == windowId && r.controlId == controlId && r.property == property) {
            selected.push_back(r);
        }
    }
    return selected;
}

std::vector<MessageBoxRecord> MemoryWindowSystem::MessageBoxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messageBoxes;
}

std::vector<std::string> MemoryWindowSystem::LoadedLibraries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_loadedLibraries.begin(), m_loadedLibraries.end()};
}

bool MemoryWindowSystem::CommonControlsInitialised() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commonControls;
}

int MemoryWindowSystem::ShowMessageBox(const MessageBoxRequest& request) {
    MessageBoxRecord record;
    std::size_t index = 0;
    MessageBoxResponder responder;
    MemoryWindowObserver* observer = nullptr;
    {
        std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            record.sequence = m_nextSequence++;
            record.timeMs = ProcessClock().NowMs();
            record.thread = std::this_thread::get_id();
            record.caption = request.caption;
            record.text = request.text;
            record.type = request.type;
            record.ownedByMainWindow = request.ownedByMainWindow;
            index = m_messageBoxes.size();
            m_messageBoxes.push_back(record);
            responder = m_messageBoxResponder;
            observer = m_observer;
        }
        if (observer) observer->OnMessageBox(record);
    }
    int answer = responder ? responder(record) : kIdOk;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messageBoxes[index].answer = answer;
    return answer;
}

std::shared_ptr<MemoryWindowSystem::ThreadQueue> MemoryWindowSystem::QueueOf(
    std::thread::id thread) {
    auto& queue = m_queues[thread];
    if (!queue) queue = std::make_shared<ThreadQueue>();
    return queue;
}

MemoryWindowSystem::Window* MemoryWindowSystem::FindLive(uint64_t windowId) {
    if (windowId == 0 || windowId > m_windows.size()) return nullptr;
    Window* w = m_windows[windowId - 1].get();
    return w->state.alive ? w : nullptr;
}

void MemoryWindowSystem::Record(Window& window, int controlId, Property property, int64_t value,
                                int64_t value2, std::string text) {
    ChangeRecord r;
    r.sequence = m_nextSequence++;
    r.timeMs = ProcessClock().NowMs();
    r.thread = std::this_thread::get_id();
    r.windowId = window.state.windowId;
    r.templateId = window.state.templateId;
    r.controlId = controlId;
    r.property = property;
    r.value = value;
    r.value2 = value2;
    r.text = std::move(text);
    m_history.push_back(r);
    if (m_observer) m_pendingNotices.push_back(std::move(r));
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

int MemoryWindowSystem::RunModal(Dialog& dialog, Dialog* parent) {
    const DialogTemplate* tmpl = FindDialogTemplate(dialog.TemplateId());
    Window* window = nullptr;
    std::shared_ptr<ThreadQueue> queue;
    std::string failure;
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
                queue = QueueOf(s.thread);
                window->queue = queue;
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
    if (!failure.empty()) return kDialogFailed;

    auto host = std::make_shared<MemoryDialogHost>(*this, window->state.windowId);
    dialog.AttachHost(host);
    dialog.OnInitDialog();
    int result = dialog.DataExchangeFailed() ? kDialogFailed : Loop(*window, dialog, *queue);

    {
        std::lock_guard<std::recursive_mutex> handler(window->handlerMutex);
        std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            WindowState& s = window->state;
            if (s.visible) {
                s.visible = false;
                Record(*window, 0, Property::kWindowVisible, 0);
            }
            window->timers.clear();
            s.timers.clear();
            std::erase_if(queue->messages,
                          [&](const Message& m) { return m.windowId == s.windowId; });
            s.result = result;
            Record(*window, 0, Property::kDestroyed, result);
            s.alive = false;
            window->dialog = nullptr;
        }
        NotifyObserver();
    }
    dialog.DetachHost();
    return result;
}

int MemoryWindowSystem::Loop(Window& window, Dialog& dialog, ThreadQueue& queue) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (window.ended) return window.endResult;
            if (queue.quit) return kDialogFailed;
        }
        if (DispatchOne(queue)) continue;
        Idle(window, dialog, queue);
    }
}

// Handles one posted message, else one due timer, else one paint, of any window of the queue's
// thread. False when there was nothing to do.
bool MemoryWindowSystem::DispatchOne(ThreadQueue& queue) {
    Dialog* target = nullptr;
    enum class What { kMessage, kTimer, kPaint } what = What::kMessage;
    Message message{};
    unsigned timerId = 0;
    Window* paintWindow = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!queue.messages.empty() && !target) {
            message = queue.messages.front();
            queue.messages.pop_front();
            if (Window* w = FindLive(message.windowId)) target = w->dialog;
        }
        if (!target) {
            uint64_t now = ProcessClock().NowMs();
            Window* due = nullptr;
            uint64_t earliest = UINT64_MAX;
            for (const auto& w : m_windows) {
                if (!w->state.alive || w->queue.get() != &queue) continue;
                for (auto& [id, timer] : w->timers) {
                    if (timer.dueMs <= now && timer.dueMs < earliest) {
                        earliest = timer.dueMs;
                        due = w.get();
                        timerId = id;
                    }
                }
            }
            if (due) {
                due->timers[timerId].dueMs = now + due->timers[timerId].periodMs;
                target = due->dialog;
                what = What::kTimer;
            }
        }
        if (!target) {
            for (const auto& w : m_windows) {
                if (w->state.alive && w->queue.get() == &queue && w->needsPaint) {
                    w->needsPaint = false;
                    w->painting = true;
                    w->state.lastPaint.clear();
                    paintWindow = w.get();
                    target = w->dialog;
                    what = What::kPaint;
                    break;
                }
            }
        }
    }
    if (!target) return false;
    switch (what) {
        case What::kMessage:
            if (message.message == kWmClose) {
                target->OnClose();
            } else if (message.message == kWmCommand) {
                target->OnCommand(static_cast<int>(message.wParam & 0xFFFF));
            } else {
                target->OnSysCommand(static_cast<unsigned>(message.wParam), message.lParam);
            }
            break;
        case What::kTimer:
            target->OnTimer(timerId);
            break;
        case What::kPaint: {
            target->OnPaint();
            std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                paintWindow->painting = false;
                bool drewIcon = false;
                std::string where;
                for (const IconDrawing& d : paintWindow->state.lastPaint) {
                    if (d.icon == 0) continue;
                    drewIcon = true;
                    where = std::to_string(d.x) + "," + std::to_string(d.y);
                }
                if (paintWindow->state.alive) {
                    Record(*paintWindow, 0, Property::kPainted, 0, drewIcon ? 1 : 0, where);
                }
            }
            NotifyObserver();
            break;
        }
    }
    return true;
}

// Nothing is queued: the window is shown the first time, then the user is asked what to do.
void MemoryWindowSystem::Idle(Window& window, Dialog& dialog, ThreadQueue& queue) {
    DialogResponder responder;
    WindowState snapshot;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!window.shownOnIdle) {
            window.shownOnIdle = true;
            if (!window.state.visible) {
                // Shown outside the lock: the position filter may run.
                generation = UINT64_MAX;
            }
        }
        if (generation != UINT64_MAX) {
            responder = m_dialogResponder;
            snapshot = Snapshot(window);
            generation = queue.generation;
        }
    }
    if (generation == UINT64_MAX) {
        dialog.ShowWindow(kSwShowNormal);
        return;
    }
    UserAction action = responder ? responder(snapshot) : UserAction::Wait();
    if (action.kind != UserAction::Kind::kWait) {
        Apply(window, dialog, action);
        return;
    }

    WaitForActivity(window, queue, generation, action.waitMs);
}

// Waits until something happens on the queue's thread (a message, a change, a quit, a due timer
// or paint) or until waitMs of the process clock have passed (0: no limit).
void MemoryWindowSystem::WaitForActivity(Window& window, ThreadQueue& queue, uint64_t generation,
                                         uint64_t waitMs) {
    Clock& clock = ProcessClock();
    uint64_t deadline = waitMs ? clock.NowMs() + waitMs : 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (queue.generation != generation || !queue.messages.empty() || queue.quit ||
            window.ended) {
            return;
        }
        uint64_t now = clock.NowMs();
        uint64_t until = deadline;
        for (const auto& w : m_windows) {
            if (!w->state.alive || w->queue.get() != &queue) continue;
            if (w->needsPaint) return;
            for (const auto& entry : w->timers) {
                if (until == 0 || entry.second.dueMs < until) until = entry.second.dueMs;
            }
        }
        if (until != 0 && now >= until) return;
        if (until == 0) {
            queue.cv.wait(lock);
        } else if (dynamic_cast<SteadyClock*>(&clock)) {
            queue.cv.wait_for(lock, std::chrono::milliseconds(until - now));
        } else if (auto* scaled = dynamic_cast<ScaledClock*>(&clock)) {
            queue.cv.wait_for(
                lock, std::chrono::microseconds((until - now) * 1000 / scaled->Factor() + 1));
        } else {
            queue.cv.wait_for(lock, kVirtualClockPoll);
        }
    }
}

// Carries out what the user did to the innermost dialog of this thread. Actions a user could not
// take (a hidden or disabled button, a missing menu item) are recorded as refused.
void MemoryWindowSystem::Apply(Window& window, Dialog& dialog, const UserAction& action) {
    using Kind = UserAction::Kind;
    int command = 0;
    bool allowed = false;
    uint64_t generation = 0;
    {
        std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            WindowState& s = window.state;
            switch (action.kind) {
                case Kind::kPress: {
                    ControlState* c = window.Control(action.id);
                    allowed = c && c->visible && c->enabled && IsButton(c->kind);
                    if (allowed && c->kind == ControlKind::kRadioButton) {
                        // An automatic radio button checks itself and clears the others of its
                        // group (a group runs from a control marked as its start to the next).
                        auto index = static_cast<std::size_t>(c - s.controls.data());
                        std::size_t first = index;
                        while (first > 0 && (s.controls[first].style & kWsGroup) == 0) --first;
                        std::size_t last = index + 1;
                        while (last < s.controls.size() &&
                               (s.controls[last].style & kWsGroup) == 0) {
                            ++last;
                        }
                        for (std::size_t i = first; i < last; ++i) {
                            ControlState& other = s.controls[i];
                            if (other.kind != ControlKind::kRadioButton) continue;
                            int state = i == index ? kBstChecked : kBstUnchecked;
                            if (other.check != state) {
                                other.check = state;
                                Record(window, other.id, Property::kCheck, state);
                            }
                        }
                    }
                    command = action.id;
                    break;
                }
                case Kind::kEnter: {
                    command = kIdOkCommand;
                    for (const ControlState& c : s.controls) {
                        if (c.kind == ControlKind::kDefPushButton) {
                            command = c.id;
                            break;
                        }
                    }
                    const ControlState* c = window.Control(command);
                    allowed = !c || c->enabled;
                    break;
                }
                case Kind::kEscape: {
                    command = kIdCancelCommand;
                    const ControlState* c = window.Control(command);
                    allowed = !c || c->enabled;
                    break;
                }
                case Kind::kCloseBox:
                    command = static_cast<int>(kScClose);
                    allowed = s.hasSystemMenu;
                    break;
                case Kind::kSystemMenu: {
                    auto id = static_cast<unsigned>(action.id);
                    unsigned standard = id & kScCommandMask;
                    bool item = std::any_of(s.systemMenu.begin(), s.systemMenu.end(),
                                            [id](const MenuItem& m) {
                                                return m.id == id && (m.flags & kMfSeparator) == 0;
                                            });
                    allowed =
                        s.hasSystemMenu && (item || standard == kScClose ||
                                            standard == kScMinimize || standard == kScRestore);
                    command = action.id;
                    break;
                }
                case Kind::kMinimize:
                    command = static_cast<int>(kScMinimize);
                    allowed = true;
                    break;
                case Kind::kRestore:
                    command = static_cast<int>(kScRestore);
                    allowed = true;
                    break;
                case Kind::kDragIcon:
                    allowed = s.minimised;
                    break;
                case Kind::kWait:
                    break;
            }
            Record(window, 0, Property::kUserAction, static_cast<int64_t>(action.kind), action.id,
                   allowed ? std::string() : std::string("ignored"));
            generation = window.queue->generation;
        }
        NotifyObserver();
    }
    if (!allowed) {
        // Give the rest of the program a moment before the user is asked again.
        WaitForActivity(window, *window.queue, generation, kRefusedActionWaitMs);
        return;
    }
    switch (action.kind) {
        case Kind::kPress:
        case Kind::kEnter:
        case Kind::kEscape:
            dialog.OnCommand(command);
            break;
        case Kind::kCloseBox:
        case Kind::kSystemMenu:
        case Kind::kMinimize:
        case Kind::kRestore:
            dialog.OnSysCommand(static_cast<unsigned>(command), 0);
            break;
        case Kind::kDragIcon: {
            Icon icon = dialog.OnQueryDragIcon();
            std::lock_guard<std::recursive_mutex> order(m_notifyMutex);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                Record(window, 0, Property::kDragIcon, static_cast<int64_t>(icon));
            }
            NotifyObserver();
            break;
        }
        case Kind::kWait:
            break;
    }
}

void MemoryWindowSystem::PostQuit(int exitCode) {
    (void)exitCode;  // the process keeps the first code; here it only ends the loops
    std::lock_guard<std::mutex> lock(m_mutex);
    auto queue = QueueOf(std::this_thread::get_id());
    queue->quit = true;
    ++queue->generation;
    queue->cv.notify_all();
}

bool MemoryWindowSystem::LoadControlLibrary(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string key = Upper(name);
    if (m_unavailableLibraries.count(key)) return false;
    m_loadedLibraries.insert(key);
    for (const ControlLibrary& library : kControlLibraries) {
        if (key == library.name) m_registeredClasses.insert(library.windowClass);
    }
    return true;
}

bool MemoryWindowSystem::InitCommonControls(uint32_t size, uint32_t classes) {
    (void)size;
    (void)classes;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commonControls = true;
    return true;
}

int MemoryWindowSystem::GetSystemMetrics(int index) {
    return index == kSmCxIcon || index == kSmCyIcon ? kSystemIconSize : 0;
}

}  // namespace framework
