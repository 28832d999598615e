#include "programs/linux/terminal_render.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "flash/update_engine.h"
#include "res/resource_ids.h"

namespace terminal {

using namespace framework;
namespace {

constexpr Colour kBlue = Rgb(50, 50, 255);
constexpr Colour kRed = Rgb(255, 50, 50);
constexpr int kPercent = 100;
constexpr int kMostJobBarCells = 20;
constexpr int kFewestJobBarCells = 10;
constexpr int kBarFrame = 7;  // "[", "] ", "100%"
constexpr char kFilledCell = '#';
constexpr char kEmptyCell = '-';
constexpr char kCutMark = '~';
constexpr char kResetStyle[] = "\x1b[0m";
constexpr char kClearToEndOfLine[] = "\x1b[K";
constexpr const char* kUnknownPart = ":[]";  // the label of a part not identified yet
constexpr const char* kImageCaption = "Image: ";
// The second line of a row starts under its numbers.
constexpr std::size_t kDetailIndent = 8;
constexpr char kSpinnerFrames[] = {'|', '/', '-', '\\'};
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kSecondsPerMinute = 60;

// The 8 standard colours as terminals commonly show them, by their colour number 0-7.
constexpr Colour kStandardColours[] = {
    Rgb(0, 0, 0),   Rgb(205, 0, 0),   Rgb(0, 205, 0),   Rgb(205, 205, 0),
    Rgb(0, 0, 238), Rgb(205, 0, 205), Rgb(0, 205, 205), Rgb(229, 229, 229),
};
constexpr int kForegroundBase = 30;
constexpr int kBackgroundBase = 40;

uint8_t Red(Colour c) {
    return static_cast<uint8_t>(c & 0xFF);
}
uint8_t Green(Colour c) {
    return static_cast<uint8_t>((c >> 8) & 0xFF);
}
uint8_t Blue(Colour c) {
    return static_cast<uint8_t>((c >> 16) & 0xFF);
}

// The standard colour nearest to c.
int NearestStandardColour(Colour c) {
    int best = 0;
    long bestDistance = LONG_MAX;
    for (int i = 0; i < static_cast<int>(std::size(kStandardColours)); ++i) {
        const Colour s = kStandardColours[i];
        const long dr = Red(c) - Red(s);
        const long dg = Green(c) - Green(s);
        const long db = Blue(c) - Blue(s);
        const long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

int PercentOf(const ControlState& bar) {
    int span = bar.high - bar.low;
    if (span <= 0) return 0;
    return std::clamp((bar.pos - bar.low) * kPercent / span, 0, kPercent);
}

std::string PadRight(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

// The text cut to width, its last kept character marking the cut.
std::string CutTo(const std::string& text, std::size_t width) {
    if (text.size() <= width) return text;
    if (width == 0) return std::string();
    return text.substr(0, width - 1) + kCutMark;
}

// A line of pieces, some of them drawn in a style; cut to a width that escape sequences do not
// count towards.
class StyledLine {
public:
    void Add(const std::string& text, const std::string& style = std::string()) {
        m_pieces.push_back({text, style});
    }
    std::string Render(int columns) const {
        std::string out;
        std::size_t room = columns > 0 ? static_cast<std::size_t>(columns) : SIZE_MAX;
        for (const Piece& p : m_pieces) {
            if (room == 0) break;
            std::string text = p.text.substr(0, room);
            room -= text.size();
            if (!p.style.empty() && !text.empty()) {
                out += p.style + text + kResetStyle;
            } else {
                out += text;
            }
        }
        return out + kClearToEndOfLine;
    }

private:
    struct Piece {
        std::string text;
        std::string style;
    };
    std::vector<Piece> m_pieces;
};

// "[####------]  40%", then the row's state in a word, in every mode.
void AddBar(StyledLine& line, int percent, Colour colour, int cells, ColourDepth depth,
            const std::string& word) {
    int filled = percent * cells / kPercent;
    line.Add("[");
    line.Add(std::string(static_cast<std::size_t>(filled), kFilledCell), CellStyle(colour, depth));
    line.Add(std::string(static_cast<std::size_t>(cells - filled), kEmptyCell));
    char tail[32];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    line.Add(tail);
    if (!word.empty()) line.Add(" " + word);
}

// "attempt 2 of 3".
std::string AttemptText(uint8_t ucAttempt) {
    return "attempt " + std::to_string(ucAttempt) + " of " + std::to_string(flash::kUpdateAttempts);
}

// The spellings of a row's numbers, longest first.
std::vector<std::string> NumberSpellings(const ControllerRowView& row) {
    if (row.bus.empty() && row.device.empty() && row.function.empty()) return {row.numbers};
    return {row.numbers, "Bus " + row.bus + " Dev " + row.device + " Fn " + row.function,
            "B" + row.bus + " D" + row.device + " F" + row.function};
}

// How the controller rows are laid out: every row alike, so that their bars line up.
struct RowLayout {
    std::size_t spelling = 0;  // which spelling of the numbers
    std::size_t nameWidth = 0;
    std::size_t numbersWidth = 0;
    std::size_t partWidth = 0;
    int cells = kMostJobBarCells;
};

RowLayout LayOutRows(const std::vector<ControllerRowView>& rows, int columns, ColourDepth depth) {
    const std::size_t width = columns > 0 ? static_cast<std::size_t>(columns) : SIZE_MAX / 2;
    (void)depth;
    // Room kept after the bar for the state in a word.
    const std::size_t wordRoom = std::string(" updated").size();
    RowLayout layout;
    std::size_t longestPart = 0;
    for (const ControllerRowView& row : rows) {
        layout.nameWidth = std::max(layout.nameWidth, row.name.size());
        longestPart = std::max(longestPart, row.flashPart.size());
    }
    const std::size_t spellings = rows.empty() ? 1 : NumberSpellings(rows.front()).size();
    for (std::size_t s = 0; s < spellings; ++s) {
        std::size_t numbersWidth = 0;
        for (const ControllerRowView& row : rows) {
            const auto all = NumberSpellings(row);
            numbersWidth = std::max(numbersWidth, all[std::min(s, all.size() - 1)].size());
        }
        // name, numbers, part, each followed by a space, then the bar.
        const std::size_t fixed =
            layout.nameWidth + 1 + numbersWidth + 1 + longestPart + 1 + kBarFrame + wordRoom;
        layout.spelling = s;
        layout.numbersWidth = numbersWidth;
        if (fixed + kFewestJobBarCells <= width) {
            layout.partWidth = longestPart;
            layout.cells = static_cast<int>(std::min<std::size_t>(kMostJobBarCells, width - fixed));
            return layout;
        }
    }
    // Even the shortest numbers leave too little room: the part's name gives up its end.
    layout.cells = kFewestJobBarCells;
    const std::size_t others = layout.nameWidth + 1 + layout.numbersWidth + 1 + 1 + kBarFrame +
                               kFewestJobBarCells + wordRoom;
    layout.partWidth = width > others ? width - others : 0;
    return layout;
}

}  // namespace

std::string OutcomeWord(Colour colour) {
    if (colour == kBlue) return "updated";
    if (colour == kRed) return "FAILED";
    return std::string();
}

std::string RowWord(const ControllerRowView& row) {
    switch (row.progress.step) {
        case flash::JobStep::kUpdated:
            return "updated";
        case flash::JobStep::kFailed:
            return "FAILED";
        case flash::JobStep::kWaiting:
            return "waiting";
        default:
            return OutcomeWord(row.barColour);
    }
}

int RowPercent(const ControllerRowView& row) {
    const flash::JobSnapshot& p = row.progress;
    if (p.step == flash::JobStep::kUpdated) return kPercent;
    if (p.step == flash::JobStep::kNone && OutcomeWord(row.barColour) == "updated") return kPercent;
    if (p.dwAttemptTotal == 0 || p.ucAttempt == 0) return 0;
    return static_cast<int>(static_cast<uint64_t>(p.dwAttemptDone) * kPercent / p.dwAttemptTotal);
}

std::string ByteCount(uint32_t dwBytes) {
    std::string digits = std::to_string(dwBytes);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string RowDetail(const ControllerRowView& row) {
    const flash::JobSnapshot& p = row.progress;
    switch (p.step) {
        case flash::JobStep::kNone:
            if (!row.barVisible || RowWord(row) != "") return std::string();
            return row.flashPart.empty() ? "identifying its flash part" : "identified";
        case flash::JobStep::kWaiting:
            return "waiting for another controller's write to end";
        case flash::JobStep::kBackup:
            return "backup: reading its flash before the erase";
        case flash::JobStep::kErase:
            return "erase, " + AttemptText(p.ucAttempt);
        case flash::JobStep::kBlankCheck:
        case flash::JobStep::kWrite:
        case flash::JobStep::kVerify:
            return std::string(flash::JobStepName(p.step)) + " " + ByteCount(p.dwStepDone) +
                   " of " + ByteCount(p.dwStepTotal) + " bytes, " + AttemptText(p.ucAttempt);
        case flash::JobStep::kUpdated:
            return "written and verified " + ByteCount(p.dwStepTotal) + " bytes, " +
                   AttemptText(p.ucAttempt);
        case flash::JobStep::kFailed:
            return row.cause.empty() ? "not updated" : row.cause;
    }
    return std::string();
}

std::string ActivityLine(unsigned frame, uint64_t ullElapsedMs,
                         const std::vector<ControllerRowView>& rows, bool bRunFailed) {
    const uint64_t seconds = ullElapsedMs / kMsPerSecond;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%llu:%02llu",
                  static_cast<unsigned long long>(seconds / kSecondsPerMinute),
                  static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    std::size_t updated = 0;
    std::size_t failed = 0;
    for (const ControllerRowView& row : rows) {
        const std::string word = RowWord(row);
        if (word == "updated") ++updated;
        if (word == "FAILED") ++failed;
    }
    const bool bAllEnded = !rows.empty() && updated + failed == rows.size();
    if (bAllEnded || bRunFailed) {
        std::string line = std::string(bAllEnded ? "Finished after " : "Stopped after ") + clock;
        if (!rows.empty()) {
            line += ": " + std::to_string(updated) + " updated";
            if (failed > 0) line += ", " + std::to_string(failed) + " FAILED";
            if (updated + failed < rows.size()) {
                line += ", " + std::to_string(rows.size() - updated - failed) + " not finished";
            }
        }
        return line;
    }
    std::string line = std::string("[") + kSpinnerFrames[frame % std::size(kSpinnerFrames)] + "] " +
                       clock + " working";
    if (!rows.empty()) {
        line += ": " + std::to_string(updated + failed) + " of " + std::to_string(rows.size()) +
                " controllers done";
    }
    return line;
}

std::string CellStyle(Colour colour, ColourDepth depth) {
    if (colour == kDefaultColour || depth == ColourDepth::kNone) return std::string();
    char style[64];
    if (depth == ColourDepth::kStandard) {
        // Foreground and background alike, so that a copy of the screen without colours still
        // shows the filled cells.
        const int n = NearestStandardColour(colour);
        std::snprintf(style, sizeof style, "\x1b[%d;%dm", kForegroundBase + n, kBackgroundBase + n);
        return style;
    }
    std::snprintf(style, sizeof style, "\x1b[38;2;%u;%u;%u;48;2;%u;%u;%um", Red(colour),
                  Green(colour), Blue(colour), Red(colour), Green(colour), Blue(colour));
    return style;
}

std::size_t VisibleWidth(const std::string& line) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\x1b') {
            // CSI: ESC '[' parameters, ended by a letter.
            std::size_t end = i + 1;
            if (end < line.size() && line[end] == '[') ++end;
            while (end < line.size() && !((line[end] >= 'A' && line[end] <= 'Z') ||
                                          (line[end] >= 'a' && line[end] <= 'z'))) {
                ++end;
            }
            i = end;
            continue;
        }
        ++width;
    }
    return width;
}

MainWindowView ViewOfMainWindow(const WindowState& window) {
    MainWindowView view;
    view.title = window.title;
    for (std::size_t i = 0; i < res::kJobBars.size(); ++i) {
        ControllerRowView row;
        row.index = static_cast<int>(i);
        auto text = [&](int id) {
            const ControlState* c = window.Control(id);
            return c ? c->text : std::string();
        };
        row.name = text(res::kControllerNames[i]);
        row.flashPart = text(res::kFlashPartLabels[i]);
        const bool partShown = !row.flashPart.empty();
        if (row.flashPart == kUnknownPart) row.flashPart.clear();
        const res::NumberRow& n = res::kNumberRows[i];
        row.bus = text(n.bus);
        row.device = text(n.device);
        row.function = text(n.function);
        const std::pair<int, int> columns[] = {
            {n.busCaption, n.bus}, {n.deviceCaption, n.device}, {n.functionCaption, n.function}};
        for (const auto& [caption, value] : columns) {
            std::string piece = text(caption);
            std::string number = text(value);
            if (!piece.empty() && !number.empty()) piece += " ";
            piece += number;
            if (piece.empty()) continue;
            if (!row.numbers.empty()) row.numbers += " ";
            row.numbers += piece;
        }
        if (const ControlState* bar = window.Control(res::kJobBars[i])) {
            row.barVisible = bar->visible;
            row.barPercent = PercentOf(*bar);
            row.barColour = bar->barColour;
        }
        bool shows = row.barVisible || !row.numbers.empty() || partShown;
        if (shows) view.rows.push_back(std::move(row));
    }
    return view;
}

std::vector<std::string> RenderMainWindowBlock(const MainWindowView& view, int columns,
                                               ColourDepth depth) {
    std::vector<std::string> lines;
    StyledLine title;
    title.Add(view.title);
    lines.push_back(title.Render(columns));
    StyledLine activity;
    activity.Add(view.activity);
    lines.push_back(activity.Render(columns));
    const RowLayout layout = LayOutRows(view.rows, columns, depth);
    for (const ControllerRowView& row : view.rows) {
        const auto spellings = NumberSpellings(row);
        const std::string& numbers = spellings[std::min(layout.spelling, spellings.size() - 1)];
        StyledLine line;
        line.Add(PadRight(row.name, layout.nameWidth) + " " +
                 PadRight(numbers, layout.numbersWidth) + " " +
                 PadRight(CutTo(row.flashPart, layout.partWidth), layout.partWidth) + " ");
        if (row.barVisible) {
            AddBar(line, RowPercent(row), row.barColour, layout.cells, depth, RowWord(row));
        }
        lines.push_back(line.Render(columns));
        // The second line: its step and bytes, or the cause of its failure over as many lines as
        // it takes.
        const std::string detail = RowDetail(row);
        const int detailColumns =
            columns > 0 ? std::max(1, columns - static_cast<int>(kDetailIndent)) : 0;
        const std::vector<std::string> pieces = detail.empty()
                                                    ? std::vector<std::string>{std::string()}
                                                    : WrapText(detail, detailColumns);
        for (const std::string& piece : pieces) {
            StyledLine more;
            more.Add(std::string(kDetailIndent, ' ') + piece);
            lines.push_back(more.Render(columns));
        }
    }
    if (!view.image.empty()) {
        StyledLine image;
        const std::size_t room =
            columns > 0 ? static_cast<std::size_t>(columns) - std::string(kImageCaption).size()
                        : SIZE_MAX;
        std::string name = view.image;
        if (name.size() > room) {
            // The file's own name when the whole path does not fit.
            const std::size_t slash = name.find_last_of('/');
            if (slash != std::string::npos) name = name.substr(slash + 1);
        }
        image.Add(kImageCaption + name);
        lines.push_back(image.Render(columns));
    }
    if (!view.notice.empty()) {
        StyledLine notice;
        notice.Add(view.notice);
        lines.push_back(notice.Render(columns));
    }
    return lines;
}

std::vector<std::string> RenderPlainRow(const ControllerRowView& row, int columns) {
    const flash::JobSnapshot& p = row.progress;
    std::string state;
    switch (p.step) {
        case flash::JobStep::kNone:
            state = RowWord(row);
            if (state.empty()) state = row.flashPart.empty() ? "" : "identified";
            break;
        case flash::JobStep::kErase:
        case flash::JobStep::kBlankCheck:
        case flash::JobStep::kWrite:
        case flash::JobStep::kVerify:
            state = std::string(flash::JobStepName(p.step)) + ", " + AttemptText(p.ucAttempt);
            break;
        default:
            state = flash::JobStepName(p.step);
            break;
    }
    const auto spellings = NumberSpellings(row);
    const std::string& numbers = spellings[std::min<std::size_t>(1, spellings.size() - 1)];
    std::string head;
    for (const std::string* piece : {&row.name, &numbers}) {
        if (piece->empty()) continue;
        if (!head.empty()) head += " ";
        head += *piece;
    }
    const std::size_t width = columns > 0 ? static_cast<std::size_t>(columns) : SIZE_MAX / 2;
    std::string part = row.flashPart;
    const std::size_t others =
        head.size() + (part.empty() ? 0 : 1) + (state.empty() ? 0 : 1 + state.size());
    if (!part.empty() && others + part.size() > width) {
        part = CutTo(part, width > others ? width - others : 0);
    }
    std::string line = head;
    for (const std::string* piece : {&part, &state}) {
        if (piece->empty()) continue;
        if (!line.empty()) line += " ";
        line += *piece;
    }
    std::vector<std::string> lines{line.substr(0, width)};
    if (p.step == flash::JobStep::kFailed && !row.cause.empty()) {
        const int causeColumns =
            columns > 0 ? std::max(1, columns - static_cast<int>(kDetailIndent)) : 0;
        for (const std::string& piece : WrapText(row.cause, causeColumns)) {
            lines.push_back(std::string(kDetailIndent, ' ') + piece);
        }
    }
    return lines;
}

bool PlainRowWorthPrinting(const ControllerRowView& row) {
    return !row.flashPart.empty() || row.progress.step != flash::JobStep::kNone ||
           !OutcomeWord(row.barColour).empty();
}

std::vector<std::string> WrapText(const std::string& text, int columns) {
    std::vector<std::string> lines;
    const std::size_t width = columns > 0 ? static_cast<std::size_t>(columns) : SIZE_MAX;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
        // Tabs as spaces up to the next multiple of eight.
        std::string expanded;
        for (char c : paragraph) {
            if (c == '\t') {
                expanded.append(8 - expanded.size() % 8, ' ');
            } else {
                expanded.push_back(c);
            }
        }
        if (expanded.empty()) lines.emplace_back();
        while (!expanded.empty()) {
            if (expanded.size() <= width) {
                lines.push_back(expanded);
                break;
            }
            std::size_t cut = expanded.rfind(' ', width);
            if (cut == std::string::npos || cut == 0) cut = width;
            lines.push_back(expanded.substr(0, cut));
            std::size_t next = expanded.find_first_not_of(' ', cut);
            expanded = next == std::string::npos ? std::string() : expanded.substr(next);
        }
        if (end == text.size()) break;
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

}  // namespace terminal
