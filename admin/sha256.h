// SHA-256 of what an image holds, the way sha256sum prints it (the system's libcrypto).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace admin {

// The digest of data as 64 lower-case hexadecimal digits; empty if libcrypto could not make it.
std::string Sha256Hex(const uint8_t* data, std::size_t size);

}  // namespace admin
