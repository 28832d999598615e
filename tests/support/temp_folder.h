// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the test, and a guard that puts the current directory back.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base != nullptr && *base ? base : "/tmp") + "/vlmXXXXXX";
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr) m_path = name.data();
    }
    ~TempFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // Writes a file of that content; returns its path.
    std::string Write(const std::string& name, const std::string& content) const {
        std::string p = *this / name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

private:
    std::string m_path;
};

class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard() : m_saved(std::filesystem::current_path()) {}
    ~CurrentDirectoryGuard() {
        std::error_code ec;
        std::filesystem::current_path(m_saved, ec);
    }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

private:
    std::filesystem::path m_saved;
};

}  // namespace testsupport
