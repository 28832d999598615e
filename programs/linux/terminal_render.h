// What the terminal front end prints of the main window and the licence: the main window's state
// turned into lines (a block redrawn in place on a terminal, or one plain line per controller
// row), and text wrapped to the terminal's width.
#pragma once

#include <string>
#include <vector>

#include "framework/memory/memory_window_system.h"
#include "framework/window_types.h"

namespace terminal {

using framework::Colour;
using framework::kDefaultColour;
using framework::WindowState;

// One controller's row of the main window, as its controls show it.
struct ControllerRowView {
    int index = 0;          // 0 to 3, in controller order
    std::string name;       // "270X 1:" (or "270X :" for a single controller)
    std::string numbers;    // "Bus: 01 Device: 00 Function: 00", captions and values shown
    std::string flashPart;  // the flash part label
    bool barVisible = false;
    int barPercent = 0;
    Colour barColour = kDefaultColour;
};

struct MainWindowView {
    std::string title;
    int activityPercent = 0;
    Colour activityColour = kDefaultColour;
    std::vector<ControllerRowView> rows;  // only the rows that show something
};

// The main window's view from its state.
MainWindowView ViewOfMainWindow(const WindowState& window);

// The block drawn on a terminal: title, activity bar, one line per controller row; each line at
// most columns wide (escape sequences do not count), bars in their colours unless colour is off.
std::vector<std::string> RenderMainWindowBlock(const MainWindowView& view, int columns,
                                               bool colour);

// The plain line of one controller row: "270X 1: Bus: 01 Device: 00 Function: 00 PMC:[Pm25LV010]
// job 50% green".
std::string RenderPlainRow(const ControllerRowView& row);

// "green", "blue", "red" for the dialog's three bar colours, else "rgb(R,G,B)"; "default" for a
// bar's own colour.
std::string ColourName(Colour colour);

// The text's lines, each at most columns wide, broken at spaces where possible.
std::vector<std::string> WrapText(const std::string& text, int columns);

}  // namespace terminal
