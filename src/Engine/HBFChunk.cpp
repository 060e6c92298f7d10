#include "Engine/CorvaneHBF.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Stream.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <mutex>
#include <unordered_map>

namespace Corvane3D {

namespace {

// The fewest bytes a chunk record can take: a one-byte name count, the sizes and the child count.
constexpr uint64_t kMinRecordSize = 1 + 4 + 4;
constexpr uint64_t kMinLegacyRecordSize = 2 + 1 + 4 + 4 + 2;
constexpr uint64_t kTypeIdSize = 4;

bool Fail(std::string& reason, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool Fail(std::string& reason, const char* format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    reason = text;
    return false;
}

// Names match without regard to ASCII letter case, over their full length.
bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The chunk registry: small ids in a table, the rest in a hash map.
class CChunkRegistry {
public:
    CChunkRegistry()
    {
        Register(CHUNK_DATA, [] { return std::unique_ptr<CChunk>(std::make_unique<CDataChunk>()); });
        Register(CHUNK_IMAGEDATA, [] { return std::unique_ptr<CChunk>(std::make_unique<CImageDataChunk>()); });
        Register(CHUNK_HISTORY, [] { return std::unique_ptr<CChunk>(std::make_unique<CHistoryChunk>()); });
        Register(CHUNK_TEXTURE, [] { return std::unique_ptr<CChunk>(std::make_unique<CTextureChunk>()); });
        Register(CHUNK_ELEMENT, [] { return std::unique_ptr<CChunk>(std::make_unique<CElementChunk>()); });
    }

    void Register(uint32_t type, ChunkFactory factory)
    {
        std::lock_guard lock(m_lock);
        if (type < m_table.size())
            m_table[type] = factory;
        else if (factory)
            m_others[type] = factory;
        else
            m_others.erase(type);
    }

    ChunkFactory Find(uint32_t type)
    {
        std::lock_guard lock(m_lock);
        if (type < m_table.size())
            return m_table[type];
        const auto found = m_others.find(type);
        return found != m_others.end() ? found->second : nullptr;
    }

private:
    std::mutex m_lock;
    std::array<ChunkFactory, 256> m_table{};
    std::unordered_map<uint32_t, ChunkFactory> m_others;
};

CChunkRegistry& Registry()
{
    static CChunkRegistry registry;
    return registry;
}

} // namespace

// ---- CChunk ----

CChunk::CChunk(uint32_t type) : m_type(type)
{
}

CChunk::~CChunk()
{
    for (const auto& child : m_children)
        child->m_parent = nullptr;
}

CChunk* CChunk::AddChild(std::unique_ptr<CChunk> child)
{
    if (!child || child->m_parent)
        return nullptr;
    child->m_parent = this;
    child->m_index = m_children.size();
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

std::unique_ptr<CChunk> CChunk::Orphan()
{
    if (!m_parent)
        return nullptr;
    auto& siblings = m_parent->m_children;
    const auto found =
        std::find_if(siblings.begin(), siblings.end(), [this](const auto& sibling) { return sibling.get() == this; });
    m_parent = nullptr;
    m_index = 0;
    if (found == siblings.end())
        return nullptr;
    std::unique_ptr<CChunk> self = std::move(*found);
    // Later siblings move up, so searching again from a found child's index + 1 skips nothing.
    for (auto next = siblings.erase(found); next != siblings.end(); ++next)
        (*next)->m_index = uint64_t(next - siblings.begin());
    return self;
}

CChunk* CChunk::FindChunk(uint32_t type, size_t start, std::string_view name, bool byName) const
{
    for (size_t i = start; i < m_children.size(); ++i) {
        CChunk* child = m_children[i].get();
        if (child->m_type == type && (!byName || EqualsNoCase(child->m_name, name)))
            return child;
    }
    return nullptr;
}

bool CChunk::ReadData(Stream*)
{
    return true;
}

bool CChunk::WriteData(Stream*) const
{
    return true;
}

bool CChunk::Read(Stream* stream, std::string* reason)
{
    std::string why;
    const bool read = stream ? ReadRecord(stream, 0, why) : Fail(why, "no stream to read");
    if (!read && reason)
        *reason = std::move(why);
    return read;
}

bool CChunk::ReadRecord(Stream* stream, unsigned depth, std::string& reason)
{
    // One stack frame per level: a few bytes per level must not be able to exhaust the stack.
    if (depth > MaxChunkDepth)
        return Fail(reason, "chunks are nested deeper than %u levels", MaxChunkDepth);
    if (m_version < 6 || m_version > 8)
        return Fail(reason, "chunk format version %u is not known", m_version);
    const bool legacy = m_version == 6;
    CBinaryReader reader(stream);

    uint16_t headerLength = 0;
    if (legacy && !reader.ReadUInt16(headerLength))
        return Fail(reason, "truncated chunk header");

    const uint64_t nameStart = stream->Tell();
    uint32_t nameLength;
    if (reader.Read7BitEncodedInt(nameLength)) {
        // Checked before the name is allocated.
        if (nameLength > MaxChunkNameLength)
            return Fail(reason, "chunk name of %u bytes is longer than %u", nameLength, MaxChunkNameLength);
        if (nameLength > reader.GetRemaining())
            return Fail(reason, "truncated chunk name");
        std::string name(nameLength, '\0');
        if (!reader.Read(name.data(), nameLength))
            return Fail(reason, "truncated chunk name");
        m_name = std::move(name);
    }
    // A name whose count cannot be read leaves the name empty; the reads that follow decide.

    if (legacy) {
        // The header length counts the name; a name longer than the header must not make the
        // remainder wrap around to a skip of nearly 64 KB.
        const uint64_t nameSize = stream->Tell() - nameStart;
        if (nameSize > headerLength)
            return Fail(reason, "chunk header of %u bytes is shorter than its name", unsigned(headerLength));
        if (!reader.Skip(size_t(headerLength - nameSize)))
            return Fail(reason, "truncated chunk header");
    }

    uint32_t total = 0;
    if (legacy && !reader.ReadUInt32(total))
        return Fail(reason, "truncated chunk header");
    uint32_t dataSize;
    if (!reader.ReadUInt32(dataSize))
        return Fail(reason, "truncated chunk header");
    // The total counts the data size field and the data block; a smaller one would wrap around.
    if (legacy && (total < 4 || total - 4 < dataSize))
        return Fail(reason, "chunk \"%s\" has a total size of %u bytes, less than its data block of %u bytes",
                    m_name.c_str(), total, dataSize);

    // A block may not claim more than the document holds; checked before any chunk class reads
    // (and allocates) it.
    const uint64_t dataStart = stream->Tell();
    if (dataSize > reader.GetRemaining())
        return Fail(reason, "data block of %u bytes of chunk \"%s\" runs past the end of the document", dataSize,
                    m_name.c_str());
    if (!ReadData(MakeStrong<CStreamRangeStream>(stream, dataStart, dataSize)))
        return Fail(reason, "data of chunk \"%s\" (type %u) could not be read", m_name.c_str(), m_type);
    if (!stream->Seek(int64_t(dataStart + dataSize), SEEK_ORIGIN_BEGIN))
        return Fail(reason, "data block of chunk \"%s\" runs past the end of the document", m_name.c_str());

    if (legacy) {
        const uint32_t rest = total - 4 - dataSize;
        if (rest && !reader.Skip(rest))
            return Fail(reason, "chunk \"%s\" runs past the end of the document", m_name.c_str());
    }

    uint32_t count;
    if (legacy) {
        uint16_t shortCount;
        if (!reader.ReadUInt16(shortCount))
            return Fail(reason, "truncated child count of chunk \"%s\"", m_name.c_str());
        count = shortCount;
    } else if (!reader.ReadUInt32(count)) {
        return Fail(reason, "truncated child count of chunk \"%s\"", m_name.c_str());
    }
    return ReadChildren(stream, count, depth, reason);
}

bool CChunk::ReadChildren(Stream* stream, uint32_t count, unsigned depth, std::string& reason)
{
    // Every child takes some bytes, so a count the document has no room for is refused at once.
    const uint64_t smallest = kTypeIdSize + (m_version == 6 ? kMinLegacyRecordSize : kMinRecordSize);
    if (count > stream->GetRemaining() / smallest)
        return Fail(reason, "chunk \"%s\" claims %u children, more than the document has room for", m_name.c_str(),
                    count);
    CBinaryReader reader(stream);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t type;
        if (!reader.ReadUInt32(type))
            return Fail(reason, "truncated child %u of chunk \"%s\"", i, m_name.c_str());
        std::unique_ptr<CChunk> child = CChunkTypes::_Create(type);
        child->m_index = m_children.size();
        child->m_version = m_version;
        child->m_parent = this;
        if (!child->ReadRecord(stream, depth + 1, reason)) {
            child->m_parent = nullptr;
            return false;
        }
        m_children.push_back(std::move(child));
    }
    return true;
}

bool CChunk::Write(Stream* stream) const
{
    return stream && WriteRecord(stream, 0);
}

bool CChunk::WriteRecord(Stream* stream, unsigned depth) const
{
    // Nothing is written that the readers would refuse.
    if (depth > MaxChunkDepth || m_name.size() > MaxChunkNameLength ||
        m_children.size() > std::numeric_limits<uint32_t>::max())
        return false;
    auto data = MakeStrong<CUnlimitedStream>();
    if (!WriteData(data) || data->GetLength() > std::numeric_limits<uint32_t>::max())
        return false;
    CBinaryWriter writer(stream);
    if (!writer.WriteString(m_name) || !writer.WriteUInt32(uint32_t(data->GetLength())) ||
        !writer.Write(data->GetData(), data->GetLength()) || !writer.WriteUInt32(uint32_t(m_children.size())))
        return false;
    for (const auto& child : m_children) {
        if (!writer.WriteUInt32(child->m_type) || !child->WriteRecord(stream, depth + 1))
            return false;
    }
    return true;
}

// ---- Chunk classes ----

bool CDataChunk::ReadData(Stream* stream)
{
    const uint64_t size = stream ? stream->GetRemaining() : 0;
    if (size > MaxChunkDocumentSize)
        return false;
    std::vector<uint8_t> bytes;
    if (size && !CBinaryReader(stream).Read(bytes, size_t(size)))
        return false;
    m_data = std::move(bytes);
    return true;
}

bool CDataChunk::WriteData(Stream* stream) const
{
    return CBinaryWriter(stream).Write(m_data.data(), m_data.size());
}

void CDataChunk::SetData(const void* data, size_t size)
{
    if (!data || size == 0) {
        std::vector<uint8_t>().swap(m_data);
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_data.assign(bytes, bytes + size);
}

bool CHistoryChunk::ReadData(Stream* stream)
{
    const uint64_t size = stream ? stream->GetRemaining() : 0;
    if (size > MaxChunkDocumentSize)
        return false;
    std::string text(size_t(size), '\0');
    if (size && !CBinaryReader(stream).Read(text.data(), text.size()))
        return false;
    m_text = std::move(text);
    return true;
}

bool CHistoryChunk::WriteData(Stream* stream) const
{
    return CBinaryWriter(stream).Write(m_text.data(), m_text.size());
}

bool CTextureChunk::ReadData(Stream* stream)
{
    if (!stream || stream->GetRemaining() == 0) {
        m_width = m_height = 0;
        m_parameters[0] = m_parameters[1] = m_parameters[2] = 0;
        return true;
    }
    CBinaryReader reader(stream);
    uint16_t width, height;
    uint32_t parameters[3];
    if (!reader.ReadUInt16(width) || !reader.ReadUInt16(height) || !reader.ReadUInt32(parameters, 3))
        return false;
    m_width = width;
    m_height = height;
    std::copy(parameters, parameters + 3, m_parameters);
    return true;
}

bool CTextureChunk::WriteData(Stream* stream) const
{
    CBinaryWriter writer(stream);
    return writer.WriteUInt16(m_width) && writer.WriteUInt16(m_height) && writer.WriteUInt32(m_parameters, 3);
}

// ---- Registry ----

void CChunkTypes::RegisterCustomChunk(uint32_t type, ChunkFactory factory)
{
    Registry().Register(type, factory);
}

std::unique_ptr<CChunk> CChunkTypes::_Create(uint32_t type)
{
    std::unique_ptr<CChunk> chunk;
    if (ChunkFactory factory = Registry().Find(type))
        chunk = factory();
    if (!chunk)
        chunk = std::make_unique<CDataChunk>(type);
    chunk->m_type = type;
    return chunk;
}

} // namespace Corvane3D
