#pragma once
// Real-file operations and the interface every mounted file manager implements.

#include "Engine/CorvaneReference.h"
#include "Engine/Stream.h"

namespace Corvane3D {

// Static operations on the host file system. Paths are host paths, used as given.
class CFileMgr {
public:
    // What an enumeration callback receives; the texts live only during the call.
    struct tDirectoryEntry {
        const char* m_directory;
        const char* m_name;
        bool m_isFile;
        bool m_isDirectory;
    };
    // Returns false to stop the enumeration.
    using tEnumerateCallback = bool (*)(const tDirectoryEntry& entry, void* user);

    // A regular file opened for reading ("rb") or reading and writing ("r+b"); null otherwise.
    static Strong<Stream> Open(const char* path, bool writable);
    // Makes every folder level of the path (mode 0755); true when the whole path is a folder afterwards.
    static bool MakeDirectory(const char* path);
    // Makes the folders before the last '/' and creates or truncates the file ("wb+").
    static Strong<Stream> Create(const char* path);
    static bool Exists(const char* path, bool file, bool directory);
    // Calls back once per entry except "." and ".."; false when the callback stopped it.
    // A folder that cannot be opened lists nothing and gives true.
    static bool Enumerate(const char* directory, tEnumerateCallback callback, void* user);
};

// A file manager that can be mounted in the virtual file system. Paths are virtual: '/' separated.
class CVirtualFileMgr {
public:
    virtual ~CVirtualFileMgr() = default;
    // A new stream owned by the caller, or null.
    virtual Strong<Stream> Open(const char* path, bool writable) = 0;
    // Creates or truncates a file and returns it writable, or null.
    virtual Strong<Stream> Create(const char* path) = 0;
    virtual bool Exists(const char* path, bool file, bool directory) = 0;
    // False when the callback stopped the enumeration, else true (also for a missing folder).
    virtual bool Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user) = 0;
};

} // namespace Corvane3D
