#pragma once
// A read-only file manager over a TAR image (ustar, GNU and pax) held in any stream.

#include "Engine/FileMgr.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Corvane3D {

// Reads the member headers once into a folder tree; members are then served as windows onto the
// archive's stream, without copying. Folders exist as the parents of files, symbolic links to
// files inside the archive read as those files, and everything else (devices, links to folders or
// to nothing) is not visible.
class CTARArchive : public CVirtualFileMgr {
public:
    // Longest member path accepted; longer members are skipped.
    static constexpr size_t MaxPathLength = 4096;
    // Largest GNU long-name member and largest pax extended header read into memory.
    static constexpr uint64_t MaxLongNameSize = 16384;
    static constexpr uint64_t MaxExtendedHeaderSize = 1 << 20;

    class CEntry {
    public:
        CEntry(std::string name, bool directory, int32_t member)
            : m_name(std::move(name)), m_directory(directory), m_member(member)
        {
        }
        virtual ~CEntry() = default;
        bool IsDirectory() const { return m_directory; }
        int32_t GetMember() const { return m_member; }
        const std::string& GetName() const { return m_name; }

    private:
        std::string m_name;
        bool m_directory;
        int32_t m_member; // -1 for folders
    };

    class CDirectoryEntry : public CEntry {
    public:
        CDirectoryEntry(std::string name, bool caseSensitive)
            : CEntry(std::move(name), true, -1), m_caseSensitive(caseSensitive)
        {
        }
        bool IsCaseSensitive() const { return m_caseSensitive; }
        void SetCaseSensitive(bool caseSensitive) { m_caseSensitive = caseSensitive; }
        // The child's key: its name, lower-cased when this folder is not case-sensitive.
        std::string KeyOf(const std::string& name) const;
        CEntry* Find(const std::string& name) const;
        // Adds the child unless its key is taken; returns the entry that holds the key.
        CEntry* Add(std::unique_ptr<CEntry> child);
        void ClearChildren() { m_children.clear(); }
        const std::map<std::string, std::unique_ptr<CEntry>>& GetChildren() const { return m_children; }

    private:
        bool m_caseSensitive;
        std::map<std::string, std::unique_ptr<CEntry>> m_children;
    };

    CTARArchive();
    ~CTARArchive() override;
    CTARArchive(const CTARArchive&) = delete;
    CTARArchive& operator=(const CTARArchive&) = delete;

    // Set before Read: folders copy their parent's flag when they are made.
    void SetCaseSensitive(bool caseSensitive);

    // Reads the archive from the stream's current position. A malformed, truncated or inconsistent
    // archive logs one error line and gives false, leaving the archive empty.
    bool Read(Stream* stream);
    // Reads an image held in memory that outlives the archive and its member streams.
    bool ReadImage(const void* data, size_t length);

    // Null for writing: archives are read-only.
    Strong<Stream> Open(const char* path, bool writable) override;
    Strong<Stream> Create(const char* path) override;
    bool Exists(const char* path, bool file, bool directory) override;
    bool Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user) override;

    // Files reachable in the tree (links to files included).
    size_t GetFileCount() const;

private:
    struct tMember {
        std::string m_path;
        char m_type;
        uint64_t m_dataOffset;
        uint64_t m_size;
        int64_t m_modifiedTime;
        std::string m_linkTarget;
    };

    void Clear();
    bool ReadHeaders(Stream& stream);
    void BuildTree();
    // The member index a link finally leads to, or -1.
    int32_t ResolveLink(size_t member, const std::map<std::string, size_t>& byPath) const;
    const CEntry* Lookup(const char* path) const;

    bool m_caseSensitive = true;
    Strong<Stream> m_stream;
    std::vector<tMember> m_members;
    CDirectoryEntry m_root;
};

} // namespace Corvane3D
