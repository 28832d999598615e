// Loading a library on Linux: dlopen of its absolute path in the program's folder, once nobody but
// the administrator (or the user running the program) could have put it there or could replace it.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "framework/library_loader.h"

namespace framework {
namespace {

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

class DlLibrary final : public SharedLibrary {
public:
    DlLibrary(void* handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}
    ~DlLibrary() override {
        if (m_handle != nullptr) dlclose(m_handle);
    }
    DlLibrary(const DlLibrary&) = delete;
    DlLibrary& operator=(const DlLibrary&) = delete;
    void* Entry(const char* name) const override { return dlsym(m_handle, name); }
    const std::string& Path() const override { return m_path; }

private:
    void* m_handle;
    std::string m_path;
};

// Every message starts with the file's path.
const std::string& Prefix(const std::string& path) {
    return path;
}

// Whether the owner may be trusted with the program's rights: the administrator or whoever runs it.
bool TrustedOwner(uid_t owner) {
    return owner == 0 || owner == geteuid();
}

// The path with every link and "." or ".." resolved; empty when it cannot be.
std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

// Checks the folder and every folder above it up to "/": each owned by a trusted owner, none
// writable by group or others; above the first, a sticky folder may be (as /tmp: there only the
// owner of an entry may rename or remove it). Empty when all pass, else the reason after "is
// refused: ".
std::string UntrustedFolder(const std::string& resolvedFolder) {
    std::string folder = resolvedFolder;
    for (bool first = true;; first = false) {
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0) return "its folder " + folder + " cannot be read";
        if (!TrustedOwner(st.st_uid)) {
            return "its folder " + folder + " is owned by user " + std::to_string(st.st_uid) +
                   ", not by root (chown root " + folder + ")";
        }
        if ((st.st_mode & kWritableByOthers) != 0 && (first || (st.st_mode & S_ISVTX) == 0)) {
            return "group or others may write to its folder " + folder + " (chmod go-w " + folder +
                   ")";
        }
        if (folder == "/") return {};
        const std::size_t slash = folder.find_last_of('/');
        folder = slash == 0 ? std::string("/") : folder.substr(0, slash);
    }
}

}  // namespace

bool LoadLibraryFromFolder(const std::string& strFolder, const std::string& strFileName,
                           std::unique_ptr<SharedLibrary>& library, std::string& strError) {
    library.reset();
    strError.clear();
    const std::string folder = strFolder.empty() ? std::string("/") : strFolder;
    if (folder.front() != '/') {
        strError = Prefix(strFolder + "/" + strFileName) + " is not named by a full path.";
        return false;
    }
    const std::string path = (folder == "/" ? folder : folder + "/") + strFileName;

    // Whoever may replace the library would run code with the program's rights.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        strError = errno == ENOENT
                       ? Prefix(path) + " was not found."
                       : Prefix(path) + " cannot be read: " + std::strerror(errno) + ".";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        strError = Prefix(path) + " is not a regular file.";
        return false;
    }
    if ((st.st_mode & kWritableByOthers) != 0) {
        strError = Prefix(path) + " is refused: group or others may write to it (chmod go-w " +
                   path + ").";
        return false;
    }
    // The file that is loaded is the one a link leads to: it, its owner and every folder above
    // it, and the program's folder with every folder above it.
    const std::string resolved = Resolved(path);
    const std::string resolvedFolder = Resolved(folder);
    if (resolved.empty() || resolvedFolder.empty()) {
        strError = Prefix(path) + " cannot be read: " + std::strerror(errno) + ".";
        return false;
    }
    if (!TrustedOwner(st.st_uid)) {
        strError = Prefix(path) + " is refused: it is owned by user " + std::to_string(st.st_uid) +
                   ", not by root (chown root " + resolved + ").";
        return false;
    }
    const std::string resolvedFileFolder =
        resolved.substr(0, std::max<std::size_t>(resolved.find_last_of('/'), 1));
    for (const std::string& start : {resolvedFolder, resolvedFileFolder}) {
        const std::string reason = UntrustedFolder(start);
        if (!reason.empty()) {
            strError = Prefix(path) + " is refused: " + reason + ".";
            return false;
        }
    }

    // The file checked, not the link (which nobody else can change now).
    void* raw = dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (raw == nullptr) {
        const char* reason = dlerror();
        strError =
            Prefix(path) + " could not be loaded: " + (reason != nullptr ? reason : "?") + ".";
        return false;
    }
    library = std::make_unique<DlLibrary>(raw, path);
    return true;
}

}  // namespace framework
