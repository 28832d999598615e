#include "framework/message_box.h"

#include <cstdio>

#include "framework/platform.h"
#include "framework/services.h"

namespace framework {
namespace {

// Cuts leading and trailing carriage returns and line feeds.
std::string TrimLineBreaks(const std::string& s) {
    std::size_t begin = s.find_first_not_of("\r\n");
    if (begin == std::string::npos) return {};
    std::size_t end = s.find_last_not_of("\r\n");
    return s.substr(begin, end - begin + 1);
}

int WriteToStandardError(const MessageBoxRequest& request) {
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), TrimLineBreaks(request.text).c_str());
    std::fflush(stderr);
    return kIdOk;
}

}  // namespace

std::string ApplicationName() {
    char path[4096] = {};
    if (!GetModulePath(path, sizeof path)) return {};
    std::string name = path;
    std::size_t slash = FindLastPathSeparator(name);
    if (slash != std::string::npos) name = name.substr(slash + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0) name = name.substr(0, dot);
    return name;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned type,
               bool ownedByMainWindow) {
    MessageBoxRequest request{text, caption.empty() ? ApplicationName() : caption, type,
                              ownedByMainWindow};
    const MessageBoxHandler& handler = InstalledServices().messageBoxes;
    return handler ? handler(request) : WriteToStandardError(request);
}

void ShowNotice(const std::string& text) {
    const NoticeHandler& handler = InstalledServices().notices;
    if (handler) {
        handler(text);
        return;
    }
#ifndef _WIN32
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
#endif
}

int AfxMessageBox(const std::string& text, unsigned type) {
    if ((type & kMbIconMask) == 0) type |= kMbIconExclamation;
    return MessageBox(text, std::string(), type);
}

}  // namespace framework
