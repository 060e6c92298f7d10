#include "Engine/MD5Hash.h"

#include <cstring>

namespace Corvane3D {

namespace {

// floor(|sin(i + 1)| * 2^32)
constexpr uint32_t kSine[64] = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE,
    0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE,
    0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA,
    0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED,
    0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C,
    0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05,
    0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039,
    0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1,
    0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

// Left-rotation amounts, four per round.
constexpr unsigned kShift[4][4] = {
    {7, 12, 17, 22},
    {5, 9, 14, 20},
    {4, 11, 16, 23},
    {6, 10, 15, 21},
};

inline uint32_t RotateLeft(uint32_t value, unsigned count)
{
    return (value << count) | (value >> (32 - count));
}

inline uint32_t LoadLittleEndian(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
}

inline void StoreLittleEndian(uint8_t* bytes, uint32_t value)
{
    bytes[0] = uint8_t(value);
    bytes[1] = uint8_t(value >> 8);
    bytes[2] = uint8_t(value >> 16);
    bytes[3] = uint8_t(value >> 24);
}

} // namespace

void CMD5Hash::Reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xEFCDAB89;
    m_state[2] = 0x98BADCFE;
    m_state[3] = 0x10325476;
    m_byteCount = 0;
}

void CMD5Hash::Transform(uint32_t state[4], const uint32_t block[16])
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned round = i / 16;
        uint32_t mixed;
        unsigned word;
        switch (round) {
        case 0:
            mixed = (b & c) | (~b & d);
            word = i;
            break;
        case 1:
            mixed = (b & d) | (c & ~d);
            word = (5 * i + 1) % 16;
            break;
        case 2:
            mixed = b ^ c ^ d;
            word = (3 * i + 5) % 16;
            break;
        default:
            mixed = c ^ (b | ~d);
            word = (7 * i) % 16;
            break;
        }
        const uint32_t rotated = RotateLeft(a + mixed + kSine[i] + block[word], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void CMD5Hash::TransformBuffer()
{
    uint32_t words[16];
    for (unsigned i = 0; i < 16; ++i)
        words[i] = LoadLittleEndian(m_buffer + 4 * i);
    Transform(m_state, words);
}

void CMD5Hash::Update(const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t used = size_t(m_byteCount % 64);
    m_byteCount += length;
    while (length > 0) {
        const size_t take = length < 64 - used ? length : 64 - used;
        std::memcpy(m_buffer + used, bytes, take);
        used += take;
        bytes += take;
        length -= take;
        if (used == 64) {
            TransformBuffer();
            used = 0;
        }
    }
}

CMD5Hash::Digest CMD5Hash::Final()
{
    const uint64_t bitCount = m_byteCount * 8;
    size_t used = size_t(m_byteCount % 64);
    m_buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(m_buffer + used, 0, 64 - used);
        TransformBuffer();
        used = 0;
    }
    std::memset(m_buffer + used, 0, 56 - used);
    StoreLittleEndian(m_buffer + 56, uint32_t(bitCount));
    StoreLittleEndian(m_buffer + 60, uint32_t(bitCount >> 32));
    TransformBuffer();

    Digest digest;
    for (unsigned i = 0; i < 4; ++i)
        StoreLittleEndian(digest.data() + 4 * i, m_state[i]);
    Reset();
    return digest;
}

CMD5Hash::Digest CMD5Hash::Compute(const void* data, size_t length)
{
    CMD5Hash hash;
    hash.Update(data, length);
    return hash.Final();
}

} // namespace Corvane3D
