// Element chunks and whole documents: loading chunked files and XML text, writing chunked files.
#include "Engine/CorvaneHBF.h"

#include "ElementXML.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Stream.h"
#include "Engine/TextStream.h"

#include <zlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

namespace Corvane3D {

namespace {

// Deflate cannot expand data by more than about 1032 to 1; a larger claim is a lie.
constexpr uint64_t kMaxInflateRatio = 1032;

enum class eChunkedResult {
    Failed,    // the records could not be read; the text is tried as XML
    NoElement, // read, but the first chunk is no element: the load fails
    Loaded,
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// The body of a chunked document (after the version fields): the root chunk and its first child.
eChunkedResult ReadChunked(Stream* input, uint8_t compression, uint32_t version,
                           std::unique_ptr<CElementChunk>& element, std::string& reason)
{
    CBinaryReader reader(input);
    auto root = std::make_unique<CRootChunk>();
    root->SetVersion(version);
    Strong<Stream> body = input;
    std::vector<uint8_t> inflated;
    if (compression == CHUNK_COMPRESSION_ZLIB) {
        uint32_t size, packedSize;
        int32_t kept;
        if (!reader.ReadUInt32(size) || !reader.ReadUInt32(packedSize) || !reader.ReadInt32(kept)) {
            reason = "truncated compression header";
            return eChunkedResult::Failed;
        }
        root->SetCompression(true, kept);
        // Both sizes are checked before anything is allocated.
        if (packedSize > reader.GetRemaining()) {
            reason = Format("compressed body of %u bytes runs past the end of the document", packedSize);
            return eChunkedResult::Failed;
        }
        if (size > MaxChunkDocumentSize || size > uint64_t(packedSize) * kMaxInflateRatio) {
            reason = Format("%u compressed bytes cannot inflate to the declared %u bytes", packedSize, size);
            return eChunkedResult::Failed;
        }
        std::vector<uint8_t> packed;
        if (!reader.Read(packed, packedSize)) {
            reason = "truncated compressed body";
            return eChunkedResult::Failed;
        }
        inflated.resize(size);
        Bytef spare = 0;
        uLongf produced = size;
        const int status =
            uncompress(size ? inflated.data() : &spare, &produced, packedSize ? packed.data() : &spare, packedSize);
        // A damaged stream, or one that inflates to another size than declared, is refused rather
        // than read as records from a partly filled buffer.
        if (status != Z_OK || produced != size) {
            reason = Format("compressed body does not inflate to its declared %u bytes (zlib status %d)", size, status);
            return eChunkedResult::Failed;
        }
        body = MakeStrong<CMemoryStream>(inflated.data(), inflated.size());
    }

    uint32_t rootType; // not compared with anything
    if (!CBinaryReader(body).ReadUInt32(rootType)) {
        reason = "truncated document body";
        return eChunkedResult::Failed;
    }
    if (!root->Read(body, &reason))
        return eChunkedResult::Failed;

    CChunk* first = root->GetChild(0);
    if (!first) {
        reason = "the document holds no chunks";
        return eChunkedResult::NoElement;
    }
    if (first->GetType() != CHUNK_ELEMENT || !dynamic_cast<CElementChunk*>(first)) {
        reason = Format("the document's first chunk has type %u, not an element", first->GetType());
        return eChunkedResult::NoElement;
    }
    element.reset(static_cast<CElementChunk*>(first->Orphan().release()));
    return eChunkedResult::Loaded;
}

// The file header, then the body `writeBody` makes, compressed or not.
bool WriteDocument(Stream* stream, eChunkCompression compression, const std::function<bool(Stream*)>& writeBody)
{
    if (!stream || (compression != CHUNK_COMPRESSION_NONE && compression != CHUNK_COMPRESSION_ZLIB))
        return false;
    auto body = MakeStrong<CUnlimitedStream>();
    if (!writeBody(body))
        return false;
    const uint64_t size = body->GetLength();
    CBinaryWriter writer(stream);
    if (!writer.Write("HBF", 3) || !writer.WriteUInt8(compression) || !writer.WriteUInt32(8) ||
        !writer.WriteUInt32(0))
        return false;
    if (compression == CHUNK_COMPRESSION_NONE)
        return writer.Write(body->GetData(), size_t(size));

    if (size > std::numeric_limits<uint32_t>::max())
        return false;
    uLongf packedSize = compressBound(uLong(size));
    std::vector<Bytef> packed(packedSize);
    if (compress2(packed.data(), &packedSize, body->GetData(), uLong(size), Z_BEST_COMPRESSION) != Z_OK ||
        packedSize > std::numeric_limits<uint32_t>::max())
        return false;
    return writer.WriteUInt32(uint32_t(size)) && writer.WriteUInt32(uint32_t(packedSize)) && writer.WriteInt32(0) &&
           writer.Write(packed.data(), packedSize);
}

} // namespace

// ---- Loading ----

std::unique_ptr<CElementChunk> CElementChunk::Load(Stream* stream)
{
    std::string ignored;
    return Load(stream, ignored);
}

std::unique_ptr<CElementChunk> CElementChunk::Load(Stream* stream, std::string& reason)
{
    reason.clear();
    if (!stream) {
        reason = "no stream to read";
        return nullptr;
    }
    const uint64_t size = stream->GetRemaining();
    if (size > MaxChunkDocumentSize) {
        reason = Format("the document is larger than %llu bytes", (unsigned long long)MaxChunkDocumentSize);
        return nullptr;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes.size()) {
        const size_t delivered = stream->Read(bytes.data() + got, bytes.size() - got);
        if (delivered == 0)
            break;
        got += delivered;
    }
    bytes.resize(got);
    auto memory = MakeStrong<CMemoryStream>(bytes.data(), bytes.size());

    std::string chunkedReason;
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "HBF", 3) == 0) {
        const uint8_t compression = bytes[3];
        memory->Seek(4, SEEK_ORIGIN_BEGIN);
        CBinaryReader reader(memory);
        uint32_t version = 0, reserved;
        const bool header = reader.ReadUInt32(version) && (version <= 7 || reader.ReadUInt32(reserved));
        const bool known = version >= 6 && version <= 8 &&
                           (compression == CHUNK_COMPRESSION_ZLIB || compression == CHUNK_COMPRESSION_NONE);
        if (header && known) {
            std::unique_ptr<CElementChunk> element;
            switch (ReadChunked(memory, compression, version, element, chunkedReason)) {
            case eChunkedResult::Loaded:
                return element;
            case eChunkedResult::NoElement:
                reason = chunkedReason;
                return nullptr;
            case eChunkedResult::Failed:
                chunkedReason = "chunked document: " + chunkedReason;
                break;
            }
        } else if (header) {
            chunkedReason = Format("chunked document of version %u with compression byte 0x%02X is not supported",
                                   version, unsigned(compression));
        } else {
            chunkedReason = "truncated chunked document header";
        }
    }

    // Anything else, and a chunked document that could not be read, is taken as XML text.
    memory->Seek(0, SEEK_ORIGIN_BEGIN);
    CTextReader text(memory);
    size_t length = 0;
    const char* characters = text.LoadText(&length);
    if (!characters || length == 0) {
        reason = chunkedReason.empty() ? "the document is empty" : chunkedReason;
        return nullptr;
    }
    std::string xmlReason;
    std::unique_ptr<CElementChunk> element = ElementXML::Load(characters, length, xmlReason);
    if (!element)
        reason = chunkedReason.empty() ? xmlReason : chunkedReason;
    return element;
}

// ---- Writing ----

bool CElementChunk::Save(Stream* stream, eChunkCompression compression) const
{
    return WriteDocument(stream, compression, [this](Stream* body) {
        CBinaryWriter writer(body);
        // The root: no name, no data, and this element as its only child.
        return writer.WriteUInt32(0) && writer.WriteString("") && writer.WriteUInt32(0) && writer.WriteUInt32(1) &&
               writer.WriteUInt32(GetType()) && WriteRecord(body, 1);
    });
}

bool CRootChunk::Save(Stream* stream, eChunkCompression compression) const
{
    return WriteDocument(stream, compression, [this](Stream* body) {
        return CBinaryWriter(body).WriteUInt32(GetType()) && Write(body);
    });
}

// ---- Element chunks ----

CElementChunk::CElementChunk()
    : CChunk(CHUNK_ELEMENT), m_text(MakeStrong<CArgumentString>()), m_attributes(MakeStrong<CArgumentMap>())
{
}

CElementChunk::CElementChunk(std::string_view name) : CElementChunk()
{
    SetName(name);
}

CElementChunk::~CElementChunk() = default;

bool CElementChunk::ReadData(Stream* stream)
{
    if (!stream)
        return false;
    auto text = MakeStrong<CArgumentString>();
    auto attributes = MakeStrong<CArgumentMap>();
    // An empty block is an element without text or attributes; a block with only the text has
    // no attributes (the map reads as empty at the end of its data).
    if (stream->GetRemaining() > 0) {
        CBinaryReader reader(stream);
        if (!text->ReadPayload(reader, 0) || !attributes->ReadPayload(reader, 0))
            return false;
    }
    m_text = std::move(text);
    m_attributes = std::move(attributes);
    return true;
}

bool CElementChunk::WriteData(Stream* stream) const
{
    CBinaryWriter writer(stream);
    return m_text->WritePayload(writer, 0) && m_attributes->WritePayload(writer, 0);
}

const char* CElementChunk::GetText(size_t* length) const
{
    if (length)
        *length = m_text->GetLength();
    return m_text->GetString();
}

void CElementChunk::SetText(std::string_view text)
{
    m_text->SetString(text.data(), text.size());
}

const char* CElementChunk::Attribute(std::string_view name, size_t* length) const
{
    const CArgument* value = m_attributes->Get(name);
    if (!value || !value->IsString())
        return nullptr;
    const auto* text = static_cast<const CArgumentString*>(value);
    if (length)
        *length = text->GetLength();
    return text->GetString();
}

void CElementChunk::SetAttribute(std::string_view name, std::string_view value)
{
    m_attributes->Set(name, MakeStrong<CArgumentString>(value.data(), value.size()));
}

void CElementChunk::SetAttribute(std::string_view name, Strong<CArgument> value)
{
    m_attributes->Set(name, std::move(value));
}

CElementChunk* CElementChunk::AddElement(std::string_view name)
{
    return static_cast<CElementChunk*>(AddChild(std::make_unique<CElementChunk>(name)));
}

CElementChunk* CElementChunk::FindElement(std::string_view name, size_t start) const
{
    // A custom class registered for the element type id may not be an element chunk.
    for (CChunk* found = FindChunk(CHUNK_ELEMENT, start, name); found;
         found = FindChunk(CHUNK_ELEMENT, size_t(found->GetIndex()) + 1, name)) {
        if (auto* element = dynamic_cast<CElementChunk*>(found))
            return element;
    }
    return nullptr;
}

std::vector<CElementChunk*> CElementChunk::FindElements(std::string_view name) const
{
    std::vector<CElementChunk*> found;
    for (CElementChunk* element = FindElement(name); element; element = FindElement(name, size_t(element->GetIndex()) + 1))
        found.push_back(element);
    return found;
}

const char* CElementChunk::GetChildText(std::string_view name, const char* fallback) const
{
    const CElementChunk* element = FindElement(name);
    return element ? element->GetText() : fallback;
}

} // namespace Corvane3D
