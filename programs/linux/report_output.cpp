#include "programs/linux/report_output.h"

#include <cstdio>
#include <optional>

#include "programs/linux/options.h"

namespace cli {
namespace {

using admin::ControllerReport;
using admin::Report;
using admin::ReportMode;

constexpr uint32_t kKiB = 1024;

std::string Hex(unsigned value, int digits) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

std::string IdBytesText(const ControllerReport& c) {
    return Hex(c.idBytes[0], 2) + " " + Hex(c.idBytes[1], 2) + " " + Hex(c.idBytes[2], 2);
}

std::string SizeText(uint32_t bytes) {
    if (bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// An option ROM's images, one line each with its device list below it, indented.
std::string RomImagesText(const optionrom::RomCheck& rom, const std::string& indent) {
    std::string out;
    for (const optionrom::RomImage& image : rom.images) {
        out += indent + optionrom::ImageText(image) + "\n";
        if (image.deviceList.empty()) continue;
        out += indent;
        out += "    also for";
        for (uint16_t device : image.deviceList) {
            out += ' ';
            out += Hex(device, 4);
        }
        out += '\n';
    }
    return out;
}

// "    holds: option ROM 1f7c:2700 x86, revision 0x0100, 64 KiB (current)", or the images on
// lines of their own when there are several, or the reason a flash holds no option ROM.
std::string FlashContentsText(const ControllerReport& c) {
    if (!c.flashContents) return {};
    const optionrom::FlashContents& contents = *c.flashContents;
    const std::string status = c.holdsImage ? (*c.holdsImage ? " (current)" : " (differs)") : "";
    switch (contents.kind) {
        case optionrom::ContentsKind::kBlank:
            return "    holds: blank" + status + "\n";
        case optionrom::ContentsKind::kNotOptionRom:
            return "    holds: not an option ROM" + status + "\n        " +
                   contents.rom.strProblem + "\n";
        case optionrom::ContentsKind::kOptionRom:
            break;
    }
    if (contents.rom.images.size() == 1 && contents.rom.images[0].deviceList.empty()) {
        return "    holds: option ROM " + optionrom::ImageText(contents.rom.images[0]) + status +
               "\n";
    }
    return "    holds: option ROM" + status + "\n" + RomImagesText(contents.rom, "        ");
}

std::string PartText(const ControllerReport& c) {
    return c.bIdentified ? c.strVendor + " " + c.strPart : std::string("flash part not identified");
}

// The length of one UTF-8 sequence starting at text[i], 0 when it is not valid there.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t n = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    return n;
}

// Writes a JSON document with the punctuation kept in one place.
class JsonWriter {
public:
    void Open(char bracket) {
        Separate();
        m_out += bracket;
        m_first = true;
    }
    void Close(char bracket) {
        m_out += bracket;
        m_first = false;
    }
    void Key(const char* name) {
        Separate();
        m_out += JsonString(name) + ":";
        m_afterKey = true;
    }
    void String(const std::string& value) { Raw(JsonString(value)); }
    void Number(long long value) { Raw(std::to_string(value)); }
    void Seconds(double value) {
        char text[32] = {};
        std::snprintf(text, sizeof text, "%.3f", value);
        Raw(text);
    }
    void Bool(bool value) { Raw(value ? "true" : "false"); }
    void Null() { Raw("null"); }
    std::string Take() { return m_out + "\n"; }

private:
    void Separate() {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (!m_first) m_out += ",";
        m_first = false;
    }
    void Raw(const std::string& text) {
        Separate();
        m_out += text;
    }
    std::string m_out;
    bool m_first = true;
    bool m_afterKey = false;
};

void OptionalString(JsonWriter& w, const std::string& text) {
    if (text.empty()) {
        w.Null();
    } else {
        w.String(text);
    }
}

// The images of an option ROM, in chain order.
void RomImagesJson(JsonWriter& w, const optionrom::RomCheck& rom) {
    w.Open('[');
    for (const optionrom::RomImage& image : rom.images) {
        w.Open('{');
        w.Key("offset");
        w.Number(image.dwOffset);
        w.Key("length");
        w.Number(image.dwLength);
        w.Key("pci_id");
        w.String(optionrom::PciIdText(image.usVendorId, image.usDeviceId));
        w.Key("device_list");
        w.Open('[');
        for (uint16_t device : image.deviceList) {
            w.String(optionrom::PciIdText(image.usVendorId, device));
        }
        w.Close(']');
        w.Key("class_code");
        w.String(Hex(image.dwClassCode, 6));
        w.Key("code_revision");
        w.String("0x" + Hex(image.usCodeRevision, 4));
        w.Key("code_type");
        w.String(optionrom::CodeTypeName(image.ucCodeType));
        w.Key("last");
        w.Bool(image.bLast);
        w.Close('}');
    }
    w.Close(']');
}

// What a flash holds: its kind, the images of an option ROM, or why it is none.
void FlashContentsJson(JsonWriter& w, const std::optional<optionrom::FlashContents>& contents) {
    if (!contents) {
        w.Null();
        return;
    }
    w.Open('{');
    w.Key("kind");
    w.String(optionrom::ContentsKindName(contents->kind));
    w.Key("images");
    RomImagesJson(w, contents->kind == optionrom::ContentsKind::kOptionRom ? contents->rom
                                                                           : optionrom::RomCheck{});
    w.Key("problem");
    OptionalString(w, contents->kind == optionrom::ContentsKind::kNotOptionRom
                          ? contents->rom.strProblem
                          : std::string());
    w.Close('}');
}

void ControllerJson(JsonWriter& w, const ControllerReport& c, ReportMode mode) {
    w.Open('{');
    w.Key("address");
    w.String(c.strAddress);
    w.Key("identifier_row");
    w.Number(c.ucIdRow + 1);
    w.Key("pci_id");
    w.String(Hex(c.usVendorId, 4) + ":" + Hex(c.usDeviceId, 4));
    w.Key("part");
    if (c.bIdentified) {
        w.Open('{');
        w.Key("vendor");
        w.String(c.strVendor);
        w.Key("name");
        w.String(c.strPart);
        w.Key("size");
        w.Number(c.dwSizeBytes);
        w.Close('}');
    } else {
        w.Null();
    }
    w.Key("id_command");
    if (c.idOpcode) {
        w.String(Hex(*c.idOpcode, 2));
    } else {
        w.Null();
    }
    w.Key("id_bytes");
    if (c.idOpcode) {
        w.String(IdBytesText(c));
    } else {
        w.Null();
    }
    w.Key("result");
    w.String(c.strResult);
    w.Key("result_code");
    w.Number(c.nResultCode);
    if (mode == ReportMode::kVerify) {
        w.Key("compared");
        if (c.compared) {
            w.Number(*c.compared);
        } else {
            w.Null();
        }
        w.Key("first_difference");
        if (c.firstDifference) {
            w.String("0x" + Hex(*c.firstDifference, 8));
        } else {
            w.Null();
        }
    }
    if (mode == ReportMode::kUpdate) {
        w.Key("attempts");
        w.Number(c.attempts.value_or(0));
        w.Key("seconds");
        w.Seconds(c.seconds.value_or(0.0));
    }
    w.Key("flash_contents");
    FlashContentsJson(w, c.flashContents);
    w.Key("image_status");
    if (c.holdsImage) {
        w.String(*c.holdsImage ? "current" : "differs");
    } else {
        w.Null();
    }
    w.Key("forced");
    OptionalString(w, c.strForced);
    w.Key("backup");
    if (c.strBackup.empty()) {
        w.Null();
    } else {
        w.String(c.strBackup);
    }
    w.Key("problem");
    if (c.strProblem.empty()) {
        w.Null();
    } else {
        w.String(c.strProblem);
    }
    w.Close('}');
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00" + Hex(c, 2);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out + "\"";
}

std::string ReportText(const Report& report) {
    std::string out;
    for (const ControllerReport& c : report.controllers) {
        if (report.mode == ReportMode::kVerify) {
            out += c.strAddress + "  " + PartText(c) + ": ";
            if (c.firstDifference) {
                out += "differs at 0x" + Hex(*c.firstDifference, 8);
            } else {
                out += c.strResult;
            }
            out += "\n";
        } else {
            out += c.strAddress + "  270X identifier row " + std::to_string(c.ucIdRow + 1) + " (" +
                   Hex(c.usVendorId, 4) + ":" + Hex(c.usDeviceId, 4) + ")\n";
            out += "    flash: " + PartText(c);
            if (c.bIdentified) out += ", " + SizeText(c.dwSizeBytes);
            out += "\n";
            if (c.idOpcode) {
                out += "    identification: " + IdBytesText(c) + " (command " +
                       Hex(*c.idOpcode, 2) + ")\n";
            }
            out += FlashContentsText(c);
        }
        if (!c.strBackup.empty()) out += "    backup: " + c.strBackup + "\n";
        if (!c.strProblem.empty()) out += "    " + c.strProblem + "\n";
        if (!c.strForced.empty()) out += "    written with --force: " + c.strForced + "\n";
    }
    if (report.image) {
        out += "image: " + report.image->strPath + "\n";
        out += "    " + std::to_string(report.image->dwFileBytes) + " bytes, sha256 " +
               report.image->strSha256 + "\n";
        const optionrom::RomCheck& rom = report.image->rom;
        if (rom.bWellFormed) {
            out += "    option ROM:\n" + RomImagesText(rom, "        ");
        } else {
            out += "    not a well-formed option ROM: " + rom.strProblem + "\n";
        }
    } else if (!report.strImageProblem.empty()) {
        out += "image: " + report.strImageProblem + "\n";
    }
    for (const std::string& warning : report.warnings) out += "warning: " + warning + "\n";
    return out;
}

std::string ReportJson(const Report& report, const std::string& strVersion) {
    JsonWriter w;
    w.Open('{');
    w.Key("format");
    w.Number(kJsonFormat);
    w.Key("program");
    w.String(kProgramName);
    w.Key("version");
    w.String(strVersion);
    w.Key("mode");
    w.String(admin::ModeName(report.mode));
    w.Key("exit_status");
    w.Number(report.nExitStatus);
    w.Key("outcome");
    w.String(admin::OutcomeText(report.mode, report.nExitStatus));
    w.Key("image");
    if (report.image) {
        w.Open('{');
        w.Key("path");
        w.String(report.image->strPath);
        w.Key("size");
        w.Number(report.image->dwFileBytes);
        w.Key("sha256");
        w.String(report.image->strSha256);
        w.Key("option_rom");
        w.Open('{');
        w.Key("well_formed");
        w.Bool(report.image->rom.bWellFormed);
        w.Key("problem");
        OptionalString(w, report.image->rom.strProblem);
        w.Key("images");
        RomImagesJson(w, report.image->rom);
        w.Close('}');
        w.Close('}');
    } else {
        w.Null();
    }
    w.Key("image_problem");
    if (report.strImageProblem.empty()) {
        w.Null();
    } else {
        w.String(report.strImageProblem);
    }
    w.Key("controllers");
    w.Open('[');
    for (const ControllerReport& c : report.controllers) ControllerJson(w, c, report.mode);
    w.Close(']');
    w.Key("warnings");
    w.Open('[');
    for (const std::string& warning : report.warnings) w.String(warning);
    w.Close(']');
    w.Close('}');
    return w.Take();
}

}  // namespace cli
