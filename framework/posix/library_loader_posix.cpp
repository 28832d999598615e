// Loading the access library on Linux: dlopen of its absolute path in the program's folder.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "framework/library_loader.h"

namespace framework {
namespace {

constexpr const char* kLibraryFileName = "libvlmio.so";
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

class DlHandle final : public LibraryHandle {
  public:
    explicit DlHandle(void* handle) : m_handle(handle) {}
    ~DlHandle() override {
        if (m_handle != nullptr) dlclose(m_handle);
    }
    DlHandle(const DlHandle&) = delete;
    DlHandle& operator=(const DlHandle&) = delete;
    void* Get() const { return m_handle; }

  private:
    void* m_handle;
};

std::string Prefix(const std::string& path) {
    return "The access library " + path;
}

// Resolves one entry into the pointer; false when the library lacks it.
template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& entry) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) return false;
    entry = reinterpret_cast<Fn>(symbol);
    return true;
}

}  // namespace

const char* AccessLibraryFileName() {
    return kLibraryFileName;
}

bool LoadAccessLibrary(const std::string& strFolder, std::unique_ptr<LoadedVlmIo>& library,
                       std::string& strError) {
    library.reset();
    strError.clear();
    const std::string folder = strFolder.empty() ? std::string("/") : strFolder;
    if (folder.front() != '/') {
        strError = Prefix(strFolder + "/" + kLibraryFileName) + " is not named by a full path.";
        return false;
    }
    const std::string path = (folder == "/" ? folder : folder + "/") + kLibraryFileName;

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
    auto handle = std::make_unique<DlHandle>(raw);

    VlmIoEntries entries;
    const char* missing = nullptr;  // the first entry the library lacks
    auto require = [&](const char* name, auto& entry) {
        if (missing == nullptr && !Resolve(raw, name, entry)) missing = name;
    };
    require(VLMIO_ENTRY_LOAD, entries.pfnLoad);
    require(VLMIO_ENTRY_UNLOAD, entries.pfnUnload);
    require(VLMIO_ENTRY_READ_BYTE, entries.pfnReadByte);
    require(VLMIO_ENTRY_READ_DWORD, entries.pfnReadDword);
    require(VLMIO_ENTRY_WRITE_BYTE, entries.pfnWriteByte);
    require(VLMIO_ENTRY_WRITE_DWORD, entries.pfnWriteDword);
    if (missing != nullptr) {
        strError = Prefix(path) + " has no entry " + missing + ".";
        return false;
    }
    Resolve(raw, VLMIO_ENTRY_IS_EMULATED, entries.pfnIsEmulated);  // optional

    library = std::make_unique<LoadedVlmIo>(std::move(handle), entries, path);
    return true;
}

}  // namespace framework
