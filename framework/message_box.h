// Message boxes, as the system raises them.
#pragma once

#include <functional>
#include <string>

namespace framework {

// Buttons and icons (the Windows values).
inline constexpr unsigned kMbOk = 0x00000000;
inline constexpr unsigned kMbIconError = 0x00000010;  // also the stop icon
inline constexpr unsigned kMbIconStop = 0x00000010;
inline constexpr unsigned kMbIconQuestion = 0x00000020;
inline constexpr unsigned kMbIconExclamation = 0x00000030;
inline constexpr unsigned kMbIconInformation = 0x00000040;
inline constexpr unsigned kMbIconMask = 0x000000F0;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

struct MessageBoxRequest {
    std::string text;
    std::string caption;  // never empty: the application name when the caller gave none
    unsigned type;
    bool ownedByMainWindow;
};

// Shows a message box and returns the button that closed it (kIdOk for an OK box).
// An empty caption means the application name.
int MessageBox(const std::string& text, const std::string& caption, unsigned type,
               bool ownedByMainWindow = false);
// A box with no caption of its own: OK button, exclamation icon unless type says otherwise.
int AfxMessageBox(const std::string& text, unsigned type = kMbOk | kMbIconExclamation);

// The application name: the program file's name without its extension.
std::string ApplicationName();

// A line for the person running the program that needs no answer, beside the message boxes
// (on Linux standard error; on Windows the message boxes alone speak to the user).
void ShowNotice(const std::string& text);

// Who shows notices, chosen with the services. Without one, the platform's way above.
using NoticeHandler = std::function<void(const std::string&)>;

// Who shows message boxes, chosen with the services (a window system, a terminal, a test's
// scripted answers). Without one, boxes go to standard error as "CAPTION: TEXT".
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

}  // namespace framework
