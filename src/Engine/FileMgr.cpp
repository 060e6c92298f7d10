#include "Engine/FileMgr.h"

#include "FileHandle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace Corvane3D {

void CFileHandle::Reset()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

Strong<Stream> OpenRegularFile(int folder, const char* name, int flags, const char* mode)
{
    if (!name || !*name)
        return nullptr;
    CFileHandle handle(openat(folder, name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!handle)
        return nullptr;
    struct stat status {};
    if (fstat(handle.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    const int statusFlags = fcntl(handle.Get(), F_GETFL);
    if (statusFlags < 0 || fcntl(handle.Get(), F_SETFL, statusFlags & ~O_NONBLOCK) != 0)
        return nullptr;
    FILE* file = fdopen(handle.Get(), mode);
    if (!file)
        return nullptr;
    handle.Release();
    return CStandardStream::FromFile(file);
}

Strong<Stream> CFileMgr::Open(const char* path, bool writable)
{
    return OpenRegularFile(AT_FDCWD, path, writable ? O_RDWR : O_RDONLY, writable ? "r+b" : "rb");
}

bool CFileMgr::MakeDirectory(const char* path)
{
    if (!path || !*path)
        return false;
    const std::string text(path);
    for (size_t slash = text.find('/', 1); slash != std::string::npos; slash = text.find('/', slash + 1))
        mkdir(text.substr(0, slash).c_str(), 0755);
    mkdir(path, 0755);
    return Exists(path, false, true);
}

Strong<Stream> CFileMgr::Create(const char* path)
{
    if (!path || !*path)
        return nullptr;
    // Only '/' separates folders on this system: a '\' is part of a name, so it makes no folder.
    const std::string text(path);
    const size_t slash = text.rfind('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectory(text.substr(0, slash).c_str());
    return OpenRegularFile(AT_FDCWD, path, O_RDWR | O_CREAT | O_TRUNC, "wb+");
}

bool CFileMgr::Exists(const char* path, bool file, bool directory)
{
    struct stat status {};
    if (!path || stat(path, &status) != 0)
        return false;
    return (directory && S_ISDIR(status.st_mode)) || (file && S_ISREG(status.st_mode));
}

bool CFileMgr::Enumerate(const char* directory, tEnumerateCallback callback, void* user)
{
    if (!directory || !callback)
        return true;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(directory), closedir);
    if (!folder)
        return true;
    std::string prefix(directory);
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\')
        prefix += '/';
    while (dirent* item = readdir(folder.get())) {
        const std::string name(item->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        if (stat((prefix + name).c_str(), &status) != 0)
            continue;
        const tDirectoryEntry entry{directory, name.c_str(), S_ISREG(status.st_mode), S_ISDIR(status.st_mode)};
        if (!callback(entry, user))
            return false;
    }
    return true;
}

} // namespace Corvane3D
