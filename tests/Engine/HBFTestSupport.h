#pragma once
// Shared by the chunk and element document tests: a byte builder for chunked documents and a
// loader that reports why a load failed.

#include "Engine/CorvaneHBF.h"
#include "Engine/Stream.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace HBFTest {

// Little-endian fields of the chunked format, appended in order.
struct Builder {
    std::string bytes;

    Builder& U8(uint8_t value)
    {
        bytes += char(value);
        return *this;
    }
    Builder& U16(uint16_t value) { return Put(&value, sizeof value); }
    Builder& U32(uint32_t value) { return Put(&value, sizeof value); }
    Builder& I32(int32_t value) { return Put(&value, sizeof value); }
    Builder& VarUInt(uint32_t value)
    {
        do {
            uint8_t byte = value & 0x7F;
            value >>= 7;
            U8(value ? byte | 0x80 : byte);
        } while (value);
        return *this;
    }
    // The String encoding: VarUInt byte count, then the bytes.
    Builder& Text(const std::string& text)
    {
        VarUInt(uint32_t(text.size()));
        bytes += text;
        return *this;
    }
    Builder& Raw(const std::string& raw)
    {
        bytes += raw;
        return *this;
    }

private:
    Builder& Put(const void* data, size_t size)
    {
        bytes.append(static_cast<const char*>(data), size);
        return *this;
    }
};

struct Child {
    uint32_t type;
    std::string record;
};

// A chunk record of versions 7 and 8.
inline std::string Record(const std::string& name, const std::string& data, const std::vector<Child>& children = {})
{
    Builder b;
    b.Text(name).U32(uint32_t(data.size())).Raw(data).U32(uint32_t(children.size()));
    for (const Child& child : children)
        b.U32(child.type).Raw(child.record);
    return b.bytes;
}

// An element's data block: its text, then string attributes.
inline std::string ElementData(const std::string& text, const std::vector<std::pair<std::string, std::string>>& attributes = {})
{
    Builder b;
    b.Text(text).VarUInt(uint32_t(attributes.size()));
    for (const auto& [key, value] : attributes)
        b.U8(2).Text(key).Text(value);
    return b.bytes;
}

// The body of a document: the root type id and a root record whose children are given.
inline std::string Body(const std::vector<Child>& children)
{
    return Builder().U32(0).Raw(Record("", "", children)).bytes;
}

// File header for a version and compression byte, then the body as given.
inline std::string Document(uint32_t version, uint8_t compression, const std::string& body)
{
    Builder b;
    b.Raw("HBF").U8(compression).U32(version);
    if (version > 7)
        b.U32(0);
    return b.Raw(body).bytes;
}

// The zlib form of a body: sizes, the kept value and the compressed bytes.
inline std::string Compressed(const std::string& body)
{
    uLongf packedSize = compressBound(uLong(body.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(body.data()),
              uLong(body.size()), Z_DEFAULT_COMPRESSION);
    packed.resize(packedSize);
    return Builder().U32(uint32_t(body.size())).U32(uint32_t(packed.size())).I32(7).Raw(packed).bytes;
}

inline std::unique_ptr<Corvane3D::CElementChunk> Load(const std::string& bytes, std::string* reason = nullptr)
{
    auto stream = Corvane3D::MakeStrong<Corvane3D::CMemoryStream>(bytes.data(), bytes.size());
    std::string why;
    auto element = Corvane3D::CElementChunk::Load(stream, why);
    if (reason)
        *reason = why;
    return element;
}

inline std::string Saved(const Corvane3D::CElementChunk& element,
                         Corvane3D::eChunkCompression compression = Corvane3D::CHUNK_COMPRESSION_NONE)
{
    auto stream = Corvane3D::MakeStrong<Corvane3D::CUnlimitedStream>();
    if (!element.Save(stream, compression))
        return {};
    return std::string(reinterpret_cast<const char*>(stream->GetData()), stream->GetLength());
}

} // namespace HBFTest
