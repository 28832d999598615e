// The portable half of the operating-system services: what each platform's half builds on.
#include "framework/platform.h"

#include <cstring>
#include <new>

#include "framework/services.h"

namespace framework {

bool GetModulePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    std::string path = ModulePath();
    if (path.empty()) return false;
    std::strncpy(buffer, path.c_str(), size - 1);
    buffer[size - 1] = '\0';
    return true;
}

std::size_t FindLastSeparator(std::string_view path, char separator, LeadBytePredicate isLeadByte) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            ++i;  // the character's second byte
        } else if (path[i] == separator) {
            last = i;
        }
    }
    return last;
}

std::size_t FindLastPathSeparator(std::string_view path) {
    return FindLastSeparator(path, PathSeparator(), IsPathLeadByte);
}

uint8_t* AllocateWorkingMemory(std::size_t bytes) {
    if (WorkingMemoryAllocator allocate = InstalledServices().allocateWorkingMemory) {
        return allocate(bytes);
    }
    return new (std::nothrow) uint8_t[bytes];
}

std::string FileErrorText(FileErrorKind kind, const std::string& fileName) {
    std::string text;
    switch (kind) {
        case FileErrorKind::kNotFound:
            text = "%1 was not found.";
            break;
        case FileErrorKind::kAccessDenied:
            text = "Access to %1 was denied.";
            break;
        case FileErrorKind::kSharingViolation:
            text = "Encountered a sharing violation while accessing %1.";
            break;
        case FileErrorKind::kAlreadyExists:
            text = "%1 already exists.";
            break;
        case FileErrorKind::kNone:
        case FileErrorKind::kOther:
            text = "An unknown error occurred while accessing %1.";
            break;
    }
    const std::string placeholder = "%1";
    return text.replace(text.find(placeholder), placeholder.size(), fileName);
}

}  // namespace framework
