// Loading the access library on Windows: vlmiodll.dll from the program's own folder only.
#include "framework/win32/win32_headers.h"

#include "framework/library_loader.h"

namespace framework {
namespace {

constexpr const char* kLibraryFileName = "vlmiodll.dll";

class ModuleHandle final : public LibraryHandle {
public:
    explicit ModuleHandle(HMODULE module) : m_module(module) {}
    ~ModuleHandle() override {
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;

private:
    HMODULE m_module;
};

std::string Prefix(const std::string& path) { return "The access library " + path; }

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

// Resolves one entry into the pointer; false when the library lacks it.
template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& entry) {
    FARPROC symbol = GetProcAddress(module, name);
    if (symbol == nullptr) return false;
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(symbol));
    return true;
}

}  // namespace

const char* AccessLibraryFileName() { return kLibraryFileName; }

bool LoadAccessLibrary(const std::string& strFolder, std::unique_ptr<LoadedVlmIo>& library,
                       std::string& strError) {
    library.reset();
    strError.clear();
    const std::string path = strFolder + "\\" + kLibraryFileName;
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
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                        LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
    if (module == nullptr) {
        strError = Prefix(path) + " could not be loaded: " + SystemErrorText(GetLastError()) + ".";
        return false;
    }
    auto handle = std::make_unique<ModuleHandle>(module);

    VlmIoEntries entries;
    const char* missing = nullptr;
    if (!Resolve(module, VLMIO_ENTRY_LOAD, entries.pfnLoad)) missing = VLMIO_ENTRY_LOAD;
    else if (!Resolve(module, VLMIO_ENTRY_UNLOAD, entries.pfnUnload)) missing = VLMIO_ENTRY_UNLOAD;
    else if (!Resolve(module, VLMIO_ENTRY_READ_BYTE, entries.pfnReadByte))
        missing = VLMIO_ENTRY_READ_BYTE;
    else if (!Resolve(module, VLMIO_ENTRY_READ_DWORD, entries.pfnReadDword))
        missing = VLMIO_ENTRY_READ_DWORD;
    else if (!Resolve(module, VLMIO_ENTRY_WRITE_BYTE, entries.pfnWriteByte))
        missing = VLMIO_ENTRY_WRITE_BYTE;
    else if (!Resolve(module, VLMIO_ENTRY_WRITE_DWORD, entries.pfnWriteDword))
        missing = VLMIO_ENTRY_WRITE_DWORD;
    if (missing != nullptr) {
        strError = Prefix(path) + " has no entry " + missing + ".";
        return false;
    }
    Resolve(module, VLMIO_ENTRY_IS_EMULATED, entries.pfnIsEmulated);  // optional

    library = std::make_unique<LoadedVlmIo>(std::move(handle), entries, path);
    return true;
}

}  // namespace framework
