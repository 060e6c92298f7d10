#pragma once
// The virtual file system: an ordered list of mounted folders and archives.

#include "Engine/FileMgr.h"

#include <memory>
#include <string>
#include <vector>

namespace Corvane3D {

// A folder on disk. Every virtual path stays below it: ".." components are refused, and symbolic
// links are followed only while they stay inside the folder.
class CMountedPath : public CVirtualFileMgr {
public:
    // An empty base mounts the whole host file system.
    explicit CMountedPath(std::string basePath);

    Strong<Stream> Open(const char* path, bool writable) override;
    // Makes missing folders on the way, like CFileMgr::Create.
    Strong<Stream> Create(const char* path) override;
    bool Exists(const char* path, bool file, bool directory) override;
    // Entries report the real folder path as their directory.
    bool Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user) override;

    const std::string& GetBasePath() const { return m_basePath; }

private:
    std::string RealPath(const char* path) const;

    std::string m_basePath;
};

// The process's virtual file system; owns its mounts. Lookups try the mounts in mount order.
class CFileSystem : public CVirtualFileMgr {
public:
    CFileSystem() = default;
    ~CFileSystem() override;
    CFileSystem(const CFileSystem&) = delete;
    CFileSystem& operator=(const CFileSystem&) = delete;

    void Mount(std::unique_ptr<CVirtualFileMgr> fileMgr);
    size_t GetMountCount() const { return m_mounts.size(); }

    Strong<Stream> Open(const char* path, bool writable) override;
    Strong<Stream> Create(const char* path) override;
    bool Exists(const char* path, bool file, bool directory) override;
    // Merged listing: a name present in several mounts is reported once, from the earliest mount.
    bool Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user) override;

    // The disk path of a virtual path in the first folder mount; false when there is none or the
    // path would leave it.
    bool ResolvePath(const char* path, std::string& realPath);

    // The folder of the running executable with its trailing '/', or empty when it cannot be read.
    static std::string GetExecutableDirectory();

private:
    std::vector<std::unique_ptr<CVirtualFileMgr>> m_mounts;
};

} // namespace Corvane3D
