#include "Engine/CRC32Hash.h"

#include "Engine/Stream.h"

#include <array>
#include <memory>

namespace Corvane3D {

namespace {

constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

inline uint8_t LowerAscii(uint8_t byte)
{
    return (byte >= 'A' && byte <= 'Z') ? uint8_t(byte + ('a' - 'A')) : byte;
}

} // namespace

void CRC32Hash::AddByte(uint8_t byte)
{
    m_state = kTable[(m_state ^ byte) & 0xFF] ^ (m_state >> 8);
}

void CRC32Hash::AddData(const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t state = m_state;
    for (size_t i = 0; i < length; ++i)
        state = kTable[(state ^ bytes[i]) & 0xFF] ^ (state >> 8);
    m_state = state;
}

void CRC32Hash::AddString(const char* text, bool lowerCase)
{
    if (text == nullptr)
        return;
    for (const char* p = text; *p != '\0'; ++p) {
        uint8_t byte = static_cast<uint8_t>(*p);
        AddByte(lowerCase ? LowerAscii(byte) : byte);
    }
}

void CRC32Hash::AddString(const char* text, size_t count, bool lowerCase)
{
    if (text == nullptr)
        return;
    for (size_t i = 0; i < count && text[i] != '\0'; ++i) {
        uint8_t byte = static_cast<uint8_t>(text[i]);
        AddByte(lowerCase ? LowerAscii(byte) : byte);
    }
}

uint32_t CRC32Hash::GetHash(Stream* stream)
{
    CRC32Hash hash;
    if (stream == nullptr)
        return hash.GetHash();
    // A buffer per call rather than one shared by all: resources may be hashed off the main thread.
    auto buffer = std::make_unique_for_overwrite<unsigned char[]>(StreamPieceSize);
    for (;;) {
        size_t delivered = stream->Read(buffer.get(), StreamPieceSize);
        if (delivered == 0)
            break;
        hash.AddData(buffer.get(), delivered);
    }
    return hash.GetHash();
}

uint32_t CRC32Hash::HashString(const char* text, bool lowerCase)
{
    CRC32Hash hash;
    hash.AddString(text, lowerCase);
    return hash.GetHash();
}

} // namespace Corvane3D
