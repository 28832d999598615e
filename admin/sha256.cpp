#include "admin/sha256.h"

#include <openssl/evp.h>

namespace admin {

std::string Sha256Hex(const uint8_t* data, std::size_t size) {
    constexpr const char* kHexDigits = "0123456789abcdef";
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) return {};
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHexDigits[digest[i] >> 4];
        hex += kHexDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace admin
