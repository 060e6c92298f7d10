#pragma once
// MD5 (RFC 1321): the digest of the anticheat's file checks.

#include <array>
#include <cstddef>
#include <cstdint>

namespace Corvane3D {

// A running MD5 digest fed in pieces of any size.
class CMD5Hash {
public:
    static constexpr size_t DigestSize = 16;
    using Digest = std::array<uint8_t, DigestSize>;

    CMD5Hash() { Reset(); }

    void Reset();
    void Update(const void* data, size_t length);
    // Pads, returns the digest and starts over, so the object can hash the next input.
    Digest Final();

    // The block function: folds one 64-byte block, given as sixteen little-endian words, into the state.
    static void Transform(uint32_t state[4], const uint32_t block[16]);

    static Digest Compute(const void* data, size_t length);

private:
    void TransformBuffer();

    uint32_t m_state[4];
    uint64_t m_byteCount;
    uint8_t m_buffer[64];
};

} // namespace Corvane3D
