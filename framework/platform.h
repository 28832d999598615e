// Operating-system services the system's code needs, one function each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace framework {

// The separator of the paths this platform builds and splits ('\\' on Windows, '/' elsewhere).
char PathSeparator();

// Whether the byte is the first of a two-byte character in the paths this platform reports
// (Windows: a lead byte of the ANSI code page; elsewhere never, since in UTF-8 no byte of a
// character beyond ASCII can be taken for a separator).
bool IsPathLeadByte(unsigned char byte);

// Tells the lead bytes of one code page.
using LeadBytePredicate = bool (*)(unsigned char byte);
// While held, a stop request from the terminal (Linux: Ctrl-Z, SIGTSTP) waits; it is honoured
// when the hold ends. Nothing to hold on Windows.
void HoldTerminalStops(bool hold);

// The position of the last separator in path, or std::string_view::npos. The byte after a lead
// byte belongs to its character and is never taken for a separator.
std::size_t FindLastSeparator(std::string_view path, char separator, LeadBytePredicate isLeadByte);
// The same with this platform's separator and lead bytes.
std::size_t FindLastPathSeparator(std::string_view path);

// The full path of the program file, however long; empty on failure.
std::string ModulePath();

// The full path of the program file, at most size - 1 bytes (cut there); false on failure.
bool GetModulePath(char* buffer, std::size_t size);

// Working memory of that many bytes from the installed services' allocator (new[] when none);
// null when none could be had. Release it with delete[].
uint8_t* AllocateWorkingMemory(std::size_t bytes);

// ---- Files ----------------------------------------------------------------------------------

// What kind of failure a file operation met, as the user is told about it.
enum class FileErrorKind {
    kNone,
    kNotFound,          // the file or a folder on its path does not exist
    kAccessDenied,      // no permission, or not a file that can be opened (a folder)
    kSharingViolation,  // another program holds the file
    kAlreadyExists,     // a new file was asked for and one of that name exists
    kOther,
};

// The failure of a file operation: the system's own error code and its portable kind.
struct FileError {
    int code = 0;
    FileErrorKind kind = FileErrorKind::kNone;
};

// The user-facing text of a file failure, with the file's name in place of %1.
std::string FileErrorText(FileErrorKind kind, const std::string& fileName);

// An open regular file. Closed by Close or by its destructor.
class File {
public:
    virtual ~File() = default;
    // The file's length in bytes; false on failure.
    virtual bool Length(uint64_t& length) = 0;
    // Moves to the start of the file; false on failure.
    virtual bool SeekToBegin() = 0;
    // Reads up to size bytes; bytesRead is 0 at the end of the file. False on failure.
    virtual bool Read(void* buffer, std::size_t size, std::size_t& bytesRead) = 0;
    // Closes the file; false when closing failed. Further calls fail.
    virtual bool Close() = 0;
};

// Opens an existing regular file for reading, shared with other readers and writers.
// Null on failure, with the reason in error. Never blocks (a pipe or device is refused).
std::unique_ptr<File> OpenFileShared(const std::string& path, FileError& error);
// Opens an existing regular file for reading with no sharing: it fails while another program
// holds the file (kSharingViolation). Null on failure, with the reason in error.
std::unique_ptr<File> OpenFileExclusive(const std::string& path, FileError& error);

// Creates a new regular file holding the data, readable and writable by its owner only, and
// makes it durable (its data and its folder entry on the storage) before it returns true. The
// file gets its name only once it is whole (written, synced and, on Linux, read back), so a
// process killed meanwhile leaves no file, or a half one, under the name. An existing file is
// never replaced (kAlreadyExists). False, with the reason in error, on any failure.
bool WriteNewFile(const std::string& path, const uint8_t* data, std::size_t size, FileError& error);

// Removes the file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// Whether the path names a folder.
bool IsFolder(const std::string& path);

// The names in the pattern's folder (the current directory when it names none) that match
// the pattern's wildcard name ('*' and '?') without regard to case, folders included, in the
// order the system's file listing gives them (names folded to upper case, then byte order).
// Empty when nothing matches or the folder cannot be read.
std::vector<std::string> ListMatchingNames(const std::string& pattern);

// True when the path names something that exists.
bool PathExists(const std::string& path);
// True when the path may be both read and written (a read-only file fails, also for the
// administrator).
bool PathReadWritable(const std::string& path);

// Makes the folder the current directory; false on failure.
bool SetCurrentDirectory(const std::string& path);
// The current directory; empty on failure.
std::string GetCurrentDirectory();

}  // namespace framework
