#include "Engine/CorvaneStream.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the wire encodings are written as native little-endian bytes");

namespace Corvane3D {

size_t Get7BitEncodedIntSize(uint32_t value)
{
    size_t size = 1;
    while (value > 127) {
        value >>= 7;
        ++size;
    }
    return size;
}

size_t GetStringSize(size_t byteCount)
{
    return byteCount + Get7BitEncodedIntSize(uint32_t(byteCount));
}


bool CBinaryWriter::WriteVector3D(const CVector3D& value)
{
    return WriteSingle(value.x) && WriteSingle(value.y) && WriteSingle(value.z);
}

bool CBinaryWriter::WriteVector3D(const CVector3D* values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (!WriteVector3D(values[i]))
            return false;
    }
    return true;
}

bool CBinaryWriter::Write7BitEncodedInt(uint32_t value)
{
    uint8_t bytes[5];
    size_t n = 0;
    while (value > 127) {
        bytes[n++] = uint8_t(value | 0x80);
        value >>= 7;
    }
    bytes[n++] = uint8_t(value);
    return Write(bytes, n);
}

bool CBinaryWriter::WriteString(const char* text)
{
    return WriteString(text, text ? std::strlen(text) : 0);
}

bool CBinaryWriter::WriteString(const char* text, size_t length)
{
    if (!text || length == 0)
        return WriteUInt8(0);
    // A count that does not fit the signed 32-bit prefix could never be read back.
    if (length > 0x7FFFFFFF)
        return false;
    return Write7BitEncodedInt(uint32_t(length)) && Write(text, length);
}

bool CBinaryWriter::Write(const void* data, size_t count)
{
    if (!m_stream || (!data && count))
        return false;
    return count == 0 || m_stream->Write(data, count) == count;
}


bool CBinaryReader::ReadBoolean(bool& value)
{
    uint8_t byte;
    if (!Get(byte))
        return false;
    value = byte != 0;
    return true;
}

bool CBinaryReader::ReadVector3D(CVector3D& value)
{
    float xyz[3];
    if (!GetArray(xyz, 3))
        return false;
    value = {xyz[0], xyz[1], xyz[2]};
    return true;
}

bool CBinaryReader::Read7BitEncodedInt(uint32_t& value)
{
    uint32_t result = 0;
    for (int i = 0; i < 5; ++i) {
        uint8_t byte;
        if (!Get(byte))
            return false;
        result |= uint32_t(byte & 0x7F) << (7 * i);
        if (!(byte & 0x80)) {
            value = result;
            return true;
        }
    }
    return false;
}

bool CBinaryReader::ReadString(std::string& text)
{
    uint32_t count;
    if (!Read7BitEncodedInt(count) || (count & 0x80000000u))
        return false;
    const uint64_t remaining = GetRemaining();
    if (count > remaining) {
        m_stream->Seek(0, SEEK_ORIGIN_END);
        return false;
    }
    std::string result(count, '\0');
    if (count && m_stream->Read(result.data(), count) != count)
        return false;
    text = std::move(result);
    return true;
}

bool CBinaryReader::Read(void* buffer, size_t count)
{
    if (!m_stream || (!buffer && count))
        return false;
    if (count > GetRemaining())
        return false;
    return count == 0 || m_stream->Read(buffer, count) == count;
}

bool CBinaryReader::Read(std::vector<uint8_t>& bytes, size_t count)
{
    if (!m_stream || count > GetRemaining())
        return false;
    std::vector<uint8_t> result(count);
    if (count && m_stream->Read(result.data(), count) != count)
        return false;
    bytes = std::move(result);
    return true;
}

bool CBinaryReader::Skip(size_t count)
{
    if (!m_stream || count > GetRemaining())
        return false;
    return m_stream->Seek(int64_t(count), SEEK_ORIGIN_CURRENT);
}

} // namespace Corvane3D
