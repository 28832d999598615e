// Files and folders on Windows: program path, shared and exclusive opens, wildcard listings,
// access tests, current folder.
#include <io.h>
#include "framework/win32/win32_headers.h"

#include <vector>

#include "framework/platform.h"

namespace framework {
namespace {

constexpr int kAccessExists = 0;
constexpr int kAccessReadWrite = 6;
constexpr DWORD kNoSharing = 0;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFirstPathGuess = MAX_PATH;
constexpr DWORD kLongestPathGuess = 32768;

// The portable kind of a system error code.
FileErrorKind KindOf(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS:
            return FileErrorKind::kNone;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_FILENAME_EXCED_RANGE:
            return FileErrorKind::kNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return FileErrorKind::kAccessDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FileErrorKind::kSharingViolation;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return FileErrorKind::kAlreadyExists;
        default:
            return FileErrorKind::kOther;
    }
}

// A file open on a handle.
class Win32File final : public File {
public:
    explicit Win32File(HANDLE handle) : m_handle(handle) {}
    ~Win32File() override { Close(); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool Length(uint64_t& length) override {
        LARGE_INTEGER size{};
        if (m_handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(m_handle, &size)) return false;
        length = static_cast<uint64_t>(size.QuadPart);
        return true;
    }

    bool SeekToBegin() override {
        LARGE_INTEGER zero{};
        return m_handle != INVALID_HANDLE_VALUE &&
               SetFilePointerEx(m_handle, zero, nullptr, FILE_BEGIN) != 0;
    }

    bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
        bytesRead = 0;
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        // ReadFile takes at most a DWORD at a time.
        DWORD want = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, want, &got, nullptr)) return false;
        bytesRead = got;
        return true;
    }

    bool Close() override {
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE m_handle;
};

// Opens an existing file for reading with that sharing; folders and devices are refused.
std::unique_ptr<File> OpenForReading(const std::string& path, DWORD share, FileError& error) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        error = FileError{static_cast<int>(code), KindOf(code)};
        return nullptr;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        error = FileError{ERROR_ACCESS_DENIED, FileErrorKind::kAccessDenied};
        return nullptr;
    }
    error = FileError{};
    return std::make_unique<Win32File>(handle);
}

}  // namespace

char PathSeparator() {
    return '\\';
}

void HoldTerminalStops(bool) {}

bool IsPathLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(CP_ACP, byte) != FALSE;
}

std::string ModulePath() {
    // GetModuleFileNameA cuts silently: grow the buffer until the path fits.
    for (DWORD size = kFirstPathGuess; size <= kLongestPathGuess; size *= 2) {
        std::vector<char> path(size);
        DWORD n = GetModuleFileNameA(nullptr, path.data(), size);
        if (n == 0) return {};
        if (n < size) return std::string(path.data(), n);
    }
    return {};
}

std::unique_ptr<File> OpenFileShared(const std::string& path, FileError& error) {
    return OpenForReading(path, kShareReadWrite, error);
}

std::unique_ptr<File> OpenFileExclusive(const std::string& path, FileError& error) {
    return OpenForReading(path, kNoSharing, error);
}

std::vector<std::string> ListMatchingNames(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

bool WriteNewFile(const std::string& path, const uint8_t* data, std::size_t size,
                  FileError& error) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, kNoSharing, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        error = FileError{static_cast<int>(code), KindOf(code)};
        return false;
    }
    DWORD code = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < size && code == ERROR_SUCCESS) {
        DWORD want = size - done > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size - done);
        DWORD wrote = 0;
        if (!WriteFile(handle, data + done, want, &wrote, nullptr)) code = GetLastError();
        done += wrote;
    }
    if (code == ERROR_SUCCESS && !FlushFileBuffers(handle)) code = GetLastError();
    if (!CloseHandle(handle) && code == ERROR_SUCCESS) code = GetLastError();
    if (code != ERROR_SUCCESS) {
        DeleteFileA(path.c_str());
        error = FileError{static_cast<int>(code), KindOf(code)};
        return false;
    }
    error = FileError{};
    return true;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
    return _access(path.c_str(), kAccessExists) == 0;
}

bool PathReadWritable(const std::string& path) {
    return _access(path.c_str(), kAccessReadWrite) == 0;
}

bool SetCurrentDirectory(const std::string& path) {
    return SetCurrentDirectoryA(path.c_str()) != 0;
}

std::string GetCurrentDirectory() {
    DWORD size = GetCurrentDirectoryA(0, nullptr);
    if (size == 0) return {};
    std::vector<char> buffer(size);
    DWORD n = GetCurrentDirectoryA(size, buffer.data());
    if (n == 0 || n >= size) return {};
    return std::string(buffer.data(), n);
}

}  // namespace framework
