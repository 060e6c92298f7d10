// Mounts the input as a TAR archive and reads every member it exposes.
#include "Engine/FileSystem.h"
#include "Engine/TARArchive.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

struct Walk {
    CFileSystem* m_fileSystem;
    std::vector<std::string> m_folders;
};

bool Visit(const CFileMgr::tDirectoryEntry& entry, void* user)
{
    auto* walk = static_cast<Walk*>(user);
    std::string path = entry.m_directory;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += entry.m_name;
    if (entry.m_isDirectory) {
        walk->m_folders.push_back(path);
        return true;
    }
    if (Strong<Stream> stream = walk->m_fileSystem->Open(path.c_str(), false)) {
        unsigned char buffer[4096];
        while (stream->Read(buffer, sizeof buffer) > 0) {
        }
        stream->Seek(0, SEEK_ORIGIN_END);
        stream->Seek(-1, SEEK_ORIGIN_CURRENT);
        stream->Read(buffer, 1);
    }
    walk->m_fileSystem->Exists(path.c_str(), true, true);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto archive = std::make_unique<CTARArchive>();
    if (!archive->ReadImage(data, size))
        return 0;
    CFileSystem fileSystem;
    fileSystem.Mount(std::move(archive));
    Walk walk{&fileSystem, {"/"}};
    while (!walk.m_folders.empty()) {
        const std::string folder = walk.m_folders.back();
        walk.m_folders.pop_back();
        fileSystem.Enumerate(folder.c_str(), Visit, &walk);
    }
    fileSystem.Open("../../etc/passwd", false);
    return 0;
}
