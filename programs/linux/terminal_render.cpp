#include "programs/linux/terminal_render.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "res/resource_ids.h"

namespace terminal {

using namespace framework;
namespace {

constexpr Colour kGreen = Rgb(0, 150, 75);
constexpr Colour kBlue = Rgb(50, 50, 255);
constexpr Colour kRed = Rgb(255, 50, 50);
constexpr int kPercent = 100;
constexpr int kJobBarCells = 20;
constexpr int kActivityBarCells = 50;
constexpr std::size_t kNameWidth = 8;
constexpr std::size_t kNumbersWidth = 34;
constexpr std::size_t kFlashPartWidth = 30;
constexpr char kFilledCell = '#';
constexpr char kEmptyCell = '-';
constexpr char kResetStyle[] = "\x1b[0m";
constexpr char kClearToEndOfLine[] = "\x1b[K";

uint8_t Red(Colour c) {
    return static_cast<uint8_t>(c & 0xFF);
}
uint8_t Green(Colour c) {
    return static_cast<uint8_t>((c >> 8) & 0xFF);
}
uint8_t Blue(Colour c) {
    return static_cast<uint8_t>((c >> 16) & 0xFF);
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

// A line of pieces, some of them drawn in a style; cut to a width that escape sequences do not
// count towards.
class StyledLine {
public:
    void Add(const std::string& text, const std::string& style = std::string()) {
        m_pieces.push_back({text, style});
    }
    std::string Render(int columns, bool colour) const {
        std::string out;
        std::size_t room = columns > 0 ? static_cast<std::size_t>(columns) : SIZE_MAX;
        for (const Piece& p : m_pieces) {
            if (room == 0) break;
            std::string text = p.text.substr(0, room);
            room -= text.size();
            if (colour && !p.style.empty()) {
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

// The escape sequence that draws cells in the bar's colour (foreground and background alike, so
// a copy of the screen without colours still shows the filled cells).
std::string BarStyle(Colour colour) {
    if (colour == kDefaultColour) return std::string();
    char style[64];
    std::snprintf(style, sizeof style, "\x1b[38;2;%u;%u;%u;48;2;%u;%u;%um", Red(colour),
                  Green(colour), Blue(colour), Red(colour), Green(colour), Blue(colour));
    return style;
}

// "[####------] 40%", with the colour's name when colours are not shown.
void AddBar(StyledLine& line, int percent, Colour colour, int cells, bool colourShown) {
    int filled = percent * cells / kPercent;
    line.Add("[");
    line.Add(std::string(static_cast<std::size_t>(filled), kFilledCell), BarStyle(colour));
    line.Add(std::string(static_cast<std::size_t>(cells - filled), kEmptyCell));
    char tail[32];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    line.Add(tail);
    if (!colourShown) line.Add(std::string(" ").append(ColourName(colour)));
}

}  // namespace

MainWindowView ViewOfMainWindow(const WindowState& window) {
    MainWindowView view;
    view.title = window.title;
    if (const ControlState* bar = window.Control(res::IDC_OVERALL_PROGRESS)) {
        view.activityPercent = PercentOf(*bar);
        view.activityColour = bar->barColour;
    }
    for (std::size_t i = 0; i < res::kJobBars.size(); ++i) {
        ControllerRowView row;
        row.index = static_cast<int>(i);
        auto text = [&](int id) {
            const ControlState* c = window.Control(id);
            return c ? c->text : std::string();
        };
        row.name = text(res::kControllerNames[i]);
        row.flashPart = text(res::kFlashPartLabels[i]);
        const res::NumberRow& n = res::kNumberRows[i];
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
        bool shows = row.barVisible || !row.numbers.empty() || !row.flashPart.empty();
        if (shows) view.rows.push_back(std::move(row));
    }
    return view;
}

std::vector<std::string> RenderMainWindowBlock(const MainWindowView& view, int columns,
                                               bool colour) {
    std::vector<std::string> lines;
    StyledLine title;
    title.Add(view.title);
    lines.push_back(title.Render(columns, colour));
    StyledLine activity;
    AddBar(activity, view.activityPercent, view.activityColour, kActivityBarCells, colour);
    lines.push_back(activity.Render(columns, colour));
    for (const ControllerRowView& row : view.rows) {
        StyledLine line;
        line.Add(PadRight(row.name, kNameWidth) + PadRight(row.numbers, kNumbersWidth) + " " +
                 PadRight(row.flashPart, kFlashPartWidth) + " ");
        if (row.barVisible) AddBar(line, row.barPercent, row.barColour, kJobBarCells, colour);
        lines.push_back(line.Render(columns, colour));
    }
    return lines;
}

std::string RenderPlainRow(const ControllerRowView& row) {
    std::string line = row.name;
    for (const std::string* piece : {&row.numbers, &row.flashPart}) {
        if (piece->empty()) continue;
        if (!line.empty()) line += " ";
        line += *piece;
    }
    if (row.barVisible) {
        if (!line.empty()) line += " ";
        line.append("job ").append(std::to_string(row.barPercent)).append("% ");
        line.append(ColourName(row.barColour));
    }
    return line;
}

std::string ColourName(Colour colour) {
    if (colour == kGreen) return "green";
    if (colour == kBlue) return "blue";
    if (colour == kRed) return "red";
    if (colour == kDefaultColour) return "default";
    std::string name = "rgb(";
    name.append(std::to_string(Red(colour))).append(",");
    name.append(std::to_string(Green(colour))).append(",");
    return name.append(std::to_string(Blue(colour))).append(")");
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
