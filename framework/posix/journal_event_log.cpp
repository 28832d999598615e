// The event log on Linux: each diagnostic line is a record of the systemd journal (or of syslog
// where no journal runs), and is also appended, verbatim, to the file that VLM270_EVENT_LOG
// names. The journal record's message is the line without its CR/LF framing; the line as
// written, the event source's name and the fields of the writing thread (controller, part,
// step, result) are fields of their own.
#include <fcntl.h>
#include <sys/uio.h>
#include <syslog.h>
// The record's source location is the diagnostic line's own (CODE_FUNC, CODE_LINE), not this
// file's.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "framework/event_log_backend.h"
#include "framework/posix/system_log.h"

namespace framework {
namespace {

constexpr uintptr_t kOpenHandle = 1;
constexpr const char* kEventLogFileVariable = "VLM270_EVENT_LOG";
constexpr const char* kJournalSocket = "/run/systemd/journal/socket";
constexpr const char* kFieldEventLine = "VLM270_EVENT_LINE";
constexpr const char* kFieldCodeFunction = "CODE_FUNC";
constexpr const char* kFieldCodeLine = "CODE_LINE";
// Event types as the reporter passes them, and the priority each is logged at.
constexpr uint16_t kEventTypeError = 1;
constexpr uint16_t kEventTypeWarning = 2;

std::once_flag g_syslogOpened;
// One record at a time goes to the journal: its client library opens the socket on the first
// record, from whichever thread writes it, and the lock orders that opening before every later
// send on every other thread. Held only while a record is handed over.
std::mutex g_journalSend;

// The line without the carriage returns and line feeds that frame it.
std::string WithoutFraming(const std::string& line) {
    std::size_t begin = line.find_first_not_of("\r\n");
    if (begin == std::string::npos) return {};
    std::size_t end = line.find_last_not_of("\r\n");
    return line.substr(begin, end - begin + 1);
}

// A diagnostic line starts with the writing function's name and the source line number:
// "Name::Method:1302: ...". Both become fields when the line has them.
void AddSourceFields(const std::string& message, std::vector<EventField>& fields) {
    std::size_t colon = message.find(": ");
    std::size_t numberEnd = colon;
    if (colon == std::string::npos) return;
    std::size_t numberStart = message.rfind(':', colon - 1);
    if (numberStart == std::string::npos || numberStart + 1 >= numberEnd) return;
    for (std::size_t i = numberStart + 1; i < numberEnd; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(message[i]))) return;
    }
    fields.push_back({kFieldCodeFunction, message.substr(0, numberStart)});
    fields.push_back(
        {kFieldCodeLine, message.substr(numberStart + 1, numberEnd - numberStart - 1)});
}

class JournalEventLog final : public EventLogBackend {
public:
    // Nothing needs registering: the journal and syslog take records from any program.
    bool WriteSourceRegistration(const std::string&, const std::string&, uint32_t) override {
        return true;
    }

    // The source's name goes with every record as a field of its own.
    uintptr_t OpenSource(const std::string& sourceName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sourceName = sourceName;
        return kOpenHandle;
    }

    void CloseSource(uintptr_t) override {}

    bool Report(uintptr_t handle, uint16_t type, uint16_t, uint32_t, const std::vector<uint8_t>*,
                const char* text) override {
        if (handle == 0 || text == nullptr) return false;
        const std::string line = text;
        const std::string message = WithoutFraming(line);
        std::vector<EventField> fields;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            fields.push_back({kFieldEventSource, m_sourceName});
        }
        fields.push_back({kFieldEventLine, line});
        AddSourceFields(message, fields);
        for (EventField& f : ThreadEventFields()) fields.push_back(std::move(f));
        const int priority = type == kEventTypeError     ? kLogPriorityError
                             : type == kEventTypeWarning ? kLogPriorityWarning
                                                         : kLogPriorityInfo;
        WriteSystemLog(priority, message, fields);
        if (const char* file = std::getenv(kEventLogFileVariable); file != nullptr && *file) {
            std::lock_guard<std::mutex> lock(m_mutex);
            AppendLine(file, text);
        }
        return true;
    }

    // The journal records the writer's user by itself (_UID); there is no identifier to pass.
    bool CurrentUserSid(std::vector<uint8_t>&) override { return false; }

private:
    // Appends the line verbatim (its CR/LF and trailing blanks kept) and a line feed. Never
    // waits: a pipe with no reader, or one that is full, loses the copy rather than holding the
    // program (the journal still has the line).
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
    std::string m_sourceName;
};

}  // namespace

bool JournalAvailable() {
    return access(kJournalSocket, W_OK) == 0;
}

void WriteSystemLog(int priority, const std::string& message,
                    const std::vector<EventField>& fields) {
    if (JournalAvailable()) {
        std::vector<std::string> items;
        items.push_back("MESSAGE=" + message);
        items.push_back("PRIORITY=" + std::to_string(priority));
        items.push_back(std::string("SYSLOG_IDENTIFIER=") + kSystemLogIdentifier);
        items.push_back("SYSLOG_FACILITY=" + std::to_string(LOG_USER >> 3));
        for (const EventField& f : fields) items.push_back(f.name + "=" + f.value);
        std::vector<struct iovec> vectors;
        for (std::string& item : items) vectors.push_back({item.data(), item.size()});
        std::lock_guard<std::mutex> lock(g_journalSend);
        if (sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) >= 0) return;
    }
    std::call_once(g_syslogOpened, [] { openlog(kSystemLogIdentifier, LOG_PID, LOG_USER); });
    syslog(priority, "%s", message.c_str());
}

EventLogBackend& PlatformEventLog() {
    static JournalEventLog log;
    return log;
}

}  // namespace framework
