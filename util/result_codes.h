// Result codes of the flash and file routines, and their texts.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t kResultSuccess = 0;
inline constexpr int32_t kResultTimedOut = -1;            // "Operation timed out"
inline constexpr int32_t kResultTransferError = -2;       // "Transfer error"
inline constexpr int32_t kResultDataNotMatch = -3;        // "Data not match"
inline constexpr int32_t kResultInvalidParameter = -4;    // "Invalid parameter"
inline constexpr int32_t kResultInsufficientMemory = -5;  // "Insufficient memory"
inline constexpr int32_t kResultEntityNotFound = -6;      // "Entity not found"

// The text of a result code; success and unknown codes read "Unknown error".
std::string GetResultString(int32_t code);
