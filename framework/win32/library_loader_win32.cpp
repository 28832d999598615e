// Loading a library on Windows: from the program's own folder only.
#include "framework/win32/win32_headers.h"

#include "framework/library_loader.h"

#include <utility>

namespace framework {
namespace {

class ModuleLibrary final : public SharedLibrary {
public:
    ModuleLibrary(HMODULE module, std::string path) : m_module(module), m_path(std::move(path)) {}
    ~ModuleLibrary() override {
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;
    void* Entry(const char* name) const override {
        return reinterpret_cast<void*>(GetProcAddress(m_module, name));
    }
    const std::string& Path() const override { return m_path; }

private:
    HMODULE m_module;
    std::string m_path;
};

// Every message starts with the file's path.
const std::string& Prefix(const std::string& path) {
    return path;
}

// The system's text for an error code, without its line break; the number when it has none.
std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(code) : result;
}

}  // namespace

bool LoadLibraryFromFolder(const std::string& strFolder, const std::string& strFileName,
                           std::unique_ptr<SharedLibrary>& library, std::string& strError) {
    library.reset();
    strError.clear();
    const std::string path = strFolder + "\\" + strFileName;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        strError = Prefix(path) + " was not found.";
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        strError = Prefix(path) + " is not a file.";
        return false;
    }
    // By full path, and the library's own imports only from the program folder and the system
    // folder: nothing is taken from the current directory or the search path.
    HMODULE module =
        LoadLibraryExA(path.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
    if (module == nullptr) {
        strError = Prefix(path) + " could not be loaded: " + SystemErrorText(GetLastError()) + ".";
        return false;
    }
    library = std::make_unique<ModuleLibrary>(module, path);
    return true;
}

}  // namespace framework
