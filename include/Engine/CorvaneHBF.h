#pragma once
// Chunk trees: the engine's chunked binary documents ("HBF", plain or zlib-compressed) and the
// element documents that both chunked files and XML text load into.

#include "Engine/CorvaneArguments.h"
#include "Engine/RefCounted.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TiXmlElement;

namespace Corvane3D {

class Stream;

enum eChunkType : uint32_t {
    CHUNK_DATA = 1,
    CHUNK_IMAGEDATA = 5,
    CHUNK_HISTORY = 21,
    CHUNK_TEXTURE = 72,
    CHUNK_ELEMENT = 93,
};

// Readers and writers recurse once per level, so documents nested deeper than this are refused
// (the root element of a document is level 1).
inline constexpr unsigned MaxChunkDepth = 128;
// Largest document read into memory, and largest body a compressed document may inflate to.
inline constexpr uint64_t MaxChunkDocumentSize = uint64_t(256) << 20;
// Longest chunk name accepted from a chunked document.
inline constexpr uint32_t MaxChunkNameLength = 65536;

// One node of a chunk tree. A chunk owns its children; the parent pointer is non-owning.
class CChunk : public CBase {
public:
    explicit CChunk(uint32_t type = 0);
    // Children lose their parent pointer before they are destroyed with this chunk.
    ~CChunk() override;
    CChunk(const CChunk&) = delete;
    CChunk& operator=(const CChunk&) = delete;

    // Reads one chunk record in the format of GetVersion() (6, 7 or 8) and all its descendants.
    // On failure `reason` (when given) says what was wrong; children read so far are kept.
    bool Read(Stream* stream, std::string* reason = nullptr);
    // Writes this chunk's record in the form of versions 7 and 8, with all its descendants.
    bool Write(Stream* stream) const;

    // The chunk's own data. `stream` is a window over exactly its data block.
    virtual bool ReadData(Stream* stream);
    virtual bool WriteData(Stream* stream) const;
    // Work a chunk class does once its document is loaded; nothing by default.
    virtual void Process() {}

    uint64_t GetIndex() const { return m_index; }
    uint32_t GetVersion() const { return m_version; }
    void SetVersion(uint32_t version) { m_version = version; }
    uint32_t GetType() const { return m_type; }
    CChunk* GetParent() const { return m_parent; }
    const std::string& GetName() const { return m_name; }
    void SetName(std::string_view name) { m_name.assign(name); }

    size_t GetChildCount() const { return m_children.size(); }
    // Borrowed; null past the end.
    CChunk* GetChild(size_t index) const { return index < m_children.size() ? m_children[index].get() : nullptr; }
    // Appends a parentless chunk as the last child; returns it, borrowed.
    CChunk* AddChild(std::unique_ptr<CChunk> child);
    // Removes this chunk from its parent and hands it to the caller; null (and nothing changes)
    // when it has no parent. The later siblings move up, so a child's index is its position.
    std::unique_ptr<CChunk> Orphan();

    // The first child at or after position `start` whose type is `type` and, when `byName` is
    // set, whose name equals `name` without regard to ASCII letter case. Iterate repeated children
    // by searching again from the found child's index + 1.
    CChunk* FindChunk(uint32_t type, size_t start, std::string_view name, bool byName = true) const;

protected:
    // Record reading and writing at a nesting depth (0 for the chunk that starts the read).
    bool ReadRecord(Stream* stream, unsigned depth, std::string& reason);
    bool WriteRecord(Stream* stream, unsigned depth) const;

private:
    friend class CChunkTypes;

    bool ReadChildren(Stream* stream, uint32_t count, unsigned depth, std::string& reason);

    uint64_t m_index = 0;
    uint32_t m_version = 8;
    uint32_t m_type;
    CChunk* m_parent = nullptr;
    std::string m_name;
    std::vector<std::unique_ptr<CChunk>> m_children;
};

// Raw bytes: the whole data block. Also what chunks of unregistered types hold.
class CDataChunk : public CChunk {
public:
    explicit CDataChunk(uint32_t type = CHUNK_DATA) : CChunk(type) {}

    bool ReadData(Stream* stream) override;
    bool WriteData(Stream* stream) const override;

    // Null when empty.
    const uint8_t* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
    size_t GetSize() const { return m_data.size(); }
    void SetData(const void* data, size_t size);

private:
    std::vector<uint8_t> m_data;
};

// Raw image bytes for the engine's texture module.
class CImageDataChunk : public CDataChunk {
public:
    CImageDataChunk() : CDataChunk(CHUNK_IMAGEDATA) {}
};

// Text: the whole data block.
class CHistoryChunk : public CChunk {
public:
    CHistoryChunk() : CChunk(CHUNK_HISTORY) {}

    bool ReadData(Stream* stream) override;
    bool WriteData(Stream* stream) const override;

    const std::string& GetText() const { return m_text; }
    void SetText(std::string_view text) { m_text.assign(text); }

private:
    std::string m_text;
};

// A texture description for the engine's texture module: two UInt16 and three UInt32 values,
// all 0 when the data block is empty.
class CTextureChunk : public CChunk {
public:
    CTextureChunk() : CChunk(CHUNK_TEXTURE) {}

    bool ReadData(Stream* stream) override;
    bool WriteData(Stream* stream) const override;

    uint16_t GetWidth() const { return m_width; }
    uint16_t GetHeight() const { return m_height; }
    // The three UInt32 values in file order.
    uint32_t GetParameter(size_t index) const { return index < 3 ? m_parameters[index] : 0; }

private:
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint32_t m_parameters[3] = {0, 0, 0};
};

enum eChunkCompression : uint8_t {
    CHUNK_COMPRESSION_NONE = 0xFF,
    CHUNK_COMPRESSION_ZLIB = 'Z',
};

// The root of a chunked file; its values come from the compression header and are not used after
// loading.
class CRootChunk : public CChunk {
public:
    CRootChunk() : CChunk(0) {}

    // Writes a chunked document (version 8) with this chunk as its root.
    bool Save(Stream* stream, eChunkCompression compression = CHUNK_COMPRESSION_NONE) const;

    int32_t GetKeptValue() const { return m_keptValue; }
    bool IsCompressed() const { return m_compressed; }
    void SetCompression(bool compressed, int32_t keptValue)
    {
        m_compressed = compressed;
        m_keptValue = keptValue;
    }

private:
    int32_t m_keptValue = -1;
    bool m_compressed = false;
};

// One element of a document: a name, a text, attributes and child elements.
class CElementChunk : public CChunk {
public:
    CElementChunk();
    explicit CElementChunk(std::string_view name);
    ~CElementChunk() override;

    // The root element of a chunked document or of XML text, detached and owned by the caller;
    // null when the stream holds neither. The second form says why it failed: for XML the
    // parser's message with its line and column.
    static std::unique_ptr<CElementChunk> Load(Stream* stream);
    static std::unique_ptr<CElementChunk> Load(Stream* stream, std::string& reason);
    // Writes a chunked document (version 8) whose root holds this element and its descendants.
    bool Save(Stream* stream, eChunkCompression compression = CHUNK_COMPRESSION_NONE) const;

    // Text: String form; attributes: the map's wire form.
    bool ReadData(Stream* stream) override;
    bool WriteData(Stream* stream) const override;

    // The text (NUL-terminated; may hold NUL bytes); empty when the element has none.
    const char* GetText(size_t* length = nullptr) const;
    CArgumentString* GetTextArgument() const { return m_text.Get(); }
    void SetText(std::string_view text);

    CArgumentMap* GetAttributes() const { return m_attributes.Get(); }
    // The text of the attribute of exactly this name when it holds a string; otherwise null.
    const char* Attribute(std::string_view name, size_t* length = nullptr) const;
    void SetAttribute(std::string_view name, std::string_view value);
    void SetAttribute(std::string_view name, Strong<CArgument> value);

    // Appends a new child element; returns it, borrowed.
    CElementChunk* AddElement(std::string_view name);
    // The first child element at or after `start` whose name matches without regard to case.
    CElementChunk* FindElement(std::string_view name, size_t start = 0) const;
    // Every child element of that name, in document order.
    std::vector<CElementChunk*> FindElements(std::string_view name) const;
    // The text of the first child element of that name, or `fallback` when there is none.
    const char* GetChildText(std::string_view name, const char* fallback = nullptr) const;

private:
    Strong<CArgumentString> m_text;
    Strong<CArgumentMap> m_attributes;
};

// Fills an element chunk from an XML element: its name, the text of a leading text node, its
// attributes as strings, and its child elements in order. Fails (leaving what was filled) when the
// elements nest deeper than MaxChunkDepth below `depth`.
bool Associate(CElementChunk* chunk, const TiXmlElement* element, unsigned depth = 1);

using ChunkFactory = std::unique_ptr<CChunk> (*)();

// Chunk classes by type id. The built-in types are registered before first use; readers make every
// chunk through _Create.
class CChunkTypes {
public:
    // Registers (or, with a null factory, removes) the class made for a type id.
    static void RegisterCustomChunk(uint32_t type, ChunkFactory factory);
    // A new chunk of that type id: the registered class, or raw data when none is registered.
    static std::unique_ptr<CChunk> _Create(uint32_t type);
};

} // namespace Corvane3D
