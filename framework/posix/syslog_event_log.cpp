// The event log on Linux: syslog, and a copy of every line in the file VLM270_EVENT_LOG names.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "framework/event_log_backend.h"

namespace framework {
namespace {

constexpr uintptr_t kSyslogHandle = 1;
constexpr const char* kEventLogFileVariable = "VLM270_EVENT_LOG";

class SyslogEventLog final : public EventLogBackend {
public:
    // Linux has no registry: there is nothing to register.
    bool WriteSourceRegistration(const std::string&, const std::string&, uint32_t) override {
        return true;
    }

    uintptr_t OpenSource(const std::string& sourceName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ident = sourceName;  // openlog keeps the pointer: the string lives with this object
        openlog(m_ident.c_str(), LOG_PID, LOG_USER);
        return kSyslogHandle;
    }

    void CloseSource(uintptr_t) override { closelog(); }

    bool Report(uintptr_t handle, uint16_t, uint16_t, uint32_t, const std::vector<uint8_t>*,
                const char* text) override {
        if (handle == 0 || text == nullptr) return false;
        syslog(LOG_ERR, "%s", text);
        if (const char* file = std::getenv(kEventLogFileVariable); file != nullptr && *file) {
            std::lock_guard<std::mutex> lock(m_mutex);
            AppendLine(file, text);
        }
        return true;
    }

    bool CurrentUserSid(std::vector<uint8_t>& sid) override {
        // The numeric user id stands for the user's identifier.
        uid_t uid = geteuid();
        sid.assign(reinterpret_cast<const uint8_t*>(&uid),
                   reinterpret_cast<const uint8_t*>(&uid) + sizeof uid);
        return true;
    }

private:
    // Appends the line verbatim (its CR/LF and trailing blanks kept) and a line feed. Never
    // waits: a pipe with no reader, or one that is full, loses the copy rather than holding the
    // program (syslog still has the line).
    static void AppendLine(const char* file, const char* text) {
        const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) return;
        std::string line = std::string(text) + "\n";
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = write(fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    }

    std::mutex m_mutex;
    std::string m_ident;
};

}  // namespace

EventLogBackend& PlatformEventLog() {
    static SyslogEventLog log;
    return log;
}

}  // namespace framework
