// Plays the user of the Windows program in the Wine tests: finds windows by title, reads control
// texts and message boxes, presses buttons, and takes pictures of windows. Runs its steps in
// order and stops at the first that fails (exit status 1), printing one line per step:
//   timeout=SECONDS          time limit of the waiting steps that follow (default 60)
//   wait=TITLE               a visible top-level window with that title appears
//   gone=TITLE               no visible window with that title is left
//   text=TITLE,ID            prints "text ID: TEXT" of the control ID of that window
//   pos=TITLE,ID             prints "pos ID: POSITION" of a progress bar
//   visible=TITLE,ID         prints "visible ID: 0|1"
//   checked=TITLE,ID         prints "checked ID: 0|1"
//   until=TITLE,ID,TEXT      the control ID of that window shows TEXT (a text without a comma)
//   press=TITLE,ID           clicks the button ID of that window; returns once it was handled
//   key=TITLE,enter|escape   the Enter or Escape key in that window
//   close=TITLE              the window's close box; returns once it was handled
//   sysmenu=TITLE,ID         chooses the item ID of the window's system menu
//   box=CAPTION              waits for a message box, prints "box CAPTION: TEXT", presses OK
//   shot=TITLE,FILE          repaints the window, then saves a picture of it as a 24-bit BMP
//                            file once two pictures in a row agree
//   sleep=MS                 waits
//   never=TITLE,MS           fails if a visible window with that title appears within MS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
// How long a message sent to the program may take to be handled.
constexpr UINT kSendLimitMs = 10000;
// How long a window's picture may keep changing before the last one is taken as it is.
constexpr DWORD kSettleLimitMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kOlderMessageBoxTextId = 100;
constexpr const char* kDialogClass = "#32770";

DWORD g_timeoutMs = 60000;

struct Search {
    std::string title;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (search->visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    if (search->title == text) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(const std::string& title, bool visibleOnly = true) {
    Search search{title, visibleOnly, nullptr};
    EnumWindows(&MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::string& title) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND hwnd = FindTop(title)) return hwnd;
        if (GetTickCount() - start > g_timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

std::string TextOf(HWND hwnd) {
    char text[4096] = {};
    // WM_GETTEXT reads a control of another process's window.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

// Splits "TITLE,REST" at the last comma.
bool SplitLast(const std::string& value, std::string& title, std::string& rest) {
    std::size_t comma = value.rfind(',');
    if (comma == std::string::npos) return false;
    title = value.substr(0, comma);
    rest = value.substr(comma + 1);
    return true;
}

// The control of a visible window, waiting for the window.
HWND Control(const std::string& value, int& id) {
    std::string title, rest;
    if (!SplitLast(value, title, rest)) return nullptr;
    id = std::atoi(rest.c_str());
    HWND window = WaitFor(title);
    return window ? GetDlgItem(window, id) : nullptr;
}

// Sends a message to a window of the program and waits, within a bound, for its thread to have
// handled it.
bool SendAndWait(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendLimitMs, &result) !=
           0;
}

// The pixels of a window as the screen shows them: 24-bit rows, bottom row first, as a BMP file
// keeps them.
struct Picture {
    BITMAPINFOHEADER header{};
    std::vector<uint8_t> bits;
};

bool Capture(HWND hwnd, Picture& picture) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom row first, as the file keeps it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const auto* first = static_cast<const uint8_t*>(bits);
        picture.header = info.bmiHeader;
        picture.bits.assign(first, first + rowBytes * static_cast<DWORD>(height));
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool SaveBitmap(const Picture& picture, const std::string& file) {
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof picture.header;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(picture.bits.size());
    bool ok = false;
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        ok = std::fwrite(&header, sizeof header, 1, f) == 1 &&
             std::fwrite(&picture.header, sizeof picture.header, 1, f) == 1 &&
             std::fwrite(picture.bits.data(), picture.bits.size(), 1, f) == 1;
        ok = std::fclose(f) == 0 && ok;
    }
    return ok;
}

// Has the window painted now (its thread has done so when the call returns), then takes
// pictures until two in a row agree, so that what the screen shows has caught up with the
// painting. A window whose picture keeps changing (a moving bar) is taken as it is at the bound.
bool SettledPicture(HWND hwnd, Picture& picture) {
    RedrawWindow(hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (!Capture(hwnd, picture)) return false;
    DWORD start = GetTickCount();
    for (;;) {
        Sleep(kPollMs);
        Picture next;
        if (!Capture(hwnd, next)) return false;
        bool same = next.bits.size() == picture.bits.size() &&
                    std::memcmp(next.bits.data(), picture.bits.data(), next.bits.size()) == 0 &&
                    next.header.biWidth == picture.header.biWidth;
        picture = std::move(next);
        if (same || GetTickCount() - start > kSettleLimitMs) return true;
    }
}

// A message box: a dialog of the standard dialog class with that caption and a text static.
HWND WaitForBox(const std::string& caption, std::string& text) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = nullptr;
        while ((hwnd = FindWindowExA(nullptr, hwnd, kDialogClass, caption.c_str())) != nullptr) {
            HWND label = GetDlgItem(hwnd, kMessageBoxTextId);
            if (label == nullptr) label = GetDlgItem(hwnd, kOlderMessageBoxTextId);
            if (label != nullptr && IsWindowVisible(hwnd)) {
                // The box may be found while it is still being filled: wait for its text.
                text = TextOf(label);
                if (!text.empty() || GetTickCount() - start > g_timeoutMs) return hwnd;
            }
        }
        if (GetTickCount() - start > g_timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

bool Step(const std::string& step) {
    std::size_t eq = step.find('=');
    if (eq == std::string::npos) {
        std::printf("FAIL: bad step %s\n", step.c_str());
        return false;
    }
    std::string verb = step.substr(0, eq);
    std::string value = step.substr(eq + 1);
    int id = 0;
    if (verb == "timeout") {
        g_timeoutMs = static_cast<DWORD>(std::atoi(value.c_str())) * 1000;
        return true;
    }
    if (verb == "sleep") {
        Sleep(static_cast<DWORD>(std::atoi(value.c_str())));
        return true;
    }
    if (verb == "wait") {
        if (!WaitFor(value)) {
            std::printf("FAIL: no window \"%s\"\n", value.c_str());
            return false;
        }
        std::printf("window %s\n", value.c_str());
        return true;
    }
    if (verb == "gone") {
        DWORD start = GetTickCount();
        while (FindTop(value)) {
            if (GetTickCount() - start > g_timeoutMs) {
                std::printf("FAIL: window \"%s\" still there\n", value.c_str());
                return false;
            }
            Sleep(kPollMs);
        }
        std::printf("gone %s\n", value.c_str());
        return true;
    }
    if (verb == "never") {
        std::string title, rest;
        if (!SplitLast(value, title, rest)) return false;
        DWORD start = GetTickCount();
        DWORD limit = static_cast<DWORD>(std::atoi(rest.c_str()));
        while (GetTickCount() - start < limit) {
            if (FindTop(title)) {
                std::printf("FAIL: window \"%s\" appeared\n", title.c_str());
                return false;
            }
            Sleep(kPollMs);
        }
        std::printf("never %s\n", title.c_str());
        return true;
    }
    if (verb == "box") {
        std::string text;
        HWND box = WaitForBox(value, text);
        if (!box) {
            std::printf("FAIL: no message box \"%s\"\n", value.c_str());
            return false;
        }
        std::printf("box %s: %s\n", value.c_str(), text.c_str());
        std::fflush(stdout);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }
    if (verb == "sysmenu") {
        std::string title, rest;
        if (!SplitLast(value, title, rest)) return false;
        HWND window = WaitFor(title);
        if (!window) {
            std::printf("FAIL: no window \"%s\"\n", title.c_str());
            return false;
        }
        PostMessageA(window, WM_SYSCOMMAND, static_cast<WPARAM>(std::atoi(rest.c_str())), 0);
        std::printf("sysmenu %s\n", rest.c_str());
        return true;
    }
    if (verb == "close" || verb == "key") {
        std::string title = value, rest;
        if (verb == "key" && !SplitLast(value, title, rest)) return false;
        HWND window = WaitFor(title);
        if (!window) {
            std::printf("FAIL: no window \"%s\"\n", title.c_str());
            return false;
        }
        if (verb == "close") {
            if (!SendAndWait(window, WM_SYSCOMMAND, SC_CLOSE, 0)) {
                std::printf("FAIL: the close of \"%s\" was not handled\n", title.c_str());
                return false;
            }
        } else {
            WPARAM vk = rest == "enter" ? VK_RETURN : VK_ESCAPE;
            SetForegroundWindow(window);
            PostMessageA(GetFocus() ? GetFocus() : window, WM_KEYDOWN, vk, 0);
            PostMessageA(GetFocus() ? GetFocus() : window, WM_KEYUP, vk, 0);
        }
        std::printf("%s %s\n", verb.c_str(), value.c_str());
        return true;
    }
    if (verb == "shot") {
        std::string title, file;
        if (!SplitLast(value, title, file)) return false;
        HWND window = WaitFor(title);
        if (!window) {
            std::printf("FAIL: no window \"%s\"\n", title.c_str());
            return false;
        }
        Picture picture;
        if (!SettledPicture(window, picture) || !SaveBitmap(picture, file)) {
            std::printf("FAIL: cannot save %s\n", file.c_str());
            return false;
        }
        std::printf("shot %s\n", file.c_str());
        return true;
    }
    if (verb == "until") {
        std::string head, want;
        if (!SplitLast(value, head, want)) return false;
        HWND control = Control(head, id);
        DWORD start = GetTickCount();
        while (control == nullptr || TextOf(control) != want) {
            if (GetTickCount() - start > g_timeoutMs) {
                std::printf("FAIL: control %d never showed \"%s\"\n", id, want.c_str());
                return false;
            }
            Sleep(kPollMs);
        }
        std::printf("until %d: %s\n", id, want.c_str());
        return true;
    }
    HWND control = Control(value, id);
    if (!control) {
        std::printf("FAIL: no control for %s\n", step.c_str());
        return false;
    }
    if (verb == "text") {
        std::printf("text %d: %s\n", id, TextOf(control).c_str());
    } else if (verb == "pos") {
        std::printf("pos %d: %d\n", id, static_cast<int>(SendMessageA(control, 0x0408, 0, 0)));
    } else if (verb == "visible") {
        std::printf("visible %d: %d\n", id, IsWindowVisible(control) ? 1 : 0);
    } else if (verb == "checked") {
        std::printf("checked %d: %d\n", id,
                    SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (verb == "press") {
        if (!SendAndWait(control, BM_CLICK, 0, 0)) {
            std::printf("FAIL: the click of %d was not handled\n", id);
            return false;
        }
        std::printf("press %d\n", id);
    } else {
        std::printf("FAIL: unknown step %s\n", step.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        bool ok = Step(argv[i]);
        std::fflush(stdout);
        if (!ok) return 1;
    }
    return 0;
}
