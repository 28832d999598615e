// What the user of an in-memory window does next, and who decides it.
#pragma once

#include <cstdint>
#include <functional>

#include "framework/memory/window_state.h"

namespace framework {

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

}  // namespace framework
