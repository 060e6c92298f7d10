#include "Engine/SHA256.h"

#include <cstring>

namespace Corvane3D {

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
constexpr uint32_t kRound[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5,
    0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3,
    0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC,
    0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7,
    0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13,
    0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3,
    0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5,
    0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208,
    0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2,
};

// The first 32 bits of the fractional parts of the square roots of the first 8 primes.
constexpr uint32_t kInitial[8] = {
    0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
    0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19,
};

inline uint32_t RotateRight(uint32_t value, unsigned count)
{
    return (value >> count) | (value << (32 - count));
}

inline uint32_t LoadBigEndian(const uint8_t* bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | uint32_t(bytes[3]);
}

inline void StoreBigEndian(uint8_t* bytes, uint32_t value)
{
    bytes[0] = uint8_t(value >> 24);
    bytes[1] = uint8_t(value >> 16);
    bytes[2] = uint8_t(value >> 8);
    bytes[3] = uint8_t(value);
}

} // namespace

void CSHA256::Reset()
{
    std::memcpy(m_state, kInitial, sizeof m_state);
    m_bufferLength = 0;
    m_bitCount = 0;
}

void CSHA256::TransformBuffer()
{
    uint32_t schedule[64];
    for (unsigned t = 0; t < 16; ++t)
        schedule[t] = LoadBigEndian(m_buffer + 4 * t);
    for (unsigned t = 16; t < 64; ++t) {
        const uint32_t w15 = schedule[t - 15], w2 = schedule[t - 2];
        const uint32_t sigma0 = RotateRight(w15, 7) ^ RotateRight(w15, 18) ^ (w15 >> 3);
        const uint32_t sigma1 = RotateRight(w2, 17) ^ RotateRight(w2, 19) ^ (w2 >> 10);
        schedule[t] = sigma1 + schedule[t - 7] + sigma0 + schedule[t - 16];
    }

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (unsigned t = 0; t < 64; ++t) {
        const uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const uint32_t choose = (e & f) ^ (~e & g);
        const uint32_t t1 = h + sum1 + choose + kRound[t] + schedule[t];
        const uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void CSHA256::Update(const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_bitCount += uint64_t(length) * 8;
    while (length > 0) {
        const size_t take = length < 64 - m_bufferLength ? length : 64 - m_bufferLength;
        std::memcpy(m_buffer + m_bufferLength, bytes, take);
        m_bufferLength += take;
        bytes += take;
        length -= take;
        if (m_bufferLength == 64) {
            TransformBuffer();
            m_bufferLength = 0;
        }
    }
}

CSHA256::Digest CSHA256::Final()
{
    const uint64_t bitCount = m_bitCount;
    m_buffer[m_bufferLength++] = 0x80;
    if (m_bufferLength > 56) {
        std::memset(m_buffer + m_bufferLength, 0, 64 - m_bufferLength);
        TransformBuffer();
        m_bufferLength = 0;
    }
    std::memset(m_buffer + m_bufferLength, 0, 56 - m_bufferLength);
    StoreBigEndian(m_buffer + 56, uint32_t(bitCount >> 32));
    StoreBigEndian(m_buffer + 60, uint32_t(bitCount));
    TransformBuffer();

    Digest digest;
    for (unsigned i = 0; i < 8; ++i)
        StoreBigEndian(digest.data() + 4 * i, m_state[i]);
    Reset();
    return digest;
}

CSHA256::Digest CSHA256::Compute(const void* data, size_t length)
{
    CSHA256 hash;
    hash.Update(data, length);
    return hash.Final();
}

std::string CSHA256::ToHex(const Digest& digest, bool upperCase)
{
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(2 * DigestSize);
    for (uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

} // namespace Corvane3D
