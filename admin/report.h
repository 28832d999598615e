// What an administrative run found and did, for the program to print as text or JSON.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace admin {

enum class ReportMode { kList, kVerify, kUpdate };

// The image as written: its path, the bytes of its file and their SHA-256.
struct ImageDescription {
    std::string strPath;
    uint32_t dwFileBytes = 0;
    std::string strSha256;  // 64 lower-case hexadecimal digits
};

struct ControllerReport {
    std::string strAddress;  // "0000:02:00.0"
    uint8_t ucIdRow = 0;     // identifier row matched, 0 for the first
    uint16_t usVendorId = 0;
    uint16_t usDeviceId = 0;
    bool bIdentified = false;
    std::string strVendor;  // flash maker and part, when identified
    std::string strPart;
    std::optional<uint8_t> idOpcode;  // the identification command and its answer, when read
    std::array<uint8_t, 3> idBytes{};
    uint32_t dwSizeBytes = 0;  // the flash's size, when identified
    // "ready", "not identified", "cannot be updated", "backup failed" (list); "matches", "differs",
    // "unreadable", "not identified" (verify); "updated", "not updated" (update).
    std::string strResult;
    // list: the pre-flight verdict's word ("ready", "image-too-large", "part-not-identified",
    // "image-not-openable", "backup-failed"); empty where no verdict was made.
    std::string strPreflight;
    int32_t nResultCode = 0;
    std::optional<uint32_t> firstDifference;  // verify: the first address that differs
    std::optional<uint32_t> compared;         // verify: bytes compared from address 0
    std::optional<unsigned> attempts;         // update: erase-write-compare attempts made
    std::optional<double> seconds;            // update: time spent on its flash
    std::string strBackup;                    // the backup made of it, if any
    std::string strProblem;                   // what went wrong with it, for the administrator
};

struct Report {
    ReportMode mode = ReportMode::kList;
    int nExitStatus = 0;
    std::optional<ImageDescription> image;  // none when no image was loaded
    std::string strImageProblem;            // why not
    std::vector<ControllerReport> controllers;
    std::vector<std::string> warnings;
};

// The meaning of an exit status in a mode, as the report states it.
std::string OutcomeText(ReportMode mode, int nExitStatus);
// "list", "verify", "update".
const char* ModeName(ReportMode mode);

}  // namespace admin
