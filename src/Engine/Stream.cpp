#include "Engine/Stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Corvane3D {

uint64_t Stream::GetLength()
{
    const uint64_t saved = Tell();
    if (!Seek(0, SEEK_ORIGIN_END))
        return 0;
    const uint64_t length = Tell();
    Seek(int64_t(saved), SEEK_ORIGIN_BEGIN);
    return length;
}

uint64_t Stream::GetRemaining()
{
    const uint64_t length = GetLength();
    const uint64_t position = Tell();
    return position < length ? length - position : 0;
}

namespace {

// New position for a seek, or false when it is negative or the origin is unknown.
bool ResolveSeek(int64_t offset, int origin, uint64_t current, uint64_t length, uint64_t& result)
{
    int64_t base;
    switch (origin) {
    case SEEK_ORIGIN_BEGIN: base = 0; break;
    case SEEK_ORIGIN_CURRENT: base = int64_t(current); break;
    case SEEK_ORIGIN_END: base = int64_t(length); break;
    default: return false;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return false;
    result = uint64_t(target);
    return true;
}

} // namespace

CMemoryStream::CMemoryStream(void* data, size_t length, bool readable, bool writable, CRefCounted* owner)
    : m_owner(owner), m_data(static_cast<unsigned char*>(data)), m_length(data ? length : 0),
      m_readable(readable), m_writable(writable)
{
}

CMemoryStream::CMemoryStream(const void* data, size_t length)
    : CMemoryStream(const_cast<void*>(data), length, true, false)
{
}

CMemoryStream::~CMemoryStream() = default;

size_t CMemoryStream::Read(void* buffer, size_t count)
{
    if (!m_readable || m_position >= m_length || !buffer)
        return 0;
    const size_t n = std::min(count, m_length - m_position);
    std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    return n;
}

size_t CMemoryStream::Write(const void* data, size_t count)
{
    if (!m_writable || m_position > m_length || count > m_length - m_position || (!data && count))
        return 0;
    if (count)
        std::memcpy(m_data + m_position, data, count);
    m_position += count;
    return count;
}

bool CMemoryStream::Seek(int64_t offset, int origin)
{
    uint64_t target;
    if (!ResolveSeek(offset, origin, m_position, m_length, target) || target > std::numeric_limits<size_t>::max())
        return false;
    m_position = size_t(target);
    return true;
}

bool CUnlimitedStream::Reserve(size_t capacity)
{
    if (capacity <= m_capacity)
        return true;
    if (capacity > MaximumCapacity)
        return false;
    size_t newCapacity = m_capacity ? m_capacity : 1;
    do
        newCapacity *= 2;
    while (newCapacity < capacity);
    std::unique_ptr<unsigned char[]> storage(new (std::nothrow) unsigned char[newCapacity]);
    if (!storage)
        return false;
    std::memcpy(storage.get(), m_storage, m_length);
    m_heap = std::move(storage);
    m_storage = m_heap.get();
    m_capacity = newCapacity;
    return true;
}

size_t CUnlimitedStream::Write(const void* data, size_t count)
{
    if (!data || count == 0)
        return 0;
    if (count > MaximumCapacity || m_position > MaximumCapacity - count || !Reserve(m_position + count))
        return 0;
    std::memcpy(m_storage + m_position, data, count);
    m_position += count;
    m_length = std::max(m_length, m_position);
    return count;
}

size_t CUnlimitedStream::Read(void* buffer, size_t count)
{
    if (m_position >= m_length || !buffer)
        return 0;
    const size_t n = std::min(count, m_length - m_position);
    std::memcpy(buffer, m_storage + m_position, n);
    m_position += n;
    return n;
}

bool CUnlimitedStream::Seek(int64_t offset, int origin)
{
    uint64_t target;
    if (!ResolveSeek(offset, origin, m_position, m_length, target) || target > MaximumCapacity)
        return false;
    if (target > m_length) {
        // The gap is backed by zero-filled storage so reads never leave the buffer.
        if (!Reserve(size_t(target)))
            return false;
        std::memset(m_storage + m_length, 0, size_t(target) - m_length);
        m_length = size_t(target);
    }
    m_position = size_t(target);
    return true;
}

size_t CUnlimitedStream::WriteTo(Stream& destination, size_t offset, size_t count) const
{
    if (offset >= m_length)
        return 0;
    return destination.Write(m_storage + offset, std::min(count, m_length - offset));
}

CStreamRangeStream::CStreamRangeStream(Stream* parent, uint64_t offset, uint64_t length)
    : m_parent(parent), m_offset(offset), m_length(length)
{
}

size_t CStreamRangeStream::Read(void* buffer, size_t count)
{
    if (!m_parent || m_position >= m_length)
        return 0;
    if (!m_parent->Seek(int64_t(m_offset + m_position), SEEK_ORIGIN_BEGIN))
        return 0;
    const size_t n = size_t(std::min<uint64_t>(count, m_length - m_position));
    const size_t delivered = m_parent->Read(buffer, n);
    m_position += delivered;
    return delivered;
}

size_t CStreamRangeStream::Write(const void* data, size_t count)
{
    if (!m_parent || m_position > m_length || count > m_length - m_position)
        return 0;
    if (!m_parent->Seek(int64_t(m_offset + m_position), SEEK_ORIGIN_BEGIN))
        return 0;
    const size_t accepted = m_parent->Write(data, count);
    m_position += accepted;
    return accepted;
}

bool CStreamRangeStream::Seek(int64_t offset, int origin)
{
    uint64_t target;
    if (!ResolveSeek(offset, origin, m_position, m_length, target))
        return false;
    m_position = target;
    return true;
}

Strong<CStandardStream> CStandardStream::Open(const char* path, const char* mode)
{
    if (!path || !mode)
        return nullptr;
    FILE* file = std::fopen(path, mode);
    if (!file)
        return nullptr;
    return Strong<CStandardStream>(new CStandardStream(file), Adopt);
}

Strong<CStandardStream> CStandardStream::FromFile(FILE* file)
{
    if (!file)
        return nullptr;
    return Strong<CStandardStream>(new CStandardStream(file), Adopt);
}

CStandardStream::~CStandardStream()
{
    if (m_file)
        std::fclose(m_file);
}

size_t CStandardStream::Read(void* buffer, size_t count)
{
    return std::fread(buffer, 1, count, m_file);
}

size_t CStandardStream::Write(const void* data, size_t count)
{
    return std::fwrite(data, 1, count, m_file);
}

bool CStandardStream::Seek(int64_t offset, int origin)
{
    if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)
        return false;
    return fseeko(m_file, off_t(offset), origin) == 0;
}

uint64_t CStandardStream::Tell()
{
    const off_t position = ftello(m_file);
    return position < 0 ? 0 : uint64_t(position);
}

bool CStandardStream::Flush()
{
    return std::fflush(m_file) == 0;
}

} // namespace Corvane3D
