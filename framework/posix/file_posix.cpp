// Files on Linux: shared and exclusive opens, wildcard listings, access tests, current folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "framework/platform.h"

namespace framework {
namespace {

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// The portable kind of an errno value.
FileErrorKind KindOf(int code) {
    switch (code) {
        case 0:
            return FileErrorKind::kNone;
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
            return FileErrorKind::kNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return FileErrorKind::kAccessDenied;
        case EWOULDBLOCK:
        case ETXTBSY:
            return FileErrorKind::kSharingViolation;
        case EEXIST:
            return FileErrorKind::kAlreadyExists;
        default:
            return FileErrorKind::kOther;
    }
}

FileError ErrorOf(int code) {
    return FileError{code, KindOf(code)};
}

// A file open on a descriptor; closing it also drops any lock it holds.
class PosixFile final : public File {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    ~PosixFile() override { Close(); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Length(uint64_t& length) override {
        struct stat st {};
        if (m_fd < 0 || fstat(m_fd, &st) != 0) return false;
        length = static_cast<uint64_t>(st.st_size);
        return true;
    }

    bool SeekToBegin() override { return m_fd >= 0 && lseek(m_fd, 0, SEEK_SET) == 0; }

    bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) override {
        bytesRead = 0;
        if (m_fd < 0) return false;
        ssize_t n;
        do {
            n = read(m_fd, buffer, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return false;
        bytesRead = static_cast<std::size_t>(n);
        return true;
    }

    bool Close() override {
        if (m_fd < 0) return false;
        int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0;
    }

private:
    int m_fd;
};

// Opens an existing regular file for reading without ever blocking (a FIFO would block a
// plain open until a writer comes); anything but a regular file is refused.
int OpenRegularForReading(const std::string& path, FileError& error) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = ErrorOf(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = ErrorOf(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        // A folder cannot be opened as a file (access denied, as on Windows); pipes, sockets
        // and devices are not image files.
        error = ErrorOf(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        close(fd);
        return -1;
    }
    error = FileError{};
    return fd;
}

char FoldUpper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}
char FoldLower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Matches name against a wildcard pattern ('*' any run, '?' one character), ignoring case.
bool WildcardMatch(const char* pattern, const char* name) {
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' ||
                   (*pattern != '\0' && FoldLower(*pattern) == FoldLower(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern != nullptr) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

// Whether a listing of the pattern takes the name. As on Windows, a pattern ending in ".*"
// also takes names without any full stop ("*.*" lists everything).
bool ListingTakes(const std::string& wildcard, const std::string& name) {
    if (WildcardMatch(wildcard.c_str(), name.c_str())) return true;
    const std::string anyExtension = ".*";
    if (wildcard.size() >= anyExtension.size() &&
        wildcard.compare(wildcard.size() - anyExtension.size(), anyExtension.size(),
                         anyExtension) == 0 &&
        name.find('.') == std::string::npos) {
        std::string stem = wildcard.substr(0, wildcard.size() - anyExtension.size());
        return WildcardMatch(stem.c_str(), name.c_str());
    }
    return false;
}

// The order of the system's listing: names folded to upper case, byte by byte; names that
// fold alike keep a fixed order by their own bytes.
bool ListingOrder(const std::string& a, const std::string& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ua = static_cast<unsigned char>(FoldUpper(a[i]));
        auto ub = static_cast<unsigned char>(FoldUpper(b[i]));
        if (ua != ub) return ua < ub;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

}  // namespace

std::unique_ptr<File> OpenFileShared(const std::string& path, FileError& error) {
    int fd = OpenRegularForReading(path, error);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<File> OpenFileExclusive(const std::string& path, FileError& error) {
    int fd = OpenRegularForReading(path, error);
    if (fd < 0) return nullptr;
    // No sharing: an exclusive lock that fails at once while anyone else holds a lock on it.
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int code = errno;
        close(fd);
        error =
            FileError{code, code == EWOULDBLOCK ? FileErrorKind::kSharingViolation : KindOf(code)};
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

std::vector<std::string> ListMatchingNames(const std::string& pattern) {
    std::string folder = ".";
    std::string wildcard = pattern;
    if (std::size_t slash = pattern.find_last_of(PathSeparator()); slash != std::string::npos) {
        folder = slash == 0 ? std::string(1, PathSeparator()) : pattern.substr(0, slash);
        wildcard = pattern.substr(slash + 1);
    }
    std::vector<std::string> names;
    if (wildcard.empty()) return names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (ListingTakes(wildcard, name)) names.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), ListingOrder);
    return names;
}

namespace {

// The folder part of a path ("." when it names none).
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(PathSeparator());
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string(1, PathSeparator())
                                      : path.substr(0, slash);
}

// Writes the whole data at the descriptor's start, syncs it and reads it back: 0, or the errno
// of what failed (EIO when the file does not read back as written).
int WriteSyncAndCheck(int fd, const uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno != EINTR) return errno;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) return errno;
    constexpr std::size_t kChunk = 65536;
    std::vector<uint8_t> back(std::min(size, kChunk) + 1);
    std::size_t checked = 0;
    for (;;) {
        const ssize_t n = pread(fd, back.data(), back.size(), static_cast<off_t>(checked));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        const auto got = static_cast<std::size_t>(n);
        if (checked + got > size || std::memcmp(back.data(), data + checked, got) != 0) return EIO;
        checked += got;
    }
    return checked == size ? 0 : EIO;
}

// A new file with its data, made whole before it gets its name. An unnamed file (O_TMPFILE) in
// the folder, or where the file system has none a hidden temporary name; linked to its name only
// once written, synced and read back; the link never replaces an existing file. 0, or the errno
// of what failed (nothing is left under the name then).
int WriteWholeThenName(const std::string& path, const uint8_t* data, std::size_t size) {
    constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
    const std::string folder = FolderOf(path);
    int fd = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, kOwnerReadWrite);
    std::string temporary;
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR && errno != EACCES && errno != EROFS) {
        // No unnamed files here: a name that no search for the final name matches.
        temporary = folder + PathSeparator() + ".vlm270fwupdate-XXXXXX";
        fd = mkostemp(temporary.data(), O_CLOEXEC);
        if (fd >= 0 && fchmod(fd, kOwnerReadWrite) != 0) {
            const int code = errno;
            close(fd);
            unlink(temporary.c_str());
            return code;
        }
    }
    if (fd < 0) return errno;
    int code = WriteSyncAndCheck(fd, data, size);
    if (code == 0) {
        if (temporary.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                code = errno;
            }
        } else if (link(temporary.c_str(), path.c_str()) != 0) {
            code = errno;
        }
    }
    if (!temporary.empty()) unlink(temporary.c_str());
    if (close(fd) != 0 && code == 0) code = errno;
    if (code == 0) {
        // The new name must reach the storage too: sync the folder that holds it.
        const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0 || fsync(dirFd) != 0) code = errno;
        if (dirFd >= 0) close(dirFd);
        if (code != 0) unlink(path.c_str());
    }
    return code;
}

}  // namespace

bool WriteNewFile(const std::string& path, const uint8_t* data, std::size_t size,
                  FileError& error) {
    int code = 0;
    do {
        code = WriteWholeThenName(path, data, size);
    } while (code == EINTR);
    if (code != 0) {
        error = ErrorOf(code);
        return false;
    }
    error = FileError{};
    return true;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

bool PathReadWritable(const std::string& path) {
    if (access(path.c_str(), R_OK | W_OK) != 0) return false;
    // The administrator passes access on anything; a file nobody may write stays read-only.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & kAnyWriteBit) != 0;
}

bool SetCurrentDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

std::string GetCurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace framework
