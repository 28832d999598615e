// The user's actions on an in-memory dialog: what a click, a key or a menu choice becomes, and
// which of them a user could not take.
#include <algorithm>
#include <string>

#include "framework/dialog.h"
#include "framework/memory/memory_window_internal.h"
#include "framework/memory/memory_window_system.h"

namespace framework {
namespace {

// How long a refused user action waits before the responder is asked again.
constexpr uint64_t kRefusedActionWaitMs = 10;

bool IsButton(ControlKind kind) {
    return kind == ControlKind::kPushButton || kind == ControlKind::kDefPushButton ||
           kind == ControlKind::kRadioButton;
}

}  // namespace

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
                    ControlState* c = s.Control(action.id);
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
                    const ControlState* c = s.Control(command);
                    allowed = !c || c->enabled;
                    break;
                }
                case Kind::kEscape: {
                    command = kIdCancelCommand;
                    const ControlState* c = s.Control(command);
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

}  // namespace framework
