#include "programs/linux/report_output.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "programs/linux/options.h"

namespace cli {
namespace {

using admin::ControllerReport;
using admin::Report;
using admin::ReportMode;

constexpr uint32_t kKiB = 1024;
constexpr double kMsPerSecond = 1000.0;

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

using Json = nlohmann::ordered_json;

// Whether the text is valid UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

// A text, or null when it is empty.
Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

// A file's path as its exact bytes in hexadecimal when it is not valid UTF-8 (the document's
// own text then has U+FFFD in their place), else null.
Json PathBytes(const std::string& path) {
    if (path.empty() || IsUtf8(path)) return nullptr;
    std::string hex;
    for (char c : path) hex += Hex(static_cast<unsigned char>(c), 2);
    return hex;
}

// The images of an option ROM, in chain order.
Json RomImagesJson(const optionrom::RomCheck& rom) {
    Json images = Json::array();
    for (const optionrom::RomImage& image : rom.images) {
        Json list = Json::array();
        for (uint16_t device : image.deviceList) {
            list.push_back(optionrom::PciIdText(image.usVendorId, device));
        }
        images.push_back(Json{{"offset", image.dwOffset},
                              {"length", image.dwLength},
                              {"pci_id", optionrom::PciIdText(image.usVendorId, image.usDeviceId)},
                              {"device_list", list},
                              {"class_code", Hex(image.dwClassCode, 6)},
                              {"code_revision", "0x" + Hex(image.usCodeRevision, 4)},
                              {"code_type", optionrom::CodeTypeName(image.ucCodeType)},
                              {"last", image.bLast}});
    }
    return images;
}

// What a flash holds: its kind, the images of an option ROM, or why it is none.
Json FlashContentsJson(const std::optional<optionrom::FlashContents>& contents) {
    if (!contents) return nullptr;
    const bool rom = contents->kind == optionrom::ContentsKind::kOptionRom;
    const bool none = contents->kind == optionrom::ContentsKind::kNotOptionRom;
    return Json{{"kind", optionrom::ContentsKindName(contents->kind)},
                {"images", RomImagesJson(rom ? contents->rom : optionrom::RomCheck{})},
                {"problem", TextOrNull(none ? contents->rom.strProblem : std::string())}};
}

Json ControllerJson(const ControllerReport& c, ReportMode mode) {
    Json j;
    j["address"] = c.strAddress;
    j["identifier_row"] = c.ucIdRow + 1;
    j["pci_id"] = Hex(c.usVendorId, 4) + ":" + Hex(c.usDeviceId, 4);
    j["part"] = nullptr;
    if (c.bIdentified) {
        j["part"] = Json{{"vendor", c.strVendor}, {"name", c.strPart}, {"size", c.dwSizeBytes}};
    }
    j["id_command"] = c.idOpcode ? Json(Hex(*c.idOpcode, 2)) : Json(nullptr);
    j["id_bytes"] = c.idOpcode ? Json(IdBytesText(c)) : Json(nullptr);
    j["result"] = c.strResult;
    j["result_code"] = c.nResultCode;
    if (mode == ReportMode::kVerify) {
        j["compared"] = c.compared ? Json(*c.compared) : Json(nullptr);
        j["first_difference"] =
            c.firstDifference ? Json("0x" + Hex(*c.firstDifference, 8)) : Json(nullptr);
    }
    if (mode == ReportMode::kUpdate) {
        j["attempts"] = c.attempts.value_or(0);
        // Milliseconds are what the run measures: three decimals, as a number.
        j["seconds"] = std::round(c.seconds.value_or(0.0) * kMsPerSecond) / kMsPerSecond;
    }
    j["flash_contents"] = FlashContentsJson(c.flashContents);
    j["image_status"] = c.holdsImage ? Json(*c.holdsImage ? "current" : "differs") : Json(nullptr);
    j["forced"] = TextOrNull(c.strForced);
    j["backup"] = TextOrNull(c.strBackup);
    j["problem"] = TextOrNull(c.strProblem);
    j["preflight"] = TextOrNull(c.strPreflight);
    j["backup_bytes"] = PathBytes(c.strBackup);
    return j;
}

}  // namespace

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
            out += "    result: " + c.strResult + "\n";
        }
        if (!c.strBackup.empty()) out += "    backup: " + c.strBackup + "\n";
        if (!c.strProblem.empty()) out += "    " + c.strProblem + "\n";
        // Only --list gives these lines, and it writes nothing: --force only lets the update.
        if (!c.strForced.empty())
            out += "    the update writes it with --force: " + c.strForced + "\n";
    }
    if (report.image) {
        out += "image: " + report.image->strPath + "\n";
        // The digest on a line of its own, so that it fits an 80-column console.
        out += "    " + std::to_string(report.image->dwFileBytes) + " bytes\n";
        out += "    sha256 " + report.image->strSha256 + "\n";
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
    Json j;
    j["format"] = kJsonFormat;
    j["program"] = kProgramName;
    j["version"] = strVersion;
    j["mode"] = admin::ModeName(report.mode);
    j["exit_status"] = report.nExitStatus;
    j["outcome"] = admin::OutcomeText(report.mode, report.nExitStatus);
    j["image"] = nullptr;
    if (report.image) {
        j["image"] = Json{{"path", report.image->strPath},
                          {"size", report.image->dwFileBytes},
                          {"sha256", report.image->strSha256},
                          {"path_bytes", PathBytes(report.image->strPath)},
                          {"option_rom", Json{{"well_formed", report.image->rom.bWellFormed},
                                              {"problem", TextOrNull(report.image->rom.strProblem)},
                                              {"images", RomImagesJson(report.image->rom)}}}};
    }
    j["image_problem"] = TextOrNull(report.strImageProblem);
    j["controllers"] = Json::array();
    for (const ControllerReport& c : report.controllers) {
        j["controllers"].push_back(ControllerJson(c, report.mode));
    }
    j["warnings"] = report.warnings;
    // Bytes that are not UTF-8 (a path's, say) become U+FFFD, so the document always parses.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace cli
