// Loading a library on Linux: dlopen of its absolute path in the program's folder.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
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
    struct stat folderStat {};
    if (stat(folder.c_str(), &folderStat) != 0) {
        strError = Prefix(path) + " is refused: its folder " + folder + " cannot be read.";
        return false;
    }
    if ((folderStat.st_mode & kWritableByOthers) != 0) {
        strError = Prefix(path) + " is refused: group or others may write to its folder " + folder +
                   " (chmod go-w " + folder + ").";
        return false;
    }

    void* raw = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
