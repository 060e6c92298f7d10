#pragma once
// SHA-256 (FIPS 180-4): the digest behind the hash names of client files.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane3D {

// A running SHA-256 digest fed in pieces of any size.
class CSHA256 {
public:
    static constexpr size_t DigestSize = 32;
    using Digest = std::array<uint8_t, DigestSize>;

    CSHA256() { Reset(); }

    void Reset();
    void Update(const void* data, size_t length);
    // Pads, returns the digest and starts over, so the object can hash the next input.
    Digest Final();

    static Digest Compute(const void* data, size_t length);
    // The digest as 64 hexadecimal digits.
    static std::string ToHex(const Digest& digest, bool upperCase);

private:
    void TransformBuffer();

    uint32_t m_state[8];
    uint8_t m_buffer[64];
    size_t m_bufferLength;
    uint64_t m_bitCount;
};

} // namespace Corvane3D
