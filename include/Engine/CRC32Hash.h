#pragma once
// CRC-32 (IEEE 802.3, reflected): the key under which the engine files everything that has a name.

#include <cstddef>
#include <cstdint>

namespace Corvane3D {

class Stream;

// A running CRC-32; the hash of nothing is 0 and the hash of some bytes is their standard CRC-32.
class CRC32Hash {
public:
    static constexpr size_t StreamPieceSize = 1048576;

    void Reset() { m_state = 0xFFFFFFFFu; }

    void AddByte(uint8_t byte);
    void AddData(const void* data, size_t length);

    // Adds the bytes of a nul-terminated text (null adds nothing). Lower-casing changes only A-Z,
    // whatever locale the process runs in, so keys do not depend on the environment.
    void AddString(const char* text, bool lowerCase);
    // Adds at most `count` bytes, stopping early at a zero byte.
    void AddString(const char* text, size_t count, bool lowerCase);

    uint32_t GetHash() const { return ~m_state; }

    // The CRC-32 of everything the stream delivers from its position to its end, read in pieces
    // of StreamPieceSize. Each call has its own buffer, so any thread may call it.
    static uint32_t GetHash(Stream* stream);

    // The key of one name.
    static uint32_t HashString(const char* text, bool lowerCase);

private:
    uint32_t m_state = 0xFFFFFFFFu;
};

} // namespace Corvane3D
