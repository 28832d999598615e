// Shared libraries loaded by full path from a folder the program trusts, with their entries
// looked up by name.
#pragma once

#include <memory>
#include <string>

namespace framework {

// A loaded shared library; unloaded when destroyed.
class SharedLibrary {
public:
    virtual ~SharedLibrary() = default;
    // The address of the exported entry of that name, or nullptr when the library lacks it.
    virtual void* Entry(const char* name) const = 0;
    // The full path it was loaded from.
    virtual const std::string& Path() const = 0;
};

// Loads the file of that name from the folder by its full path. False, with a message that
// starts with the file's full path in strError, when the file is missing or not a file, may be
// changed by others than its owner (where the platform can tell: it or its folder writable by group
// or others), or cannot be loaded. Never loads anything from elsewhere.
bool LoadLibraryFromFolder(const std::string& strFolder, const std::string& strFileName,
                           std::unique_ptr<SharedLibrary>& library, std::string& strError);

}  // namespace framework
