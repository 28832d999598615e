// A stand-in for /sys that the kernel serves through FUSE, for end-to-end runs of the hardware
// library and program: PCI configuration files that behave like the kernel's, over the emulated
// PC's controllers and chips.
//
//   vlm-sysfs-standin MACHINE_FILE MOUNTPOINT [--lockdown] [--class BB:DD.F=CCSSPP]...
//                     [--remove-after N:BB:DD.F] [--hold N:BB:DD.F:RR=VV:FILE]
//                     [--access-log FILE] [--violations FILE]
//
// Served: bus/pci/devices/0000:BB:DD.F/config for every function of the machine file, and
// kernel/security/lockdown. Each config file is 256 bytes and opened for direct I/O, so that
// every pread and pwrite reaches this server with its exact offset and size. An access is cut,
// as the kernel cuts it, into naturally aligned byte, word and double-word accesses. The header
// (identifiers, class code, header type) is answered here: class 01:06:01 for a controller, the
// --class value (default 02:00:00) for another function; registers 0xF0-0xF7 are the emulated
// PC's; the rest reads 0 and ignores writes.
//
// --lockdown: every write fails with EPERM and the lockdown file shows [integrity], as under a
// kernel locked down by Secure Boot. --remove-after N:BB:DD.F: after N accesses to the function
// it is removed, as by hot unplug: an access through a file still open fails with ENODEV, and
// the file and folder are gone. --hold N:BB:DD.F:RR=VV:FILE: the N-th write of the value VV to
// the function's register RR (both hexadecimal) is done, then its answer is held back: the
// server creates FILE and answers once FILE is removed (at most a minute later), so a test can
// kill the writer at a known point of a flash command. The server runs in the foreground until it
// is unmounted (fusermount3 -u); the emulated PC then writes its flash files back.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_pc.h"
#include "emulator/machine_file.h"
#include "framework/clock.h"

namespace {

constexpr uint32_t kConfigBytes = 256;
constexpr uint32_t kBridgeFirst = 0xF0;
constexpr uint32_t kBridgeEnd = 0xF8;
constexpr uint32_t kControllerClass = 0x010601;  // mass storage, SATA, AHCI
constexpr uint32_t kDefaultClass = 0x020000;     // network
constexpr const char* kDevicesFolder = "/bus/pci/devices";
constexpr const char* kLockdownPath = "/kernel/security/lockdown";
constexpr const char* kLockdownOpen = "[none] integrity confidentiality\n";
constexpr const char* kLockdownLocked = "none [integrity] confidentiality\n";

struct Function {
    uint8_t bus = 0, device = 0, function = 0;
    bool controller = false;
    uint32_t classCode = kDefaultClass;
    uint8_t header[kConfigBytes] = {};  // what is answered outside the bridge registers
    uint64_t accesses = 0;
    uint64_t removeAfter = 0;  // 0: never
    bool removed = false;
    std::string name;  // "0000:BB:DD.F"
};

// A write whose answer is held back: the count-th write of value to register.
struct Hold {
    std::string function;  // "0000:BB:DD.F"; empty: no hold
    uint32_t reg = 0, value = 0;
    uint64_t count = 0, seen = 0;
    std::string file;
};
constexpr int kHoldPollMs = 10;
constexpr int kHoldLimitMs = 60000;

struct StandIn {
    framework::SteadyClock clock;
    std::unique_ptr<vlmio::emu::EmulatedPc> pc;
    std::vector<Function> functions;
    bool lockdown = false;
    Hold hold;
};

StandIn* g_standIn = nullptr;

std::string FunctionName(uint32_t bus, uint32_t device, uint32_t function) {
    char name[16];
    std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus, device, function);
    return name;
}

Function* FindByName(const std::string& name) {
    for (Function& f : g_standIn->functions) {
        if (f.name == name && !f.removed) return &f;
    }
    return nullptr;
}

// What a path names: the root's folders, a function's folder or config file, the lockdown file.
enum class Node { kNone, kFolder, kFunctionFolder, kConfig, kLockdown };

Node Resolve(const std::string& path, Function** function) {
    static const char* const kFolders[] = {
        "/", "/bus", "/bus/pci", kDevicesFolder, "/kernel", "/kernel/security"};
    for (const char* folder : kFolders) {
        if (path == folder) return Node::kFolder;
    }
    if (path == kLockdownPath) return Node::kLockdown;
    const std::string prefix = std::string(kDevicesFolder) + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return Node::kNone;
    const std::string rest = path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    Function* f = FindByName(rest.substr(0, slash));
    if (f == nullptr) return Node::kNone;
    *function = f;
    if (slash == std::string::npos) return Node::kFunctionFolder;
    return rest.substr(slash) == "/config" ? Node::kConfig : Node::kNone;
}

std::string LockdownText() {
    return g_standIn->lockdown ? kLockdownLocked : kLockdownOpen;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    Function* f = nullptr;
    switch (Resolve(path, &f)) {
        case Node::kFolder:
        case Node::kFunctionFolder:
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
            return 0;
        case Node::kConfig:
            st->st_mode = S_IFREG | 0644;
            st->st_nlink = 1;
            st->st_size = kConfigBytes;
            return 0;
        case Node::kLockdown:
            st->st_mode = S_IFREG | 0444;
            st->st_nlink = 1;
            st->st_size = static_cast<off_t>(LockdownText().size());
            return 0;
        case Node::kNone:
            break;
    }
    return -ENOENT;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    const std::string p = path;
    Function* f = nullptr;
    const Node node = Resolve(p, &f);
    if (node != Node::kFolder && node != Node::kFunctionFolder) return -ENOENT;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    auto add = [&](const std::string& name) {
        fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    };
    if (node == Node::kFunctionFolder) {
        add("config");
    } else if (p == "/") {
        add("bus");
        add("kernel");
    } else if (p == "/bus") {
        add("pci");
    } else if (p == "/bus/pci") {
        add("devices");
    } else if (p == "/kernel") {
        add("security");
    } else if (p == "/kernel/security") {
        add("lockdown");
    } else if (p == kDevicesFolder) {
        for (const Function& fn : g_standIn->functions) {
            if (!fn.removed) add(fn.name);
        }
    }
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    Function* f = nullptr;
    const Node node = Resolve(path, &f);
    if (node == Node::kLockdown) {
        if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EACCES;
        fi->direct_io = 1;
        fi->fh = UINT64_MAX;
        return 0;
    }
    if (node != Node::kConfig) return -ENOENT;
    fi->direct_io = 1;
    fi->fh = static_cast<uint64_t>(f - g_standIn->functions.data());
    return 0;
}

// One naturally aligned access of 1, 2 or 4 bytes to a function's configuration space.
uint32_t ConfigRead(Function& f, uint32_t offset, uint32_t width) {
    vlmio::emu::EmulatedPc& pc = *g_standIn->pc;
    if (offset >= kBridgeFirst && offset < kBridgeEnd && f.controller) {
        if (width == 4) return pc.ReadDword(f.bus, f.device, f.function, offset);
        uint32_t value = 0;
        for (uint32_t i = 0; i < width; ++i)
            value |= (pc.ReadByte(f.bus, f.device, f.function, offset + i) & 0xFF) << (8 * i);
        return value;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i) value |= uint32_t{f.header[offset + i]} << (8 * i);
    return value;
}

void ConfigWrite(Function& f, uint32_t offset, uint32_t width, uint32_t value) {
    if (!f.controller) {
        // Nothing may write to a function that is not a 270X controller: said, for the test.
        std::fprintf(stderr, "write to %s at 0x%02x, %u bytes\n", f.name.c_str(), offset, width);
        std::fflush(stderr);
    }
    if (!(offset >= kBridgeFirst && offset < kBridgeEnd && f.controller)) return;
    vlmio::emu::EmulatedPc& pc = *g_standIn->pc;
    if (width == 4) {
        pc.WriteDword(f.bus, f.device, f.function, offset, value);
        return;
    }
    for (uint32_t i = 0; i < width; ++i)
        pc.WriteByte(f.bus, f.device, f.function, offset + i, (value >> (8 * i)) & 0xFF);
}

// Whether this write is the one whose answer is held back.
bool IsHeldWrite(const Function& f, uint32_t offset, uint32_t value) {
    Hold& h = g_standIn->hold;
    if (h.function.empty() || f.name != h.function || offset != h.reg || value != h.value)
        return false;
    return ++h.seen == h.count;
}

// Holds the answer back: creates the hold file and waits until it is removed, or a minute.
void HoldAnswer() {
    const Hold& h = g_standIn->hold;
    if (std::FILE* marker = std::fopen(h.file.c_str(), "w")) std::fclose(marker);
    for (int waited = 0; waited < kHoldLimitMs && access(h.file.c_str(), F_OK) == 0;
         waited += kHoldPollMs) {
        usleep(kHoldPollMs * 1000);
    }
}

// Cuts [offset, offset + size) into naturally aligned accesses, as the kernel does: a byte to
// reach word alignment, a word to reach double-word alignment, double words, then a word and a
// byte for what is left.
template <typename Piece>
void CutAccess(uint32_t offset, uint32_t size, Piece piece) {
    uint32_t done = 0;
    auto take = [&](uint32_t width) {
        piece(offset, width, done);
        offset += width;
        size -= width;
        done += width;
    };
    if ((offset & 1) != 0 && size >= 1) take(1);
    if ((offset & 3) != 0 && size >= 2) take(2);
    while (size >= 4) take(4);
    if (size >= 2) take(2);
    if (size >= 1) take(1);
}

// The function behind an open config file, counting the access; null with the errno to answer.
Function* Accessed(fuse_file_info* fi, int& error) {
    Function& f = g_standIn->functions[fi->fh];
    if (f.removed) {
        error = -ENODEV;
        return nullptr;
    }
    ++f.accesses;
    if (f.removeAfter != 0 && f.accesses > f.removeAfter) {
        f.removed = true;
        error = -ENODEV;
        return nullptr;
    }
    return &f;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    if (fi->fh == UINT64_MAX) {
        const std::string text = LockdownText();
        if (offset >= static_cast<off_t>(text.size())) return 0;
        const size_t n = std::min(size, text.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, text.data() + offset, n);
        return static_cast<int>(n);
    }
    int error = 0;
    Function* f = Accessed(fi, error);
    if (f == nullptr) return error;
    if (offset < 0 || offset >= kConfigBytes) return 0;
    const auto n = static_cast<uint32_t>(std::min<size_t>(size, kConfigBytes - offset));
    CutAccess(static_cast<uint32_t>(offset), n, [&](uint32_t at, uint32_t width, uint32_t pos) {
        const uint32_t value = ConfigRead(*f, at, width);
        for (uint32_t i = 0; i < width; ++i) buffer[pos + i] = static_cast<char>(value >> (8 * i));
    });
    return static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    if (fi->fh == UINT64_MAX) return -EACCES;
    int error = 0;
    Function* f = Accessed(fi, error);
    if (f == nullptr) return error;
    if (g_standIn->lockdown) return -EPERM;
    if (offset < 0 || offset >= kConfigBytes) return 0;
    const auto n = static_cast<uint32_t>(std::min<size_t>(size, kConfigBytes - offset));
    bool held = false;
    CutAccess(static_cast<uint32_t>(offset), n, [&](uint32_t at, uint32_t width, uint32_t pos) {
        uint32_t value = 0;
        for (uint32_t i = 0; i < width; ++i)
            value |= uint32_t{static_cast<uint8_t>(buffer[pos + i])} << (8 * i);
        ConfigWrite(*f, at, width, value);
        held = held || IsHeldWrite(*f, at, value);
    });
    if (held) HoldAnswer();
    return static_cast<int>(n);
}

int Truncate(const char*, off_t, fuse_file_info*) {
    return 0;  // sysfs ignores a truncation of a config file opened for writing
}

void* Init(fuse_conn_info*, fuse_config* config) {
    // Nothing cached: a removed function is gone at once, and every access reaches the server.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->direct_io = 1;
    return nullptr;
}

std::string MachineFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: vlm-sysfs-standin MACHINE_FILE MOUNTPOINT [--lockdown] "
                 "[--class BB:DD.F=CCSSPP]... [--remove-after N:BB:DD.F] "
                 "[--hold N:BB:DD.F:RR=VV:FILE] [--access-log FILE] [--violations FILE]\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    StandIn standIn;
    g_standIn = &standIn;
    const std::string machineFile = argv[1];
    const std::string mountPoint = argv[2];
    std::map<std::string, uint32_t> classes;
    std::string removeAt;
    uint64_t removeAfter = 0;
    std::string accessLog, violations;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--lockdown") {
            standIn.lockdown = true;
        } else if (a == "--class" && hasValue) {
            const std::string v = argv[++i];
            const std::size_t eq = v.find('=');
            if (eq == std::string::npos) return Usage();
            classes["0000:" + v.substr(0, eq)] =
                static_cast<uint32_t>(std::stoul(v.substr(eq + 1), nullptr, 16));
        } else if (a == "--remove-after" && hasValue) {
            const std::string v = argv[++i];
            const std::size_t colon = v.find(':');
            if (colon == std::string::npos) return Usage();
            removeAfter = std::stoull(v.substr(0, colon));
            removeAt = "0000:" + v.substr(colon + 1);
        } else if (a == "--hold" && hasValue) {
            // N:BB:DD.F:RR=VV:FILE
            const std::string v = argv[++i];
            unsigned long long count = 0;
            unsigned bus = 0, device = 0, function = 0, reg = 0, value = 0;
            int used = 0;
            if (std::sscanf(v.c_str(), "%llu:%x:%x.%x:%x=%x:%n", &count, &bus, &device, &function,
                            &reg, &value, &used) != 6 ||
                used == 0 || static_cast<size_t>(used) >= v.size() || count == 0)
                return Usage();
            standIn.hold.count = count;
            standIn.hold.function = FunctionName(bus, device, function);
            standIn.hold.reg = reg;
            standIn.hold.value = value;
            standIn.hold.file = v.substr(static_cast<size_t>(used));
        } else if (a == "--access-log" && hasValue) {
            accessLog = argv[++i];
        } else if (a == "--violations" && hasValue) {
            violations = argv[++i];
        } else {
            return Usage();
        }
    }
    std::string error;
    standIn.pc = vlmio::emu::EmulatedPc::FromFile(machineFile, standIn.clock, &error);
    if (!standIn.pc || !standIn.pc->StartWriteThrough(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if ((!accessLog.empty() && !standIn.pc->SetAccessLogFile(accessLog)) ||
        (!violations.empty() && !standIn.pc->SetViolationLogFile(violations))) {
        std::fprintf(stderr, "cannot open the access log or the violation record\n");
        return 1;
    }
    // The functions, as the machine file names them.
    std::string text;
    vlmio::emu::MachineDescription machine;
    if (!vlmio::emu::EmulatedPc::ReadMachineFile(machineFile, &text, &error) ||
        !vlmio::emu::ParseMachineText(text, machineFile, MachineFolder(machineFile), &machine,
                                      &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto add = [&](const vlmio::emu::PciAddress& a, bool controller) {
        Function f;
        f.bus = a.bus;
        f.device = a.device;
        f.function = a.function;
        f.controller = controller;
        f.name = FunctionName(a.bus, a.device, a.function);
        f.classCode = controller ? kControllerClass : kDefaultClass;
        if (auto c = classes.find(f.name); c != classes.end()) f.classCode = c->second;
        const uint32_t id = standIn.pc->ReadDword(a.bus, a.device, a.function, 0);
        for (int i = 0; i < 4; ++i) f.header[i] = static_cast<uint8_t>(id >> (8 * i));
        f.header[0x09] = static_cast<uint8_t>(f.classCode);        // programming interface
        f.header[0x0A] = static_cast<uint8_t>(f.classCode >> 8);   // subclass
        f.header[0x0B] = static_cast<uint8_t>(f.classCode >> 16);  // class
        if (f.name == removeAt) f.removeAfter = removeAfter;
        standIn.functions.push_back(f);
    };
    for (const auto& c : machine.controllers) add(c.address, true);
    for (const auto& d : machine.devices) add(d.address, false);

    fuse_operations operations{};
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read = Read;
    operations.write = Write;
    operations.truncate = Truncate;
    operations.init = Init;
    std::vector<std::string> fuseArgs = {
        argv[0], mountPoint, "-f", "-s", "-o", "fsname=vlm-sysfs-standin,auto_unmount"};
    std::vector<char*> fuseArgv;
    for (std::string& s : fuseArgs) fuseArgv.push_back(s.data());
    const int status =
        fuse_main(static_cast<int>(fuseArgv.size()), fuseArgv.data(), &operations, nullptr);
    standIn.pc.reset();  // writes the flash files back
    return status;
}
