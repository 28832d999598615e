// What the terminal front end prints of the main window and the licence: the main window's state
// turned into lines (a block redrawn in place on a terminal, or one plain line per controller
// row), and text wrapped to the terminal's width.
#pragma once

#include <string>
#include <vector>

#include "flash/job_progress.h"
#include "framework/memory/memory_window_system.h"
#include "framework/window_types.h"

namespace terminal {

using framework::Colour;
using framework::kDefaultColour;
using framework::WindowState;

// How bars are coloured: not at all (their outcome in words instead), in the 16 standard
// colours every terminal has, or in the dialog's own 24-bit colours.
enum class ColourDepth { kNone, kStandard, kTrueColour };

// One controller's row of the main window, as its controls show it.
struct ControllerRowView {
    int index = 0;        // 0 to 3, in controller order
    std::string name;     // "270X 1:" (or "270X :" for a single controller)
    std::string numbers;  // "Bus: 01 Device: 00 Function: 00", captions and values shown
    std::string bus;      // the numbers' values alone, "01"
    std::string device;
    std::string function;
    std::string flashPart;  // the flash part label; empty until the part is known
    bool barVisible = false;
    int barPercent = 0;
    Colour barColour = kDefaultColour;
    // What its update is doing, from the job's own record, and why it failed.
    flash::JobSnapshot progress;
    std::string cause;
};

struct MainWindowView {
    std::string title;
    std::string activity;                 // the activity line (ActivityLine)
    std::vector<ControllerRowView> rows;  // only the rows that show something
    std::string image;                    // the image being written, once known
    std::string notice;                   // a line under the rows ("Closing: ..."), if any
};

// The main window's view from its state.
MainWindowView ViewOfMainWindow(const WindowState& window);

// The block drawn on a terminal: title, activity line, two lines per controller row (its
// names, flash part, bar, percentage and outcome word; then its step, bytes and attempt, or the
// cause of its failure), then the image and the notice. Each line fits in columns (escape
// sequences do not count): a row keeps its bar, percentage and word, giving up first the long
// spelling of its numbers, then bar cells, then the end of its flash part's name.
std::vector<std::string> RenderMainWindowBlock(const MainWindowView& view, int columns,
                                               ColourDepth depth);

// The plain lines of one controller row, each at most columns wide: "270X 1: Bus 01 Dev 00 Fn 00
// PMC:[Pm25LV010] write, attempt 1 of 3"; once it failed, its cause on the lines after.
std::vector<std::string> RenderPlainRow(const ControllerRowView& row, int columns);
// Whether a plain line of the row says anything yet: its flash part is known or its update has
// begun (a row waiting for its identification is not printed).
bool PlainRowWorthPrinting(const ControllerRowView& row);

// A bar's outcome in words: "updated" (blue), "FAILED" (red), nothing while it runs (green).
std::string OutcomeWord(Colour colour);
// A row's state in one word, in every mode: "updated", "FAILED", "waiting", or nothing while
// it runs.
std::string RowWord(const ControllerRowView& row);
// How much of the row's current attempt is done, in bytes read and written (0 to 100).
int RowPercent(const ControllerRowView& row);
// The row's second line: "write 24,576 of 65,536 bytes, attempt 1 of 3", or its cause.
std::string RowDetail(const ControllerRowView& row);
// The activity line: a mark that turns only when the hardware was accessed since the last
// frame (frame counts those turns), the time since the run began, and how many controllers are
// done; once every row has ended, how they ended.
std::string ActivityLine(unsigned frame, uint64_t ullElapsedMs,
                         const std::vector<ControllerRowView>& rows, bool bRunFailed);
// A byte count with thousands separated: "131,072".
std::string ByteCount(uint32_t dwBytes);

// The escape sequence that draws cells in that colour at that depth; empty for none.
std::string CellStyle(Colour colour, ColourDepth depth);

// The columns a line takes on the screen: its characters without escape sequences.
std::size_t VisibleWidth(const std::string& line);

// The text's lines, each at most columns wide, broken at spaces where possible.
std::vector<std::string> WrapText(const std::string& text, int columns);

}  // namespace terminal
