#pragma once
// The wire and file encodings: little-endian scalars, IEEE reals, VarUInt and strings.

#include "Engine/Mathematics/Vector.h"
#include "Engine/Stream.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace Corvane3D {

// Size of v as a VarUInt: 1 for 0..127, 2 for 128..16383, up to 5.
size_t Get7BitEncodedIntSize(uint32_t value);
// Size of a String of n bytes.
size_t GetStringSize(size_t byteCount);

class CBinaryWriter {
public:
    explicit CBinaryWriter(Stream* stream) : m_stream(stream) {}

    bool WriteUInt8(uint8_t value) { return Put(value); }
    bool WriteInt8(int8_t value) { return Put(value); }
    bool WriteUInt16(uint16_t value) { return Put(value); }
    bool WriteInt16(int16_t value) { return Put(value); }
    bool WriteUInt32(uint32_t value) { return Put(value); }
    bool WriteInt32(int32_t value) { return Put(value); }
    bool WriteUInt64(uint64_t value) { return Put(value); }
    bool WriteInt64(int64_t value) { return Put(value); }
    bool WriteSingle(float value) { return Put(value); }
    bool WriteDouble(double value) { return Put(value); }
    bool WriteBoolean(bool value) { return Put(uint8_t(value ? 1 : 0)); }
    bool WriteVector3D(const CVector3D& value);

    // Array forms: `count` elements back to back, no count prefix.
    bool WriteUInt8(const uint8_t* values, size_t count) { return PutArray(values, count); }
    bool WriteUInt16(const uint16_t* values, size_t count) { return PutArray(values, count); }
    bool WriteUInt32(const uint32_t* values, size_t count) { return PutArray(values, count); }
    bool WriteInt32(const int32_t* values, size_t count) { return PutArray(values, count); }
    bool WriteSingle(const float* values, size_t count) { return PutArray(values, count); }
    bool WriteVector3D(const CVector3D* values, size_t count);

    bool Write7BitEncodedInt(uint32_t value);
    // The byte count as VarUInt, then the bytes; true only when everything was accepted.
    bool WriteString(const char* text);
    bool WriteString(const char* text, size_t length);
    bool WriteString(std::string_view text) { return WriteString(text.data(), text.size()); }
    // Raw bytes; true only when all were accepted.
    bool Write(const void* data, size_t count);

    Stream* GetStream() const { return m_stream; }

private:
    template <typename T>
    bool Put(T value);
    template <typename T>
    bool PutArray(const T* values, size_t count);

    Strong<Stream> m_stream;
};

// Every read needs the full width of its value: a read that meets the end fails and leaves
// the target unchanged, so a truncated message can never pass as a complete one.
class CBinaryReader {
public:
    explicit CBinaryReader(Stream* stream) : m_stream(stream) {}

    bool ReadUInt8(uint8_t& value) { return Get(value); }
    bool ReadInt8(int8_t& value) { return Get(value); }
    bool ReadUInt16(uint16_t& value) { return Get(value); }
    bool ReadInt16(int16_t& value) { return Get(value); }
    bool ReadUInt32(uint32_t& value) { return Get(value); }
    bool ReadInt32(int32_t& value) { return Get(value); }
    bool ReadUInt64(uint64_t& value) { return Get(value); }
    bool ReadInt64(int64_t& value) { return Get(value); }
    bool ReadSingle(float& value) { return Get(value); }
    bool ReadDouble(double& value) { return Get(value); }
    // Any non-zero byte reads as true.
    bool ReadBoolean(bool& value);
    bool ReadVector3D(CVector3D& value);

    bool ReadUInt8(uint8_t* values, size_t count) { return GetArray(values, count); }
    bool ReadUInt16(uint16_t* values, size_t count) { return GetArray(values, count); }
    bool ReadUInt32(uint32_t* values, size_t count) { return GetArray(values, count); }
    bool ReadInt32(int32_t* values, size_t count) { return GetArray(values, count); }
    bool ReadSingle(float* values, size_t count) { return GetArray(values, count); }

    // Fails on end of data and when a fifth byte still has bit 7 set.
    bool Read7BitEncodedInt(uint32_t& value);
    // Fails when the count has bit 31 set or exceeds the bytes that remain; nothing is
    // allocated before that check. On a short string the available bytes are consumed.
    bool ReadString(std::string& text);
    // Exactly `count` raw bytes.
    bool Read(void* buffer, size_t count);
    bool Read(std::vector<uint8_t>& bytes, size_t count);
    // Advances past `count` bytes; false when fewer remain.
    bool Skip(size_t count);

    uint64_t GetRemaining() const { return m_stream ? m_stream->GetRemaining() : 0; }
    Stream* GetStream() const { return m_stream; }

private:
    template <typename T>
    bool Get(T& value);
    template <typename T>
    bool GetArray(T* values, size_t count);

    Strong<Stream> m_stream;
};

// One stream call per value; a read or write that moves fewer bytes than the width fails.
template <typename T>
inline bool CBinaryWriter::Put(T value)
{
    return m_stream && m_stream->Write(&value, sizeof(T)) == sizeof(T);
}

template <typename T>
inline bool CBinaryWriter::PutArray(const T* values, size_t count)
{
    if (!m_stream || (!values && count))
        return false;
    return count == 0 || m_stream->Write(values, sizeof(T) * count) == sizeof(T) * count;
}

template <typename T>
inline bool CBinaryReader::Get(T& value)
{
    if (!m_stream)
        return false;
    unsigned char bytes[sizeof(T)];
    if (m_stream->Read(bytes, sizeof(T)) != sizeof(T))
        return false;
    std::memcpy(&value, bytes, sizeof(T));
    return true;
}

template <typename T>
inline bool CBinaryReader::GetArray(T* values, size_t count)
{
    if (!m_stream || (!values && count))
        return false;
    if (count > GetRemaining() / sizeof(T))
        return false;
    return count == 0 || m_stream->Read(values, sizeof(T) * count) == sizeof(T) * count;
}

} // namespace Corvane3D
