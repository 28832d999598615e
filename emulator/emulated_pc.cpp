// The emulated PC: PCI configuration space of 270X controllers with their SPI bridge and flash
// chip, and of other functions. The machine file's grammar is described in machine_file.cpp.
//
// Configuration space of a controller:
//   0x00        identifier word (device identifier high, vendor identifier low); byte reads
//               give its bytes
//   0xF0-0xF3   bridge data register; dword accesses use all four bytes, byte accesses one lane
//   0xF4        bridge control register. Reading: 0x20 while a transfer runs, else 0x00.
//               Writing: 0x21-0x24 receive 1-4 bytes into the data register (bytes not received
//               read 0), 0x29-0x2C send the 1-4 low bytes of the data register, 0x10 releases
//               chip select; other values do nothing. A dword write takes its low byte; a dword
//               read gives the control register in the low byte.
//   elsewhere   reads 0, writes ignored
// Other functions (device lines) show their identifier at 0x00 and read 0 elsewhere; absent
// functions and offsets past 0xFF read all ones. Dword accesses ignore the offset's low two
// bits, as configuration mechanism 1 does. Writes to anything but the bridge are ignored.
//
// Time: every access costs kRegisterAccessUs of the clock. Under datasheet timing a transfer
// keeps the bridge busy 1 us per byte; under instant timing not at all.
//
// Misuse is recorded, never refused: a bridge register written, or the data register read, while
// a transfer runs (the access still happens); the data register accessed other than as a dword,
// or the control register other than as a byte; and whatever the chips report (see
// flash_chip_model.h). Each record names the controller and the access's number, which is its
// line in an access log started at load.
//
// Faults act on the bridge: stuck-busy (the control register always reads 0x20, transfers
// still happen), flaky-read:N (the Nth, 2Nth, ... data-register read of that controller comes
// back with its first byte's bits 0xA5 flipped), slow:MS (each access to that controller first
// sleeps MS ms on the clock, outside the lock so that other controllers go on), unplug-after:N
// (after N accesses the function reads all ones and ignores writes, for good: a power cycle
// does not bring it back). The chip's own faults are described in flash_chip_model.h.
#include "emulator/emulated_pc.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "emulator/flash_chip_model.h"
#include "emulator/machine_file.h"
#include "framework/platform.h"

namespace vlmio::emu {
namespace {

constexpr uint32_t kIdOffset = 0x00;
constexpr uint32_t kDataOffset = 0xF0;
constexpr uint32_t kControlOffset = 0xF4;
constexpr uint32_t kConfigSpaceEnd = 0x100;
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr uint8_t kControlBusy = 0x20;
constexpr uint8_t kControlEndCommand = 0x10;
constexpr uint8_t kControlReceiveBase = 0x20;  // + 1..4
constexpr uint8_t kControlSendBase = 0x28;     // + 1..4
constexpr uint32_t kMaxTransferBytes = 4;
constexpr uint64_t kBridgeByteUs = 1;
constexpr uint8_t kFlakyFlip = 0xA5;
constexpr std::size_t kFunctionSlots = 256 * 32 * 8;
constexpr std::filesystem::perms kFlashFilePermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

uint32_t Slot(uint32_t bus, uint32_t device, uint32_t function) {
    return (bus << 8) | (device << 3) | function;
}

// Microseconds of the wall clock, which goes on between processes (the emulated PC's own clock
// starts with each).
int64_t WallNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

const char* ViolationName(ViolationKind kind) {
    static constexpr const char* kNames[kViolationKindCount] = {
        "bridge-busy",           "register-width",  "chip-busy",
        "no-write-enable",       "page-crossed",    "aai-misuse",
        "status-write-disabled", "rejected-command"};
    return kNames[static_cast<int>(kind)];
}

std::string FormatViolation(const Violation& v) {
    char head[48];
    std::snprintf(head, sizeof head, "%02x:%02x.%x access %llu: ", v.bus, v.device, v.function,
                  static_cast<unsigned long long>(v.access));
    return head + std::string(ViolationName(v.kind)) + ": " + v.detail;
}

std::string FormatAccess(const RegisterAccess& access) {
    char line[48];
    std::snprintf(line, sizeof line, "%c %02x:%02x.%x %02x %u %08x", access.write ? 'W' : 'R',
                  access.bus, access.device, access.function, access.offset, access.width,
                  access.value);
    return line;
}

// One PCI function of the emulated PC.
struct Function {
    uint32_t idWord = 0;
    bool controller = false;
    // Controllers only.
    std::unique_ptr<SpiFlashChip> chip;
    std::string flashPath;
    bool instantTiming = false;
    BridgeFaults faults;
    std::FILE* writeThrough = nullptr;  // the flash file, open while changes are written through
    std::FILE* stateFile = nullptr;     // FILE.state: the chip's kept state, while written through
    uint32_t data = 0;
    uint64_t busyUntilUs = 0;
    uint64_t accesses = 0;
    uint64_t dataReads = 0;
};

struct EmulatedPc::Impl {
    explicit Impl(framework::Clock& c) : clock(c), slots(kFunctionSlots, -1) {}

    framework::Clock& clock;
    std::mutex mutex;
    std::vector<Function> functions;
    std::vector<int32_t> slots;  // function index by bus, device and function, or -1
    uint64_t accessCount = 0;
    std::function<void(const RegisterAccess&)> observer;
    std::FILE* logFile = nullptr;
    std::vector<Violation> violations;
    std::FILE* violationFile = nullptr;

    Function* Find(uint32_t bus, uint32_t device, uint32_t function) {
        if (bus > 0xFF || device > 0x1F || function > 0x7) return nullptr;
        int32_t index = slots[Slot(bus, device, function)];
        return index < 0 ? nullptr : &functions[static_cast<std::size_t>(index)];
    }

    // One access from start to end: faults, the register, the log.
    uint32_t Access(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                    uint8_t width, bool write, uint32_t value);
    uint32_t Read(Function& f, uint32_t offset, uint8_t width);
    void Write(Function& f, uint32_t offset, uint8_t width, uint32_t value);
    void Control(Function& f, uint8_t value);
    void WriteThrough(Function& f);
    void KeepState(Function& f);
    void OpenStateFile(Function& f);
    bool BridgeBusy(Function& f) {
        if (f.faults.stuckBusy) return true;
        if (f.busyUntilUs == 0) return false;
        if (clock.NowUs() < f.busyUntilUs) return true;
        f.busyUntilUs = 0;  // idle: no need to read the clock again before the next transfer
        return false;
    }
    void Record(const RegisterAccess& access);
    // Notes misuse of the bridge by this access, before it takes effect.
    void CheckBridgeUse(Function& f, uint32_t bus, uint32_t device, uint32_t function,
                        uint32_t offset, uint8_t width, bool write) {
        const uint32_t base = offset & ~3u;
        const bool data = base == kDataOffset;
        if (!data && base != kControlOffset) return;
        const bool wrongWidth = width != (data ? 4 : 1);
        const bool whileBusy = (data || write) && BridgeBusy(f);
        if (wrongWidth || whileBusy) {
            ReportBridgeMisuse(bus, device, function, offset, width, write, wrongWidth, whileBusy);
        }
    }
    // Records what CheckBridgeUse found; kept apart so that the check itself stays small.
    [[gnu::noinline, gnu::cold]] void ReportBridgeMisuse(uint32_t bus, uint32_t device,
                                                         uint32_t function, uint32_t offset,
                                                         uint8_t width, bool write, bool wrongWidth,
                                                         bool whileBusy);
    void AddViolation(ViolationKind kind, uint32_t bus, uint32_t device, uint32_t function,
                      std::string detail);
};

uint32_t EmulatedPc::Impl::Access(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                  uint8_t width, bool write, uint32_t value) {
    // The slow fault's sleep comes first, without the lock. The table of functions never
    // changes after loading, so the lookup needs no lock either.
    Function* f = Find(bus, device, function);
    if (f != nullptr && f->controller && f->faults.slowUs != 0) {
        clock.SleepUs(f->faults.slowUs);
    }
    std::lock_guard<std::mutex> lock(mutex);
    clock.Elapse(kRegisterAccessUs);
    ++accessCount;
    if (width == 4) offset &= ~3u;
    uint32_t result = 0;
    bool present = f != nullptr && offset < kConfigSpaceEnd;
    if (present && f->controller) {
        ++f->accesses;
        if (f->faults.unplugAfter && f->accesses > *f->faults.unplugAfter) present = false;
        if (present) CheckBridgeUse(*f, bus, device, function, offset, width, write);
    }
    if (write) {
        if (present) Write(*f, offset, width, value);
        result = value;
    } else {
        result = present ? Read(*f, offset, width) : (width == 1 ? 0xFFu : kAllOnes);
    }
    if (present && f->chip && !f->chip->PendingViolations().empty()) {
        for (ChipViolation& v : f->chip->PendingViolations()) {
            AddViolation(v.kind, bus, device, function, std::move(v.detail));
        }
        f->chip->PendingViolations().clear();
    }
    if (observer || logFile != nullptr) {
        Record({static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                static_cast<uint8_t>(function), static_cast<uint8_t>(offset), width, write,
                result});
    }
    return result;
}

void EmulatedPc::Impl::Record(const RegisterAccess& access) {
    if (observer) observer(access);
    if (logFile != nullptr) {
        std::string line = FormatAccess(access) + "\n";
        std::fwrite(line.data(), 1, line.size(), logFile);
        std::fflush(logFile);
    }
}

void EmulatedPc::Impl::ReportBridgeMisuse(uint32_t bus, uint32_t device, uint32_t function,
                                          uint32_t offset, uint8_t width, bool write,
                                          bool wrongWidth, bool whileBusy) {
    const std::string what = std::string(write ? "write of the " : "read of the ") +
                             ((offset & ~3u) == kDataOffset ? "data" : "control") + " register";
    if (wrongWidth) {
        char at[8];
        std::snprintf(at, sizeof at, "0x%02X", offset);
        AddViolation(ViolationKind::kRegisterWidth, bus, device, function,
                     what + " at " + at + " as " + std::to_string(width) +
                         (width == 1 ? " byte" : " bytes"));
    }
    if (whileBusy) {
        AddViolation(ViolationKind::kBridgeBusy, bus, device, function,
                     what + " while a transfer runs");
    }
}

void EmulatedPc::Impl::AddViolation(ViolationKind kind, uint32_t bus, uint32_t device,
                                    uint32_t function, std::string detail) {
    violations.push_back({kind, static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                          static_cast<uint8_t>(function), accessCount, std::move(detail)});
    if (violationFile != nullptr) {
        std::string line = FormatViolation(violations.back()) + "\n";
        std::fwrite(line.data(), 1, line.size(), violationFile);
        std::fflush(violationFile);
    }
}

uint32_t EmulatedPc::Impl::Read(Function& f, uint32_t offset, uint8_t width) {
    uint32_t dword;
    uint32_t base = offset & ~3u;
    if (base == kIdOffset) {
        dword = f.idWord;
    } else if (f.controller && base == kDataOffset) {
        dword = f.data;
        ++f.dataReads;
        if (f.faults.flakyReadEvery != 0 && f.dataReads % f.faults.flakyReadEvery == 0) {
            // One wrong byte: the first of the register (or the lane read).
            dword ^= width == 4 ? kFlakyFlip : (uint32_t{kFlakyFlip} << ((offset & 3) * 8));
        }
    } else if (f.controller && base == kControlOffset) {
        dword = BridgeBusy(f) ? kControlBusy : 0;
    } else {
        dword = 0;
    }
    if (width == 4) return dword;
    return (dword >> ((offset & 3) * 8)) & 0xFF;
}

void EmulatedPc::Impl::Write(Function& f, uint32_t offset, uint8_t width, uint32_t value) {
    if (!f.controller) return;
    uint32_t base = offset & ~3u;
    if (base == kDataOffset) {
        if (width == 4) {
            f.data = value;
        } else {
            uint32_t shift = (offset & 3) * 8;
            f.data = (f.data & ~(0xFFu << shift)) | ((value & 0xFF) << shift);
        }
    } else if (offset == kControlOffset) {
        Control(f, static_cast<uint8_t>(value));
    }
}

void EmulatedPc::Impl::Control(Function& f, uint8_t value) {
    if (value == kControlEndCommand) {
        if (f.chip) {
            f.chip->Release();
            if (f.writeThrough != nullptr) WriteThrough(f);
            if (f.stateFile != nullptr) KeepState(f);
        }
        return;
    }
    uint32_t count = 0;
    bool send = false;
    if (value > kControlReceiveBase && value <= kControlReceiveBase + kMaxTransferBytes) {
        count = value - kControlReceiveBase;
    } else if (value > kControlSendBase && value <= kControlSendBase + kMaxTransferBytes) {
        count = value - kControlSendBase;
        send = true;
    } else {
        return;
    }
    uint32_t received = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // Receiving clocks out idle-high bytes; with no chip the line stays high.
        uint8_t out = send ? static_cast<uint8_t>(f.data >> (8 * i)) : 0xFF;
        uint8_t in = f.chip ? f.chip->Exchange(out) : 0xFF;
        received |= uint32_t{in} << (8 * i);
    }
    if (!send) f.data = received;
    if (!f.instantTiming) f.busyUntilUs = clock.NowUs() + kBridgeByteUs * count;
    if (f.stateFile != nullptr) KeepState(f);
}

// The chip's state goes to its state file as it changes, where a process killed right after
// still leaves it for the next one, as a real chip keeps it between runs of the program.
void EmulatedPc::Impl::KeepState(Function& f) {
    const SpiFlashChip::KeptState state = f.chip->Keep(WallNowUs());
    if (std::fseek(f.stateFile, 0, SEEK_SET) == 0) {
        std::fwrite(&state, sizeof state, 1, f.stateFile);
    }
    std::fflush(f.stateFile);
}

// A command has ended: what it changed in the array goes to the flash file at once, where a
// process killed right after still leaves it.
void EmulatedPc::Impl::WriteThrough(Function& f) {
    const auto [first, end] = f.chip->TakeChangedSpan();
    if (first == end) return;
    // A failure here is mended by the save at unloading, or reported by it.
    if (std::fseek(f.writeThrough, static_cast<long>(first), SEEK_SET) == 0) {
        std::fwrite(f.chip->Contents().data() + first, 1, end - first, f.writeThrough);
    }
    std::fflush(f.writeThrough);
}

EmulatedPc::EmulatedPc(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

EmulatedPc::~EmulatedPc() {
    SaveFlashFiles();
    for (Function& f : m_impl->functions) {
        if (f.writeThrough != nullptr) std::fclose(f.writeThrough);
        if (f.stateFile != nullptr) std::fclose(f.stateFile);
    }
    if (m_impl->logFile != nullptr) std::fclose(m_impl->logFile);
    if (m_impl->violationFile != nullptr) std::fclose(m_impl->violationFile);
}

bool EmulatedPc::ReadMachineFile(const std::string& path, std::string* text, std::string* error) {
    // Only a regular file, opened without waiting (a pipe or device is refused, never read),
    // and read no further than a machine file can be long.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        *error = path + ": not a regular file, so not a machine file";
        return false;
    }
    framework::FileError fileError;
    std::unique_ptr<framework::File> file = framework::OpenFileShared(path, fileError);
    if (!file) {
        *error = path + ": cannot open the machine file";
        return false;
    }
    std::string bytes(kMaxMachineFileBytes + 1, '\0');
    std::size_t length = 0;
    for (std::size_t got = 1; got != 0 && length < bytes.size(); length += got) {
        if (!file->Read(bytes.data() + length, bytes.size() - length, got)) {
            *error = path + ": cannot read the machine file";
            return false;
        }
    }
    if (length > kMaxMachineFileBytes) {
        *error = path + ": more than " + std::to_string(kMaxMachineFileBytes) +
                 " bytes, too long for a machine file";
        return false;
    }
    bytes.resize(length);
    *text = std::move(bytes);
    return true;
}

std::unique_ptr<EmulatedPc> EmulatedPc::FromFile(const std::string& path, framework::Clock& clock,
                                                 std::string* error) {
    std::string text;
    if (!ReadMachineFile(path, &text, error)) return nullptr;
    std::string baseDir = std::filesystem::path(path).parent_path().string();
    return FromText(text, path, baseDir, clock, error);
}

std::unique_ptr<EmulatedPc> EmulatedPc::FromText(const std::string& text,
                                                 const std::string& fileName,
                                                 const std::string& baseDir,
                                                 framework::Clock& clock, std::string* error) {
    MachineDescription machine;
    if (!ParseMachineText(text, fileName, baseDir, &machine, error)) return nullptr;
    auto impl = std::make_unique<Impl>(clock);
    impl->functions.reserve(machine.controllers.size() + machine.devices.size());
    for (ControllerItem& c : machine.controllers) {
        Function f;
        f.idWord = c.idWord;
        f.controller = true;
        if (c.chip) {
            f.chip = std::make_unique<SpiFlashChip>(std::move(*c.chip), clock);
            f.chip->SetContents(c.initialContents);
        }
        f.flashPath = c.flashPath;
        f.instantTiming = c.instantTiming;
        f.faults = c.faults;
        impl->slots[Slot(c.address.bus, c.address.device, c.address.function)] =
            static_cast<int32_t>(impl->functions.size());
        impl->functions.push_back(std::move(f));
    }
    for (const DeviceItem& d : machine.devices) {
        Function f;
        f.idWord = d.idWord;
        impl->slots[Slot(d.address.bus, d.address.device, d.address.function)] =
            static_cast<int32_t>(impl->functions.size());
        impl->functions.push_back(std::move(f));
    }
    return std::unique_ptr<EmulatedPc>(new EmulatedPc(std::move(impl)));
}

uint32_t EmulatedPc::ReadByte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset) {
    return m_impl->Access(bus, device, function, offset, 1, false, 0);
}

uint32_t EmulatedPc::ReadDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset) {
    return m_impl->Access(bus, device, function, offset, 4, false, 0);
}

void EmulatedPc::WriteByte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                           uint32_t value) {
    m_impl->Access(bus, device, function, offset, 1, true, value & 0xFF);
}

void EmulatedPc::WriteDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                            uint32_t value) {
    m_impl->Access(bus, device, function, offset, 4, true, value);
}

bool EmulatedPc::StartWriteThrough(std::string* error) {
    namespace fs = std::filesystem;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    bool allOpen = true;
    for (Function& f : m_impl->functions) {
        if (!f.chip || f.flashPath.empty() || f.writeThrough != nullptr) continue;
        std::error_code ec;
        std::FILE* file = std::fopen(f.flashPath.c_str(), "r+b");
        if (file == nullptr && !fs::exists(f.flashPath, ec)) {
            file = std::fopen(f.flashPath.c_str(), "w+b");
        }
        if (file == nullptr) {
            if (error != nullptr) *error += f.flashPath + ": cannot write the flash file\n";
            allOpen = false;
            continue;
        }
        // The file holds what the chip was loaded from; a new or shorter one gets the whole array.
        f.chip->TakeChangedSpan();
        const std::vector<uint8_t>& bytes = f.chip->Contents();
        const uintmax_t size = fs::file_size(f.flashPath, ec);
        if (ec || size != bytes.size()) {
            const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
            if (std::fflush(file) != 0 || !written) {
                if (error != nullptr) *error += f.flashPath + ": cannot write the flash file\n";
                std::fclose(file);
                allOpen = false;
                continue;
            }
        }
        f.writeThrough = file;
        m_impl->OpenStateFile(f);
    }
    return allOpen;
}

// The chip takes back the state a process before left in FILE.state (none, or a record of
// another chip: it stays as it powered up), and keeps its state there from now on. A state file
// that cannot be written leaves the chip without one, as a process that starts from power-up.
void EmulatedPc::Impl::OpenStateFile(Function& f) {
    const std::string path = f.flashPath + ".state";
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file != nullptr) {
        SpiFlashChip::KeptState state;
        if (std::fread(&state, sizeof state, 1, file) == 1) f.chip->Resume(state, WallNowUs());
    } else {
        file = std::fopen(path.c_str(), "w+b");
    }
    f.stateFile = file;
    if (f.stateFile != nullptr) KeepState(f);
}

bool EmulatedPc::SaveFlashFiles(std::string* error) {
    namespace fs = std::filesystem;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    bool allSaved = true;
    for (Function& f : m_impl->functions) {
        if (!f.chip || f.flashPath.empty()) continue;
        // Written beside the file and renamed over it, so a file is never left half written. The
        // file beside it is always a new one: whatever has that name already is left alone, and
        // only what was made here is removed again.
        const std::string temp = f.flashPath + ".tmp";
        const std::vector<uint8_t>& bytes = f.chip->Contents();
        framework::FileError fileError;
        if (!framework::WriteNewFile(temp, bytes.data(), bytes.size(), fileError)) {
            if (error != nullptr) {
                *error += f.flashPath + ": the flash file could not be written back" +
                          (fileError.kind == framework::FileErrorKind::kAlreadyExists
                               ? " (" + temp + " is in the way: remove it if no run is using it)"
                               : std::string()) +
                          "\n";
            }
            allSaved = false;
            continue;
        }
        std::error_code ec;
        // Readable by all, as the file was before (a new file is its owner's alone).
        fs::permissions(temp, kFlashFilePermissions, ec);
        // Closed for the rename (Windows renames over no open file), then open on the file now
        // at that name.
        const bool writingThrough = f.writeThrough != nullptr;
        if (writingThrough) std::fclose(f.writeThrough);
        fs::rename(temp, f.flashPath, ec);
        if (writingThrough) f.writeThrough = std::fopen(f.flashPath.c_str(), "r+b");
        if (ec) {
            fs::remove(temp, ec);
            if (error != nullptr) {
                *error += f.flashPath + ": the flash file could not be written back\n";
            }
            allSaved = false;
        }
    }
    return allSaved;
}

void EmulatedPc::PowerCycle() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    for (Function& f : m_impl->functions) {
        if (f.chip) f.chip->PowerUp();
        f.data = 0;
        f.busyUntilUs = 0;
        if (f.chip && f.stateFile != nullptr) m_impl->KeepState(f);
    }
}

void EmulatedPc::SetAccessObserver(std::function<void(const RegisterAccess&)> observer) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->observer = std::move(observer);
}

bool EmulatedPc::SetAccessLogFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->logFile != nullptr) std::fclose(m_impl->logFile);
    m_impl->logFile = file;
    return true;
}

std::vector<Violation> EmulatedPc::Violations() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->violations;
}

void EmulatedPc::ClearViolations() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->violations.clear();
}

bool EmulatedPc::SetViolationLogFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->violationFile != nullptr) std::fclose(m_impl->violationFile);
    m_impl->violationFile = file;
    return true;
}

FlashChip* EmulatedPc::Chip(uint32_t bus, uint32_t device, uint32_t function) {
    Function* f = m_impl->Find(bus, device, function);
    return f != nullptr ? f->chip.get() : nullptr;
}

std::size_t EmulatedPc::ControllerCount() const {
    return static_cast<std::size_t>(std::count_if(m_impl->functions.begin(),
                                                  m_impl->functions.end(),
                                                  [](const Function& f) { return f.controller; }));
}

uint64_t EmulatedPc::AccessCount() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->accessCount;
}

}  // namespace vlmio::emu
