// Locating, loading and checking the firmware image file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/platform.h"

inline constexpr std::size_t kFoundNameBytes = 512;      // the caller's found-name buffer
inline constexpr std::size_t kFoundNameCopyBytes = 260;  // at most this much of it is used
inline constexpr const char* kImageExtensionLower = ".rom";
inline constexpr const char* kImageExtensionUpper = ".ROM";
inline constexpr const char* kPathCheckFailedText = "File/Path is not exist";

// Searches for the image file with a pattern (an optional folder, a separator, a wildcard
// name). Takes the first listed entry whose extension is exactly the pattern's and opens it by
// its bare name, relative to the current directory, for shared reading. Returns the open file,
// with its bare name in pszFoundName (kFoundNameBytes); null, with an empty name, when no entry
// qualifies or the first qualifying one cannot be opened (no later entry is tried).
std::unique_ptr<framework::File> FindFWBinFile(char* pszFoundName, const char* pszPattern);

// Locates the image as the upgrade run does: "<folder><sep>*.rom" first, then "*.ROM" against
// the current directory. Returns the bare name found; empty when neither search found one.
std::string LocateFWBinFile(const char* pszModuleDir);

// The full path of a file in the folder: "<folder><sep><name>".
std::string FWFullName(const char* pszModuleDir, const std::string& strName);

// True when the path exists and may be both read and written. Otherwise false, and when
// bShowMessage is set a message box shows the path, one space and "File/Path is not exist".
bool bCheckFilePath(bool bShowMessage, std::string strPath);
