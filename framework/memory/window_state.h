// What the in-memory windows hold, as a user would see it, and the notices of every change: the
// terminal front end draws from them, tests assert on them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/window_types.h"

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

// One change, as the observer is told of it (on the thread that made it, in the order of the
// changes and message boxes).
struct ChangeRecord {
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
    ControlState* Control(int id);
};

// A message box as it was raised.
struct MessageBoxRecord {
    std::string caption;
    std::string text;
    unsigned type = 0;
    bool ownedByMainWindow = false;
};

// Told of every change and message box, in order, right after it happened. It may read the
// window system's state; it runs on the thread that made the change or raised the box.
class MemoryWindowObserver {
public:
    virtual ~MemoryWindowObserver() = default;
    virtual void OnChange(const ChangeRecord& change) = 0;
    virtual void OnMessageBox(const MessageBoxRecord& box) { (void)box; }
};

}  // namespace framework
