// SHA-256 (FIPS 180-4), for naming what an image holds the way sha256sum prints it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace admin {

inline constexpr std::size_t kSha256Bytes = 32;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;

// A digest computed over data given in any number of pieces.
class Sha256 {
public:
    Sha256();
    // Adds the next size bytes of the message.
    void Update(const uint8_t* data, std::size_t size);
    // Ends the message and returns its digest; the object starts over afterwards.
    Sha256Digest Final();

private:
    static constexpr std::size_t kBlockBytes = 64;
    void Reset();
    void Compress(const uint8_t* block);

    std::array<uint32_t, 8> m_state{};
    std::array<uint8_t, kBlockBytes> m_block{};
    std::size_t m_blockUsed = 0;
    uint64_t m_totalBytes = 0;
};

// The digest as 64 lower-case hexadecimal digits.
std::string HexDigest(const Sha256Digest& digest);
// The digest of data as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, std::size_t size);

}  // namespace admin
