#pragma once
// Byte streams: memory windows, growable buffers, windows onto other streams and files.

#include "Engine/CorvaneReference.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

namespace Corvane3D {

enum eSeekOrigin : int {
    SEEK_ORIGIN_BEGIN = 0,
    SEEK_ORIGIN_CURRENT = 1,
    SEEK_ORIGIN_END = 2,
};

class Stream : public CBaseObject {
public:
    // Bytes delivered; 0 at end of data or on failure.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Bytes accepted.
    virtual size_t Write(const void* data, size_t count) = 0;
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual uint64_t Tell() = 0;
    virtual uint64_t GetLength();
    virtual bool SetModifiedTime(time_t) { return false; }
    virtual bool GetModifiedTime(time_t&) { return false; }
    // Pushes buffered bytes to the device; streams without a buffer have nothing to do.
    virtual bool Flush() { return true; }

    bool Rewind() { return Seek(0, SEEK_ORIGIN_BEGIN); }
    // Bytes between the position and the end (0 when the position is past the end).
    uint64_t GetRemaining();
};

// A window onto memory it does not own; an optional owner keeps the memory alive.
class CMemoryStream : public Stream {
public:
    CMemoryStream(void* data, size_t length, bool readable, bool writable, CRefCounted* owner = nullptr);
    CMemoryStream(const void* data, size_t length);
    ~CMemoryStream() override;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* data, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    uint64_t Tell() override { return m_position; }
    uint64_t GetLength() override { return m_length; }

private:
    Strong<CRefCounted> m_owner;
    unsigned char* m_data;
    size_t m_length;
    size_t m_position = 0;
    bool m_readable;
    bool m_writable;
};

// A growable in-memory stream; small contents stay in the inline buffer.
class CUnlimitedStream : public Stream {
public:
    static constexpr size_t InlineCapacity = 4096;
    // Growth beyond this is refused, so a hostile size cannot exhaust memory in one step.
    static constexpr size_t MaximumCapacity = size_t(1) << 31;

    CUnlimitedStream() = default;
    ~CUnlimitedStream() override = default;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* data, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    uint64_t Tell() override { return m_position; }
    uint64_t GetLength() override { return m_length; }

    // Makes room for at least `capacity` bytes; false when it cannot.
    bool Reserve(size_t capacity);
    // Writes `count` of its bytes from `offset` to another stream; bytes accepted.
    size_t WriteTo(Stream& destination, size_t offset, size_t count) const;

    // Writes the raw little-endian bytes of one scalar.
    template <typename T>
    bool WriteValue(const T& value)
    {
        return Write(&value, sizeof(T)) == sizeof(T);
    }

    const unsigned char* GetData() const { return m_storage; }
    // The length for holders of a const stream (GetLength is virtual and non-const).
    size_t GetSize() const { return m_length; }
    size_t GetCapacity() const { return m_capacity; }
    bool IsInline() const { return m_storage == m_inline; }
    void Truncate()
    {
        m_length = 0;
        m_position = 0;
    }

private:
    unsigned char m_inline[InlineCapacity];
    std::unique_ptr<unsigned char[]> m_heap;
    unsigned char* m_storage = m_inline;
    size_t m_capacity = InlineCapacity;
    size_t m_length = 0;
    size_t m_position = 0;
};

// The window [offset, offset + length) of a parent stream; archive members are read this way.
class CStreamRangeStream : public Stream {
public:
    CStreamRangeStream(Stream* parent, uint64_t offset, uint64_t length);

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* data, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    uint64_t Tell() override { return m_position; }
    uint64_t GetLength() override { return m_length; }

private:
    Strong<Stream> m_parent;
    uint64_t m_offset;
    uint64_t m_length;
    uint64_t m_position = 0;
};

// A stdio file; closed when the stream is destroyed.
class CStandardStream : public Stream {
public:
    // A new stream on fopen(path, mode), or null when the file cannot be opened.
    static Strong<CStandardStream> Open(const char* path, const char* mode);
    // Takes ownership of an already opened file (null gives null).
    static Strong<CStandardStream> FromFile(FILE* file);
    ~CStandardStream() override;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* data, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    uint64_t Tell() override;
    bool Flush() override;

private:
    explicit CStandardStream(FILE* file) : m_file(file) {}
    FILE* m_file;
};

} // namespace Corvane3D
