#include "Engine/TARArchive.h"

#include "Engine/Context.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <string_view>

namespace Corvane3D {

namespace {

constexpr size_t kBlockSize = 512;
// Links may lead to links; a longer chain is taken for a loop.
constexpr int kMaxLinkHops = 16;

// Header fields: offset and length.
struct tField {
    size_t m_offset;
    size_t m_length;
};
constexpr tField kName{0, 100};
constexpr tField kSize{124, 12};
constexpr tField kModifiedTime{136, 12};
constexpr tField kChecksum{148, 8};
constexpr size_t kTypeOffset = 156;
constexpr tField kLinkName{157, 100};
constexpr tField kMagic{257, 6};
constexpr tField kPrefix{345, 155};

bool Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool Fail(const char* format, ...)
{
    if (Context* context = GetContext()) {
        va_list arguments;
        va_start(arguments, format);
        context->LogMessageV(LOG_ERROR, format, arguments);
        va_end(arguments);
    }
    return false;
}

void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Warn(const char* format, ...)
{
    if (Context* context = GetContext()) {
        va_list arguments;
        va_start(arguments, format);
        context->LogMessageV(LOG_WARN, format, arguments);
        va_end(arguments);
    }
}

std::string FieldText(const unsigned char* block, tField field)
{
    const char* text = reinterpret_cast<const char*>(block + field.m_offset);
    return std::string(text, strnlen(text, field.m_length));
}

// An octal field: optional leading blanks, at least one digit, then a NUL, a blank or the field's
// end. GNU tar's base-256 form (first byte with its top bit set) is read as well; negative values
// and values beyond int64 are refused.
bool ParseNumber(const unsigned char* block, tField field, uint64_t& value)
{
    const unsigned char* bytes = block + field.m_offset;
    value = 0;
    if (bytes[0] & 0x80) {
        if (bytes[0] & 0x40)
            return false;
        value = bytes[0] & 0x3f;
        for (size_t i = 1; i < field.m_length; ++i) {
            if (value > (std::numeric_limits<uint64_t>::max() >> 8))
                return false;
            value = (value << 8) | bytes[i];
        }
        return value <= uint64_t(std::numeric_limits<int64_t>::max());
    }
    size_t i = 0;
    while (i < field.m_length && bytes[i] == ' ')
        ++i;
    size_t digits = 0;
    for (; i < field.m_length && bytes[i] >= '0' && bytes[i] <= '7'; ++i, ++digits) {
        if (value > (std::numeric_limits<uint64_t>::max() >> 3))
            return false;
        value = value * 8 + (bytes[i] - '0');
    }
    if (i < field.m_length && bytes[i] != ' ' && bytes[i] != '\0')
        return false;
    return digits > 0 && value <= uint64_t(std::numeric_limits<int64_t>::max());
}

// Writers differ in whether they summed the header as signed or unsigned bytes; both are accepted.
bool ChecksumMatches(const unsigned char* block)
{
    uint64_t stored;
    if (!ParseNumber(block, kChecksum, stored))
        return false;
    int64_t unsignedSum = 0;
    int64_t signedSum = 0;
    for (size_t i = 0; i < kBlockSize; ++i) {
        const bool inField = i >= kChecksum.m_offset && i < kChecksum.m_offset + kChecksum.m_length;
        const unsigned char byte = inField ? ' ' : block[i];
        unsignedSum += byte;
        signedSum += static_cast<signed char>(byte);
    }
    return int64_t(stored) == unsignedSum || int64_t(stored) == signedSum;
}

bool IsZeroBlock(const unsigned char* block)
{
    return std::all_of(block, block + kBlockSize, [](unsigned char byte) { return byte == 0; });
}

// The canonical member path: no empty or "." components and no leading '/' (members are always
// relative to the archive). A ".." component would climb out of wherever the archive is mounted,
// so such a member is refused (false).
bool NormaliseMemberPath(std::string_view raw, std::string& path)
{
    path.clear();
    size_t start = 0;
    while (start <= raw.size()) {
        size_t end = raw.find('/', start);
        if (end == std::string_view::npos)
            end = raw.size();
        const std::string_view part = raw.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        if (!path.empty())
            path += '/';
        path += part;
    }
    return true;
}

// Joins a symbolic link's target to the folder holding the link. ".." may climb inside the archive
// but not above its root; absolute targets point outside the archive and are refused.
bool ResolveLinkTarget(const std::string& linkPath, const std::string& target, std::string& result)
{
    if (target.empty() || target.front() == '/')
        return false;
    std::vector<std::string_view> parts;
    const size_t slash = linkPath.rfind('/');
    const std::string_view folder(linkPath.data(), slash == std::string::npos ? 0 : slash);
    for (std::string_view piece : {folder, std::string_view(target)}) {
        size_t start = 0;
        while (start <= piece.size()) {
            size_t end = piece.find('/', start);
            if (end == std::string_view::npos)
                end = piece.size();
            const std::string_view part = piece.substr(start, end - start);
            start = end + 1;
            if (part.empty() || part == ".")
                continue;
            if (part == "..") {
                if (parts.empty())
                    return false;
                parts.pop_back();
                continue;
            }
            parts.push_back(part);
        }
    }
    result.clear();
    for (std::string_view part : parts) {
        if (!result.empty())
            result += '/';
        result += part;
    }
    return !result.empty();
}

bool ReadFully(Stream& stream, uint64_t offset, void* buffer, size_t count)
{
    if (offset > uint64_t(std::numeric_limits<int64_t>::max()) || !stream.Seek(int64_t(offset), SEEK_ORIGIN_BEGIN))
        return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t n = stream.Read(bytes + done, count - done);
        if (n == 0)
            return false;
        done += n;
    }
    return true;
}

// What pax extended headers and GNU long-name members say about the next member.
struct tPending {
    bool m_hasPath = false;
    std::string m_path;
    bool m_hasLinkPath = false;
    std::string m_linkPath;
    bool m_hasSize = false;
    uint64_t m_size = 0;
};

bool ParseDecimal(std::string_view text, uint64_t& value)
{
    value = 0;
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (uint64_t(std::numeric_limits<int64_t>::max()) - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// pax records: "<length> <key>=<value>\n", the length counting the whole record.
bool ParseExtendedHeader(std::string_view data, tPending& pending)
{
    size_t position = 0;
    while (position < data.size()) {
        // Some writers pad the header's data with NULs.
        if (data[position] == '\0')
            break;
        size_t cursor = position;
        while (cursor < data.size() && data[cursor] >= '0' && data[cursor] <= '9')
            ++cursor;
        uint64_t length;
        if (cursor == data.size() || data[cursor] != ' ' ||
            !ParseDecimal(data.substr(position, cursor - position), length))
            return false;
        if (length > data.size() - position || length < cursor - position + 3)
            return false;
        const size_t end = position + size_t(length);
        if (data[end - 1] != '\n')
            return false;
        const std::string_view record = data.substr(cursor + 1, end - 1 - (cursor + 1));
        const size_t equals = record.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return false;
        const std::string_view key = record.substr(0, equals);
        const std::string_view value = record.substr(equals + 1);
        // An empty value withdraws an earlier one.
        if (key == "path") {
            pending.m_hasPath = !value.empty();
            pending.m_path.assign(value.substr(0, value.find('\0')));
        } else if (key == "linkpath") {
            pending.m_hasLinkPath = !value.empty();
            pending.m_linkPath.assign(value.substr(0, value.find('\0')));
        } else if (key == "size") {
            pending.m_hasSize = !value.empty();
            if (pending.m_hasSize && !ParseDecimal(value, pending.m_size))
                return false;
        }
        position = end;
    }
    return true;
}

} // namespace

std::string CTARArchive::CDirectoryEntry::KeyOf(const std::string& name) const
{
    if (m_caseSensitive)
        return name;
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return key;
}

CTARArchive::CEntry* CTARArchive::CDirectoryEntry::Find(const std::string& name) const
{
    const auto it = m_children.find(KeyOf(name));
    return it == m_children.end() ? nullptr : it->second.get();
}

CTARArchive::CEntry* CTARArchive::CDirectoryEntry::Add(std::unique_ptr<CEntry> child)
{
    std::string key = KeyOf(child->GetName());
    const auto [it, added] = m_children.try_emplace(std::move(key), std::move(child));
    return it->second.get();
}

CTARArchive::CTARArchive() : m_root(std::string(), true) {}

CTARArchive::~CTARArchive() = default;

void CTARArchive::SetCaseSensitive(bool caseSensitive)
{
    m_caseSensitive = caseSensitive;
    m_root.SetCaseSensitive(caseSensitive);
}

void CTARArchive::Clear()
{
    m_stream = nullptr;
    m_members.clear();
    m_root.ClearChildren();
}

bool CTARArchive::ReadImage(const void* data, size_t length)
{
    if (!data)
        return false;
    return Read(MakeStrong<CMemoryStream>(data, length));
}

bool CTARArchive::Read(Stream* stream)
{
    Clear();
    if (!stream)
        return false;
    if (!ReadHeaders(*stream)) {
        Clear();
        return false;
    }
    m_stream = stream;
    BuildTree();
    return true;
}

bool CTARArchive::ReadHeaders(Stream& stream)
{
    const uint64_t length = stream.GetLength();
    uint64_t position = stream.Tell();
    if (position > length)
        return Fail("TAR archive: the stream position lies beyond its end");
    tPending pending;
    unsigned char block[kBlockSize];
    for (;;) {
        // Every archive ends with a zero block; a stream that stops before one was cut short.
        if (length - position < kBlockSize)
            return Fail("TAR archive truncated: no complete header at offset %llu", (unsigned long long)position);
        if (!ReadFully(stream, position, block, kBlockSize))
            return Fail("TAR archive: cannot read the header at offset %llu", (unsigned long long)position);
        const uint64_t headerOffset = position;
        position += kBlockSize;
        if (IsZeroBlock(block))
            return true;
        if (!ChecksumMatches(block))
            return Fail("TAR archive: bad header checksum at offset %llu", (unsigned long long)headerOffset);

        uint64_t size;
        if (!ParseNumber(block, kSize, size))
            return Fail("TAR archive: invalid size field at offset %llu", (unsigned long long)headerOffset);
        char type = char(block[kTypeOffset]);
        if (type == '\0')
            type = '0';
        // A pax size replaces the header's, which cannot hold large sizes.
        if (type != 'x' && type != 'g' && type != 'L' && type != 'K' && pending.m_hasSize)
            size = pending.m_size;
        const uint64_t padded = size + (kBlockSize - size % kBlockSize) % kBlockSize;
        if (size > length - position || padded > length - position)
            return Fail("TAR archive: member at offset %llu runs past the end of the archive",
                        (unsigned long long)headerOffset);
        const uint64_t dataOffset = position;
        position += padded;

        switch (type) {
        case 'L':
        case 'K': {
            if (size > MaxLongNameSize)
                return Fail("TAR archive: long name of %llu bytes at offset %llu is too long",
                            (unsigned long long)size, (unsigned long long)headerOffset);
            std::string text(size_t(size), '\0');
            if (!ReadFully(stream, dataOffset, text.data(), text.size()))
                return Fail("TAR archive: cannot read the long name at offset %llu", (unsigned long long)headerOffset);
            text.resize(strnlen(text.data(), text.size()));
            if (type == 'L') {
                pending.m_hasPath = true;
                pending.m_path = std::move(text);
            } else {
                pending.m_hasLinkPath = true;
                pending.m_linkPath = std::move(text);
            }
            continue;
        }
        case 'x': {
            if (size > MaxExtendedHeaderSize)
                return Fail("TAR archive: extended header of %llu bytes at offset %llu is too large",
                            (unsigned long long)size, (unsigned long long)headerOffset);
            std::string data(size_t(size), '\0');
            if (!ReadFully(stream, dataOffset, data.data(), data.size()))
                return Fail("TAR archive: cannot read the extended header at offset %llu",
                            (unsigned long long)headerOffset);
            if (!ParseExtendedHeader(data, pending))
                return Fail("TAR archive: malformed extended header at offset %llu", (unsigned long long)headerOffset);
            continue;
        }
        case 'g':
            // Global records hold nothing this reader uses.
            continue;
        default:
            break;
        }

        std::string rawPath;
        if (pending.m_hasPath) {
            rawPath = pending.m_path;
        } else {
            rawPath = FieldText(block, kName);
            // Only POSIX ustar ("ustar\0") has a prefix there; GNU headers ("ustar ") keep other data in it.
            const std::string prefix = FieldText(block, kPrefix);
            static const char posixMagic[6] = {'u', 's', 't', 'a', 'r', '\0'};
            if (std::memcmp(block + kMagic.m_offset, posixMagic, kMagic.m_length) == 0 && !prefix.empty())
                rawPath = prefix + '/' + rawPath;
        }
        std::string linkTarget = pending.m_hasLinkPath ? pending.m_linkPath : FieldText(block, kLinkName);
        pending = tPending();

        // Old archives mark folders with a trailing '/' on a regular-file header.
        if (type == '0' && !rawPath.empty() && rawPath.back() == '/')
            type = '5';
        if (type == '7')
            type = '0';
        if (type != '0' && type != '5' && type != '1' && type != '2')
            continue;

        std::string path;
        if (!NormaliseMemberPath(rawPath, path)) {
            Warn("TAR archive: member %s is skipped: its path leaves the archive", rawPath.c_str());
            continue;
        }
        if (path.size() > MaxPathLength) {
            Warn("TAR archive: member at offset %llu is skipped: its path is too long",
                 (unsigned long long)headerOffset);
            continue;
        }
        if (path.empty())
            continue;
        uint64_t modifiedTime = 0;
        if (!ParseNumber(block, kModifiedTime, modifiedTime))
            modifiedTime = 0;
        m_members.push_back(
            tMember{std::move(path), type, dataOffset, size, int64_t(modifiedTime), std::move(linkTarget)});
    }
}

int32_t CTARArchive::ResolveLink(size_t member, const std::map<std::string, size_t>& byPath) const
{
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const tMember& record = m_members[member];
        if (record.m_type == '0')
            return member <= size_t(std::numeric_limits<int32_t>::max()) ? int32_t(member) : -1;
        std::string target;
        // Hard links name a member by its archive path; symbolic links are relative to their folder.
        if (record.m_type == '1') {
            if (!NormaliseMemberPath(record.m_linkTarget, target))
                return -1;
        } else if (!ResolveLinkTarget(record.m_path, record.m_linkTarget, target)) {
            return -1;
        }
        const auto it = byPath.find(target);
        if (it == byPath.end())
            return -1;
        member = it->second;
    }
    return -1;
}

void CTARArchive::BuildTree()
{
    std::map<std::string, size_t> byPath;
    for (size_t i = 0; i < m_members.size(); ++i)
        if (m_members[i].m_type != '5')
            byPath.try_emplace(m_members[i].m_path, i);

    for (size_t i = 0; i < m_members.size(); ++i) {
        const tMember& record = m_members[i];
        // Folders exist as the parents of files only.
        if (record.m_type == '5')
            continue;
        // A link to a folder, to a missing member or out of the archive is not visible.
        const int32_t member = record.m_type == '0' ? int32_t(i) : ResolveLink(i, byPath);
        if (member < 0)
            continue;

        CDirectoryEntry* folder = &m_root;
        std::string_view rest(record.m_path);
        bool placed = true;
        for (size_t slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
            const std::string part(rest.substr(0, slash));
            rest.remove_prefix(slash + 1);
            CEntry* child = folder->Find(part);
            if (!child)
                child = folder->Add(std::make_unique<CDirectoryEntry>(part, folder->IsCaseSensitive()));
            if (!child->IsDirectory()) {
                Warn("TAR archive: member %s is skipped: a file of the archive stands in its path",
                     record.m_path.c_str());
                placed = false;
                break;
            }
            folder = static_cast<CDirectoryEntry*>(child);
        }
        if (!placed)
            continue;
        const std::string name(rest);
        if (folder->Find(name)) {
            Warn("TAR archive: member %s is skipped: the name is already taken", record.m_path.c_str());
            continue;
        }
        folder->Add(std::make_unique<CEntry>(name, false, member));
    }
}

const CTARArchive::CEntry* CTARArchive::Lookup(const char* path) const
{
    std::string_view rest(path ? path : "");
    const CEntry* entry = &m_root;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string_view::npos)
            end = rest.size();
        const std::string part(rest.substr(start, end - start));
        start = end + 1;
        // Empty and "." components are passed over, as on disk, so both kinds of mount agree.
        if (part.empty() || part == ".")
            continue;
        if (!entry->IsDirectory())
            return nullptr;
        entry = static_cast<const CDirectoryEntry*>(entry)->Find(part);
        if (!entry)
            return nullptr;
    }
    return entry;
}

Strong<Stream> CTARArchive::Open(const char* path, bool writable)
{
    if (writable || !m_stream)
        return nullptr;
    const CEntry* entry = Lookup(path);
    if (!entry || entry->IsDirectory())
        return nullptr;
    const tMember& record = m_members[size_t(entry->GetMember())];
    return MakeStrong<CStreamRangeStream>(m_stream.Get(), record.m_dataOffset, record.m_size);
}

Strong<Stream> CTARArchive::Create(const char*)
{
    return nullptr;
}

bool CTARArchive::Exists(const char* path, bool file, bool directory)
{
    const CEntry* entry = Lookup(path);
    // The archive's root is not a path of its own.
    if (!entry || entry == &m_root)
        return false;
    return entry->IsDirectory() ? directory : file;
}

bool CTARArchive::Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user)
{
    if (!callback)
        return true;
    const CEntry* entry = Lookup(directory);
    if (!entry || !entry->IsDirectory())
        return true;
    const char* shown = directory ? directory : "";
    if (*shown == '/')
        ++shown;
    for (const auto& [key, child] : static_cast<const CDirectoryEntry*>(entry)->GetChildren()) {
        const CFileMgr::tDirectoryEntry item{shown, child->GetName().c_str(), !child->IsDirectory(),
                                             child->IsDirectory()};
        if (!callback(item, user))
            return false;
    }
    return true;
}

size_t CTARArchive::GetFileCount() const
{
    size_t count = 0;
    std::vector<const CDirectoryEntry*> folders{&m_root};
    while (!folders.empty()) {
        const CDirectoryEntry* folder = folders.back();
        folders.pop_back();
        for (const auto& [key, child] : folder->GetChildren()) {
            if (child->IsDirectory())
                folders.push_back(static_cast<const CDirectoryEntry*>(child.get()));
            else
                ++count;
        }
    }
    return count;
}

} // namespace Corvane3D
