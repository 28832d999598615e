// The in-memory window system: dialogs run a real message loop on the thread that shows them,
// every window and control keeps its state and the full history of its changes, and a scripted
// responder plays the user: it answers modal dialogs and message boxes. Tests assert what a user
// would have seen; the terminal front end observes every change and answers by asking a person.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/message_box.h"
#include "framework/window_system.h"

namespace framework {

// What changed. Control properties carry the control's id; window properties carry id 0.
enum class Property {
    // Controls.
    kText,       // text: the new text
    kVisible,    // value: 1 shown, 0 hidden
    kEnabled,    // value: 1 enabled, 0 disabled
    kCheck,      // value: the check state
    kRange,      // value: low, value2: high
    kStep,       // value: the step
    kPos,        // value: the position (kept inside the range)
    kBarColour,  // value: the colour
    // The window.
    kCreated,        // text: the caption of the template
    kCreateFailed,   // text: why the window could not be created
    kDestroyed,      // value: the dialog's result
    kTitle,          // text: the new title
    kWindowVisible,  // value: 1 shown, 0 hidden
    kMinimised,      // value: 1 minimised, 0 restored
    kTopmost,        // value: 1 in the topmost band, 0 not
    kWindowPos,      // value: the flags applied, value2: the insert-after value
    kIcon,           // value: the icon, value2: 1 big, 0 small
    kMenuItem,       // value: the flags, value2: the id, text: the item's text
    kTimerSet,       // value: the timer id, value2: the period in ms
    kTimerKilled,    // value: the timer id
    kPainted,        // value2: 1 when an icon was drawn; value/text: "x,y" of the icon
    kUserAction,     // value: the action's kind, value2: its id; text: "ignored" when refused
    kDragIcon,       // value: the icon the dialog returned
};

struct ChangeRecord {
    uint64_t sequence = 0;  // order of every change and message box in this window system
    uint64_t timeMs = 0;    // the process clock
    std::thread::id thread;
    uint64_t windowId = 0;
    int templateId = 0;
    int controlId = 0;
    Property property = Property::kText;
    int64_t value = 0;
    int64_t value2 = 0;
    std::string text;
};

struct ControlState {
    int id = 0;
    ControlKind kind = ControlKind::kStatic;
    uint32_t style = 0;
    std::string text;  // a rich-text pane: its text as plain text
    std::string rtf;   // a rich-text pane: the document streamed in
    bool visible = false;
    bool enabled = true;
    int check = 0;
    int low = 0;
    int high = kProgressDefaultHigh;
    int step = kProgressDefaultStep;
    int pos = 0;
    Colour barColour = kDefaultColour;
};

struct MenuItem {
    unsigned flags = 0;
    unsigned id = 0;
    std::string text;
};

struct IconDrawing {
    int x = 0;
    int y = 0;
    Icon icon = 0;
};

// A window as the user would see it at one moment.
struct WindowState {
    uint64_t windowId = 0;
    int templateId = 0;
    std::thread::id thread;  // the thread its loop runs on
    uint64_t parentWindowId = 0;
    bool alive = false;  // false once the dialog has ended
    int result = 0;      // the dialog's result once it has ended
    std::string title;
    bool visible = false;
    bool minimised = false;
    bool topmost = false;
    Rect rect;  // pixels
    Icon bigIcon = 0;
    Icon smallIcon = 0;
    bool hasSystemMenu = false;
    std::vector<MenuItem> systemMenu;     // the items appended to the standard ones
    std::map<unsigned, unsigned> timers;  // id -> period in ms
    std::vector<IconDrawing> lastPaint;   // what the last paint drew
    std::vector<ControlState> controls;   // in template order

    // The control with that id, or nullptr.
    const ControlState* Control(int id) const;
};

struct MessageBoxRecord {
    uint64_t sequence = 0;
    uint64_t timeMs = 0;
    std::thread::id thread;
    std::string caption;
    std::string text;
    unsigned type = 0;
    bool ownedByMainWindow = false;
    int answer = 0;  // the button that closed it (0 while it is open)
};

// What the user does next to the innermost dialog of a thread.
struct UserAction {
    enum class Kind {
        kWait,        // let waitMs of the process clock pass (0: until something happens)
        kPress,       // click the button (or radio button) id: it must be visible and enabled
        kEnter,       // the Enter key: the default button, even a hidden one
        kEscape,      // the Escape key: the Cancel command
        kCloseBox,    // the close box of the caption
        kSystemMenu,  // choose the system menu item id
        kMinimize,
        kRestore,
        kDragIcon,  // drag the minimised window: the dialog is asked for its drag icon
    };
    Kind kind = Kind::kWait;
    int id = 0;
    uint64_t waitMs = 0;

    static UserAction Wait(uint64_t ms = 0) { return {Kind::kWait, 0, ms}; }
    static UserAction Press(int id) { return {Kind::kPress, id, 0}; }
    static UserAction Enter() { return {Kind::kEnter, 0, 0}; }
    static UserAction Escape() { return {Kind::kEscape, 0, 0}; }
    static UserAction CloseBox() { return {Kind::kCloseBox, 0, 0}; }
    static UserAction SystemMenu(int id) { return {Kind::kSystemMenu, id, 0}; }
    static UserAction Minimize() { return {Kind::kMinimize, 0, 0}; }
    static UserAction Restore() { return {Kind::kRestore, 0, 0}; }
    static UserAction DragIcon() { return {Kind::kDragIcon, 0, 0}; }
};

// Asked, on the dialog's own thread, whenever its loop has nothing left to do: after the window
// is shown, after each message and timer, after each change to a window of that thread.
using DialogResponder = std::function<UserAction(const WindowState& dialog)>;
// Asked on the thread that raised the box; returns the button that closes it.
using MessageBoxResponder = std::function<int(const MessageBoxRecord& box)>;

// Told of every change and message box, in order, right after it happened. It may read the
// window system's state; it runs on the thread that made the change.
class MemoryWindowObserver {
public:
    virtual ~MemoryWindowObserver() = default;
    virtual void OnChange(const ChangeRecord& change) = 0;
    virtual void OnMessageBox(const MessageBoxRecord& box) { (void)box; }
};

class MemoryDialogHost;

class MemoryWindowSystem final : public WindowSystem {
public:
    MemoryWindowSystem();
    ~MemoryWindowSystem() override;
    MemoryWindowSystem(const MemoryWindowSystem&) = delete;
    MemoryWindowSystem& operator=(const MemoryWindowSystem&) = delete;

    // Makes this the window system and the message-box handler of the process; Uninstall (or the
    // destructor) puts the default window system and the default message boxes back.
    void Install();
    void Uninstall();

    void SetDialogResponder(DialogResponder responder);
    void SetMessageBoxResponder(MessageBoxResponder responder);
    void SetObserver(MemoryWindowObserver* observer);
    // Makes a control library impossible to load (it is loadable by default).
    void SetControlLibraryAvailable(const std::string& name, bool available);

    // What was shown: every window made, in order of creation (alive or not); the latest window
    // made from that template; the changes in order (optionally of one window / control /
    // property); the message boxes in order.
    std::vector<WindowState> Windows() const;
    std::optional<WindowState> FindWindow(int templateId) const;
    std::vector<ChangeRecord> History() const;
    std::vector<ChangeRecord> History(uint64_t windowId, int controlId, Property property) const;
    std::vector<MessageBoxRecord> MessageBoxes() const;
    std::vector<std::string> LoadedLibraries() const;
    bool CommonControlsInitialised() const;

    // The message boxes raised through framework::MessageBox while installed come here.
    int ShowMessageBox(const MessageBoxRequest& request);

    // WindowSystem.
    int RunModal(Dialog& dialog, Dialog* parent) override;
    void PostQuit(int exitCode) override;
    bool LoadControlLibrary(const std::string& name) override;
    bool InitCommonControls(uint32_t size, uint32_t classes) override;
    int GetSystemMetrics(int index) override;

private:
    friend class MemoryDialogHost;
    struct Window;
    struct ThreadQueue;
    struct Message {
        uint64_t windowId;
        unsigned message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    std::shared_ptr<ThreadQueue> QueueOf(std::thread::id thread);  // m_mutex held
    Window* FindLive(uint64_t windowId);                           // m_mutex held
    // Appends a change to the history and wakes the window's thread. m_mutex held.
    void Record(Window& window, int controlId, Property property, int64_t value, int64_t value2 = 0,
                std::string text = std::string());
    void NotifyObserver();  // m_notifyMutex held, m_mutex not
    int Loop(Window& window, Dialog& dialog, ThreadQueue& queue);
    bool DispatchOne(ThreadQueue& queue);
    void Idle(Window& window, Dialog& dialog, ThreadQueue& queue);
    void Apply(Window& window, Dialog& dialog, const UserAction& action);
    void WaitForActivity(Window& window, ThreadQueue& queue, uint64_t generation, uint64_t waitMs);
    WindowState Snapshot(const Window& window) const;  // m_mutex held

    mutable std::mutex m_mutex;
    std::recursive_mutex m_notifyMutex;  // keeps observer calls in the order of the changes
    uint64_t m_nextSequence = 1;
    uint64_t m_nextWindowId = 1;
    std::vector<std::unique_ptr<Window>> m_windows;
    std::map<std::thread::id, std::shared_ptr<ThreadQueue>> m_queues;
    std::vector<ChangeRecord> m_history;
    std::vector<ChangeRecord> m_pendingNotices;
    std::vector<MessageBoxRecord> m_messageBoxes;
    std::set<std::string> m_unavailableLibraries;
    std::set<std::string> m_loadedLibraries;
    std::set<std::string> m_registeredClasses;
    bool m_commonControls = false;
    DialogResponder m_dialogResponder;
    MessageBoxResponder m_messageBoxResponder;
    MemoryWindowObserver* m_observer = nullptr;
    bool m_installed = false;
};

}  // namespace framework
