#include "framework/rtf_text.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace framework {
namespace {

// Code page 1252 for 0x80-0x9F (0 = unassigned, left out); 0xA0-0xFF equal U+00A0-U+00FF.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Destinations whose text is not part of the document.
constexpr std::string_view kSkippedDestinations[] = {
    "fonttbl",      "colortbl",  "stylesheet", "info",      "pict",
    "header",       "footer",    "headerl",    "headerr",   "headerf",
    "footerl",      "footerr",   "footerf",    "listtable", "listoverridetable",
    "rsidtbl",      "generator", "xmlnstbl",   "themedata", "colorschememapping",
    "latentstyles", "datastore", "fldinst",    "object",    "filetbl",
    "revtbl",       "pgdsctbl",  "ftnsep",     "ftnsepc",   "aftnsep",
    "aftnsepc",     "template"};

// Control words that stand for one character.
struct SymbolWord {
    std::string_view word;
    char32_t ch;
};
constexpr SymbolWord kSymbolWords[] = {
    {"par", U'\n'},        {"line", U'\n'},       {"sect", U'\n'},    {"page", U'\n'},
    {"row", U'\n'},        {"tab", U'\t'},        {"cell", U'\t'},    {"emdash", 0x2014},
    {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018}, {"rquote", 0x2019},
    {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"emspace", U' '},  {"enspace", U' '},
    {"qmspace", U' '}};

constexpr std::size_t kMaxDepth = 4096;  // deeper groups are read as part of the deepest one
constexpr long kMaxParameter = 1L << 30;

void AppendUtf8(std::string& out, char32_t c) {
    if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t FromCp1252(uint8_t b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
    return b;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

struct GroupState {
    bool skip = false;
    long uc = 1;  // fallback characters after \uN
};

class Reader {
public:
    explicit Reader(std::string_view rtf) : m_in(rtf) { m_stack.push_back({}); }

    std::string Run() {
        while (m_pos < m_in.size()) {
            char c = m_in[m_pos++];
            switch (c) {
                case '{':
                    OpenGroup();
                    break;
                case '}':
                    CloseGroup();
                    break;
                case '\\':
                    ControlSequence();
                    break;
                case '\r':
                case '\n':
                    break;
                default:
                    Text(static_cast<uint8_t>(c));
                    break;
            }
        }
        return m_out;
    }

private:
    GroupState& State() { return m_stack.back(); }

    void OpenGroup() {
        if (m_stack.size() >= kMaxDepth) {
            ++m_overflow;
            return;
        }
        m_stack.push_back(m_stack.back());
        m_groupStart = true;
    }

    void CloseGroup() {
        m_groupStart = false;
        if (m_overflow > 0) {
            --m_overflow;
            return;
        }
        if (m_stack.size() > 1) m_stack.pop_back();
    }

    // A character of text, or a fallback character being skipped after \uN.
    void Emit(char32_t c) {
        m_groupStart = false;
        if (m_fallbackToSkip > 0) {
            --m_fallbackToSkip;
            return;
        }
        if (!State().skip) AppendUtf8(m_out, c);
    }

    void Text(uint8_t b) { Emit(FromCp1252(b)); }

    void ControlSequence() {
        if (m_pos >= m_in.size()) return;
        char c = m_in[m_pos];
        if (!IsLetter(c)) {
            ++m_pos;
            ControlSymbol(c);
            return;
        }
        std::size_t start = m_pos;
        while (m_pos < m_in.size() && IsLetter(m_in[m_pos]) && m_pos - start < 32) ++m_pos;
        std::string_view word = m_in.substr(start, m_pos - start);
        bool hasParam = false;
        bool negative = false;
        long param = 0;
        if (m_pos < m_in.size() && m_in[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_in.size() && IsDigit(m_in[m_pos])) {
            hasParam = true;
            if (param < kMaxParameter) param = param * 10 + (m_in[m_pos] - '0');
            ++m_pos;
        }
        if (negative) param = -param;
        if (m_pos < m_in.size() && m_in[m_pos] == ' ') ++m_pos;  // the delimiter
        ControlWord(word, hasParam, param);
    }

    void ControlSymbol(char c) {
        switch (c) {
            case '\\':
            case '{':
            case '}':
                Emit(static_cast<unsigned char>(c));
                break;
            case '~':
                Emit(0x00A0);
                break;
            case '_':
                Emit(U'-');
                break;
            case '-':
                break;  // optional hyphen
            case '*':
                if (m_groupStart) State().skip = true;  // an unknown-or-ignorable destination
                break;
            case '\'': {
                if (m_pos + 1 < m_in.size()) {
                    int hi = HexValue(m_in[m_pos]);
                    int lo = HexValue(m_in[m_pos + 1]);
                    if (hi >= 0 && lo >= 0) {
                        m_pos += 2;
                        Text(static_cast<uint8_t>(hi * 16 + lo));
                    }
                }
                break;
            }
            case '\r':
            case '\n':
                Emit(U'\n');
                break;  // a backslash before a line end is \par
            default:
                break;
        }
    }

    void ControlWord(std::string_view word, bool hasParam, long param) {
        bool atGroupStart = m_groupStart;
        m_groupStart = false;
        if (word == "u" && hasParam) {
            long code = param < 0 ? param + 65536 : param;
            m_fallbackToSkip = 0;
            Emit(static_cast<char32_t>(code));
            m_fallbackToSkip = State().uc < 0 ? 0 : State().uc;
            return;
        }
        if (word == "uc" && hasParam) {
            State().uc = param;
            return;
        }
        if (word == "bin" && hasParam) {
            std::size_t n = param < 0 ? 0 : static_cast<std::size_t>(param);
            m_pos += std::min(n, m_in.size() - m_pos);
            return;
        }
        if (atGroupStart) {
            for (std::string_view dest : kSkippedDestinations) {
                if (word == dest) {
                    State().skip = true;
                    return;
                }
            }
        }
        for (const SymbolWord& s : kSymbolWords) {
            if (word == s.word) {
                Emit(s.ch);
                return;
            }
        }
        // Every other control word changes formatting only.
    }

    std::string_view m_in;
    std::size_t m_pos = 0;
    std::string m_out;
    std::vector<GroupState> m_stack;
    std::size_t m_overflow = 0;
    long m_fallbackToSkip = 0;
    bool m_groupStart = false;
};

}  // namespace

std::string RtfToText(std::string_view rtf) {
    return Reader(rtf).Run();
}

}  // namespace framework
