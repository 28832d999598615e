#include "admin/sha256.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace admin {

std::string Sha256Hex(const uint8_t* data, std::size_t size) {
    constexpr const char* kHexDigits = "0123456789abcdef";
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    const bool bMade = EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) == 1;
    // libcrypto keeps state per thread; the image is hashed on the run's worker thread, which
    // the process may outlive by very little: release that state now rather than at the
    // thread's end, which a quick exit never reaches.
    OPENSSL_thread_stop();
    if (!bMade) return {};
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHexDigits[digest[i] >> 4];
        hex += kHexDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace admin
