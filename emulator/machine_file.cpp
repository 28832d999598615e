// Machine file grammar, one item a line, '#' starts a comment, tokens separated by blanks:
//   controller BB:DD.F part=PART [member=N] [flash=FILE] [size=BYTES]
//              [timing=datasheet|instant] [fault=FAULT]...
//   device     BB:DD.F VVVV:DDDD
// BB:DD.F is hex as lspci prints it (bus 00-ff, device 00-1f, function 0-7), VVVV:DDDD hex;
// every other number is decimal unless written with 0x.
//   part=    a chip of the emulator's catalogue by its name (chip_catalogue.h), or by the number
//            of its row in the updater's part table (0-46, in the order the catalogue states),
//            `none` (nothing answers on the bridge: every byte reads 0xFF) or
//            `unknown:OP:B0:B1:B2` (hex: a chip answering identification opcode OP with those
//            bytes, otherwise a 128 KiB chip with 256-byte pages, chip erase 0x60 and sector
//            erase 0x20)
//   member=  which of the seven 270X identifiers the controller shows (1-7, default 1)
//   flash=   the chip's contents, relative to the machine file: read at load if it exists
//            (a shorter file leaves the rest 0xFF, a longer one is an error), else the chip holds
//            an old-firmware pattern; written back when the emulated PC saves or ends
//   size=    the chip's size in bytes, a power of two from 4 KiB to 16 MiB (the chips of one
//            file may add up to 16 MiB)
//   timing=  datasheet (default): typical busy times per family; instant: none
//   fault=   stuck-busy | stuck-byte:ADDR=VAL | flaky-read:N | erase-fails | write-protect |
//            slow:MS | unplug-after:N   (several fault= combine; MS may have up to three
//            decimals: slow:0.05 sleeps 50 microseconds an access)
#include "emulator/machine_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "emulator/chip_catalogue.h"
#include "emulator/member_ids.h"

namespace vlmio::emu {
namespace {

constexpr uint32_t kMaxBus = 0xFF;
constexpr uint32_t kMaxDevice = 0x1F;
constexpr uint32_t kMaxFunction = 0x7;
constexpr uint32_t kMinChipSize = 4 * 1024;
constexpr uint32_t kMaxChipSize = 16 * 1024 * 1024;  // 24-bit addresses
constexpr uint64_t kMaxTotalChipBytes = 16 * 1024 * 1024;
constexpr uint32_t kMaxSlowMs = 60000;
constexpr uint32_t kUsPerMs = 1000;
constexpr std::size_t kMsDecimals = 3;  // slow:MS to the microsecond
constexpr uint8_t kOptionRomSignature0 = 0x55;
constexpr uint8_t kOptionRomSignature1 = 0xAA;
constexpr uint8_t kOldImageBlocks = 0x40;  // image length in 512-byte blocks: 32 KiB

// Opcodes a part=unknown chip may not use for identification: its own program, erase and
// status commands.
constexpr uint8_t kReservedOpcodes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x20, 0x60};

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// Hex digits only, at most maxDigits of them.
bool ParseHex(const std::string& s, std::size_t maxDigits, uint32_t* value) {
    if (s.empty() || s.size() > maxDigits) return false;
    uint32_t v = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        v = v * 16 + static_cast<uint32_t>(digit);
    }
    *value = v;
    return true;
}

// Decimal, or hex after 0x; at most 32 bits.
bool ParseNumber(const std::string& s, uint32_t* value) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        return ParseHex(s.substr(2), 8, value);
    }
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Decimal milliseconds with up to three decimals ("2", "0.05"), as microseconds; at most
// 4,294,967 ms.
bool ParseMilliseconds(const std::string& s, uint32_t* us) {
    const std::size_t point = s.find('.');
    const std::string whole = s.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : s.substr(point + 1);
    if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos) return false;
    if (point != std::string::npos &&
        (fraction.empty() || fraction.size() > kMsDecimals ||
         fraction.find_first_not_of("0123456789") != std::string::npos)) {
        return false;
    }
    fraction.resize(kMsDecimals, '0');
    uint32_t ms = 0;
    uint32_t thousandths = 0;
    if (!ParseNumber(whole, &ms) || !ParseNumber(fraction, &thousandths)) return false;
    if (ms > (UINT32_MAX - thousandths) / kUsPerMs) return false;
    *us = ms * kUsPerMs + thousandths;
    return true;
}

std::string FormatAddress(const PciAddress& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", a.bus, a.device, a.function);
    return text;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

// Parses one line; problems are reported through Fail with the line's text.
class LineParser {
public:
    LineParser(const std::string& baseDir, MachineDescription* machine,
               std::map<uint32_t, int>* addressLines, std::map<std::string, int>* flashLines,
               uint64_t* totalChipBytes, int line)
        : m_baseDir(baseDir),
          m_machine(machine),
          m_addressLines(addressLines),
          m_flashLines(flashLines),
          m_totalChipBytes(totalChipBytes),
          m_line(line) {}

    // False with *error set ("what is wrong") on a bad line.
    bool Parse(const std::vector<std::string>& tokens, std::string* error) {
        m_error = error;
        const std::string& item = tokens[0];
        if (item == "controller") return ParseController(tokens);
        if (item == "device") return ParseDevice(tokens);
        return Fail("unknown item " + Quote(item) + " (expected controller or device)");
    }

private:
    bool Fail(const std::string& what) {
        *m_error = what;
        return false;
    }

    bool ParseAddress(const std::vector<std::string>& tokens, PciAddress* address) {
        if (tokens.size() < 2) return Fail("missing address BB:DD.F after " + tokens[0]);
        const std::string& s = tokens[1];
        std::size_t colon = s.find(':');
        std::size_t dot = s.find('.', colon == std::string::npos ? 0 : colon);
        uint32_t bus = 0, device = 0, function = 0;
        const std::string bad = "bad address " + Quote(s) + " (expected BB:DD.F in hex)";
        if (colon == std::string::npos || dot == std::string::npos) return Fail(bad);
        if (!ParseHex(s.substr(0, colon), 4, &bus) ||
            !ParseHex(s.substr(colon + 1, dot - colon - 1), 4, &device) ||
            !ParseHex(s.substr(dot + 1), 4, &function)) {
            return Fail(bad);
        }
        if (bus > kMaxBus) return Fail("bus " + s.substr(0, colon) + " out of range (00-ff)");
        if (device > kMaxDevice) {
            return Fail("device " + s.substr(colon + 1, dot - colon - 1) + " out of range (00-1f)");
        }
        if (function > kMaxFunction) {
            return Fail("function " + s.substr(dot + 1) + " out of range (0-7)");
        }
        address->bus = static_cast<uint8_t>(bus);
        address->device = static_cast<uint8_t>(device);
        address->function = static_cast<uint8_t>(function);
        uint32_t key = (bus << 8) | (device << 3) | function;
        auto [it, inserted] = m_addressLines->emplace(key, m_line);
        if (!inserted) {
            return Fail("two items at " + FormatAddress(*address) + " (the other on line " +
                        std::to_string(it->second) + ")");
        }
        return true;
    }

    bool ParseDevice(const std::vector<std::string>& tokens) {
        DeviceItem device;
        device.line = m_line;
        if (!ParseAddress(tokens, &device.address)) return false;
        if (tokens.size() < 3) return Fail("missing identifier VVVV:DDDD after the address");
        const std::string& id = tokens[2];
        uint32_t vendor = 0, deviceId = 0;
        if (id.size() != 9 || id[4] != ':' || !ParseHex(id.substr(0, 4), 4, &vendor) ||
            !ParseHex(id.substr(5), 4, &deviceId)) {
            return Fail("bad identifier " + Quote(id) + " (expected VVVV:DDDD in hex)");
        }
        if (tokens.size() > 3) return Fail("unexpected " + Quote(tokens[3]));
        device.idWord = (deviceId << 16) | vendor;
        m_machine->devices.push_back(device);
        return true;
    }

    bool ParsePart(const std::string& value) {
        if (value == "none") {
            m_partNone = true;
            return true;
        }
        const std::string unknownPrefix = "unknown:";
        if (value.rfind(unknownPrefix, 0) == 0) {
            std::vector<uint32_t> bytes;
            std::stringstream rest(value.substr(unknownPrefix.size()));
            std::string field;
            while (std::getline(rest, field, ':')) {
                uint32_t b = 0;
                if (!ParseHex(field, 2, &b)) break;
                bytes.push_back(b);
            }
            if (bytes.size() != 4 || value.back() == ':') {
                return Fail("bad part " + Quote(value) + " (expected unknown:OP:B0:B1:B2 in hex)");
            }
            for (uint8_t reserved : kReservedOpcodes) {
                if (bytes[0] == reserved) {
                    return Fail("part " + Quote(value) +
                                ": the opcode is one of the chip's own commands");
                }
            }
            m_unknownOpcode = static_cast<uint8_t>(bytes[0]);
            m_unknownBytes = {static_cast<uint8_t>(bytes[1]), static_cast<uint8_t>(bytes[2]),
                              static_cast<uint8_t>(bytes[3])};
            m_partUnknown = true;
            return true;
        }
        const ChipDatasheet* chip = FindChip(value);
        uint32_t number = 0;
        if (chip == nullptr && ParseNumber(value, &number)) chip = ChipOfTableRow(number);
        if (chip == nullptr) {
            return Fail("unknown part " + Quote(value) +
                        " (a chip of the emulator's catalogue, a row number 0-" +
                        std::to_string(kTableRowCount - 1) +
                        " of the updater's part table, none, or unknown:OP:B0:B1:B2)");
        }
        m_part = chip;
        return true;
    }

    bool ParseFault(const std::string& value, ControllerItem* c) {
        std::size_t colon = value.find(':');
        std::string name = value.substr(0, colon);
        std::string arg = colon == std::string::npos ? "" : value.substr(colon + 1);
        bool hasArg = colon != std::string::npos;
        auto noArg = [&]() {
            return hasArg ? Fail("fault " + Quote(name) + " takes no value") : true;
        };
        auto number = [&](uint32_t* n, uint32_t min, uint32_t max) {
            if (!hasArg || !ParseNumber(arg, n)) {
                return Fail("bad number " + Quote(arg) + " in fault " + Quote(value));
            }
            if (*n < min || *n > max) {
                return Fail("fault " + Quote(value) + ": " + arg + " out of range (" +
                            std::to_string(min) + "-" + std::to_string(max) + ")");
            }
            return true;
        };
        uint32_t n = 0;
        if (name == "stuck-busy") {
            c->faults.stuckBusy = true;
            return noArg();
        }
        if (name == "erase-fails") {
            m_eraseFails = true;
            return noArg();
        }
        if (name == "write-protect") {
            m_writeProtect = true;
            return noArg();
        }
        if (name == "flaky-read") {
            if (!number(&n, 1, UINT32_MAX)) return false;
            c->faults.flakyReadEvery = n;
            return true;
        }
        if (name == "slow") {
            uint32_t us = 0;
            if (!hasArg || !ParseMilliseconds(arg, &us)) {
                return Fail("bad number " + Quote(arg) + " in fault " + Quote(value) +
                            " (milliseconds, at most three decimals)");
            }
            if (us > kMaxSlowMs * kUsPerMs) {
                return Fail("fault " + Quote(value) + ": " + arg + " out of range (0-" +
                            std::to_string(kMaxSlowMs) + ")");
            }
            c->faults.slowUs = us;
            return true;
        }
        if (name == "unplug-after") {
            if (!number(&n, 0, UINT32_MAX)) return false;
            c->faults.unplugAfter = n;
            return true;
        }
        if (name == "stuck-byte") {
            std::size_t eq = arg.find('=');
            uint32_t address = 0, byte = 0;
            if (!hasArg || eq == std::string::npos || !ParseNumber(arg.substr(0, eq), &address) ||
                !ParseNumber(arg.substr(eq + 1), &byte) || byte > 0xFF) {
                return Fail("bad fault " + Quote(value) + " (expected stuck-byte:ADDR=VAL)");
            }
            m_stuckBytes.emplace_back(address, static_cast<uint8_t>(byte));
            return true;
        }
        return Fail("unknown fault " + Quote(value) +
                    " (stuck-busy, stuck-byte:ADDR=VAL, flaky-read:N, erase-fails, "
                    "write-protect, slow:MS, unplug-after:N)");
    }

    bool ParseController(const std::vector<std::string>& tokens) {
        ControllerItem c;
        c.line = m_line;
        if (!ParseAddress(tokens, &c.address)) return false;
        std::map<std::string, bool> seen;
        uint32_t member = 1;
        uint32_t size = 0;
        std::string flashFile;
        for (std::size_t i = 2; i < tokens.size(); ++i) {
            const std::string& token = tokens[i];
            std::size_t eq = token.find('=');
            if (eq == std::string::npos || eq == 0) {
                return Fail("unexpected " + Quote(token) + " (expected KEY=VALUE)");
            }
            std::string key = token.substr(0, eq);
            std::string value = token.substr(eq + 1);
            if (key != "fault" && seen[key]) return Fail(key + "= given twice");
            seen[key] = true;
            if (value.empty()) return Fail(key + "= has no value");
            if (key == "part") {
                if (!ParsePart(value)) return false;
            } else if (key == "member") {
                if (!ParseNumber(value, &member))
                    return Fail("bad number " + Quote(value) + " for member=");
                if (member < 1 || member > kMemberDeviceIds.size()) {
                    return Fail("member=" + value + " out of range (1-" +
                                std::to_string(kMemberDeviceIds.size()) + ")");
                }
            } else if (key == "flash") {
                flashFile = value;
            } else if (key == "size") {
                if (!ParseNumber(value, &size))
                    return Fail("bad number " + Quote(value) + " for size=");
                if (size < kMinChipSize || size > kMaxChipSize || (size & (size - 1)) != 0) {
                    return Fail("size=" + value + " must be a power of two from " +
                                std::to_string(kMinChipSize) + " to " +
                                std::to_string(kMaxChipSize));
                }
            } else if (key == "timing") {
                if (value == "instant") {
                    c.instantTiming = true;
                } else if (value != "datasheet") {
                    return Fail("unknown timing " + Quote(value) + " (datasheet or instant)");
                }
            } else if (key == "fault") {
                if (!ParseFault(value, &c)) return false;
            } else {
                return Fail("unknown key " + Quote(key) +
                            " (part, member, flash, size, timing, fault)");
            }
        }
        if (!seen["part"]) return Fail("missing part= (a part, none or unknown:OP:B0:B1:B2)");
        c.idWord = MemberIdWord(member);

        if (m_partNone) {
            if (m_eraseFails || m_writeProtect || !m_stuckBytes.empty() || !flashFile.empty() ||
                size != 0) {
                return Fail("part=none has no flash chip for flash=, size= or a chip fault");
            }
        } else {
            ChipConfig chip = m_partUnknown ? ChipConfigForUnknown(m_unknownOpcode, m_unknownBytes,
                                                                   size, c.instantTiming)
                                            : ChipConfigFor(*m_part, size, c.instantTiming);
            *m_totalChipBytes += chip.datasheet.sizeBytes;
            if (*m_totalChipBytes > kMaxTotalChipBytes) {
                return Fail("the chips of this file add up to more than " +
                            std::to_string(kMaxTotalChipBytes) + " bytes");
            }
            chip.eraseFails = m_eraseFails;
            chip.writeProtect = m_writeProtect;
            const uint32_t chipSize = chip.datasheet.sizeBytes;
            for (const auto& [address, value] : m_stuckBytes) {
                if (address >= chipSize) {
                    return Fail("stuck-byte address " + std::to_string(address) +
                                " beyond the chip's " + std::to_string(chipSize) + " bytes");
                }
            }
            chip.stuckBytes = m_stuckBytes;
            if (!flashFile.empty() && !LoadFlash(flashFile, chipSize, &c)) return false;
            if (flashFile.empty()) c.initialContents = OldFirmwarePattern(chipSize);
            c.chip = std::move(chip);
        }
        m_machine->controllers.push_back(std::move(c));
        return true;
    }

    bool LoadFlash(const std::string& file, uint32_t chipSize, ControllerItem* c) {
        namespace fs = std::filesystem;
        fs::path path(file);
        if (path.is_relative() && !m_baseDir.empty()) path = fs::path(m_baseDir) / path;
        std::string resolved = path.lexically_normal().string();
        auto [it, inserted] = m_flashLines->emplace(resolved, m_line);
        if (!inserted) {
            return Fail("flash=" + file + " is already the flash of line " +
                        std::to_string(it->second));
        }
        c->flashPath = resolved;
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            c->initialContents = OldFirmwarePattern(chipSize);
            return true;
        }
        if (!fs::is_regular_file(path, ec)) return Fail("flash=" + file + " is not a file");
        // The size is checked before reading, so that no file is read further than a chip holds.
        const uintmax_t fileSize = fs::file_size(path, ec);
        if (ec) return Fail("cannot read flash=" + file);
        if (fileSize > chipSize) {
            return Fail("flash=" + file + " holds " + std::to_string(fileSize) +
                        " bytes, more than the chip's " + std::to_string(chipSize));
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) return Fail("cannot read flash=" + file);
        std::vector<uint8_t> bytes(chipSize, 0xFF);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(chipSize));
        if (in.bad()) return Fail("cannot read flash=" + file);
        c->initialContents = std::move(bytes);
        return true;
    }

    const std::string& m_baseDir;
    MachineDescription* m_machine;
    std::map<uint32_t, int>* m_addressLines;
    std::map<std::string, int>* m_flashLines;
    uint64_t* m_totalChipBytes;
    int m_line;
    std::string* m_error = nullptr;

    bool m_partNone = false;
    bool m_partUnknown = false;
    const ChipDatasheet* m_part = nullptr;
    uint8_t m_unknownOpcode = 0;
    std::array<uint8_t, 3> m_unknownBytes{};
    bool m_eraseFails = false;
    bool m_writeProtect = false;
    std::vector<std::pair<uint32_t, uint8_t>> m_stuckBytes;
};

}  // namespace

std::vector<uint8_t> OldFirmwarePattern(std::size_t size) {
    static const char kText[] = "OLD 270X OPTION ROM FIRMWARE ";
    constexpr std::size_t kHeader = 3;
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] =
            static_cast<uint8_t>(kText[(i - kHeader + sizeof kText - 1) % (sizeof kText - 1)]);
    }
    if (size >= kHeader) {
        bytes[0] = kOptionRomSignature0;
        bytes[1] = kOptionRomSignature1;
        bytes[2] = kOldImageBlocks;
    }
    return bytes;
}

bool ParseMachineText(const std::string& text, const std::string& fileName,
                      const std::string& baseDir, MachineDescription* machine, std::string* error) {
    MachineDescription result;
    std::map<uint32_t, int> addressLines;
    std::map<std::string, int> flashLines;
    uint64_t totalChipBytes = 0;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.find('\0') != std::string::npos) {
            *error =
                fileName + ":" + std::to_string(number) + ": a NUL byte (a machine file is text)";
            return false;
        }
        std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> tokens = Tokens(line);
        if (tokens.empty()) continue;
        std::string what;
        LineParser parser(baseDir, &result, &addressLines, &flashLines, &totalChipBytes, number);
        if (!parser.Parse(tokens, &what)) {
            *error = fileName + ":" + std::to_string(number) + ": " + what;
            return false;
        }
    }
    *machine = std::move(result);
    return true;
}

}  // namespace vlmio::emu
