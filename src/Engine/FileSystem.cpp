#include "Engine/FileSystem.h"

#include "FileHandle.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <unordered_set>

namespace Corvane3D {

namespace {

// Longer chains are almost certainly loops.
constexpr int kMaxLinksFollowed = 40;

void SplitInto(std::string_view path, std::deque<std::string>& out, bool atFront)
{
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        start = end + 1;
    }
    if (atFront)
        out.insert(out.begin(), parts.begin(), parts.end());
    else
        out.insert(out.end(), parts.begin(), parts.end());
}

bool HasParentComponent(std::string_view path)
{
    std::deque<std::string> parts;
    SplitInto(path, parts, false);
    for (const std::string& part : parts)
        if (part == "..")
            return true;
    return false;
}

// Walks a path below a root folder one component at a time with descriptors, so that nothing can
// lead outside the root: every component is opened relative to its parent without following
// links, and links are expanded here and checked against the root instead of by the kernel.
// Swapping a component for a link between two steps makes the walk fail, not escape.
class CConfinedWalk {
public:
    explicit CConfinedWalk(const std::string& root) : m_root(root.empty() ? "/" : root)
    {
        CFileHandle handle(open(m_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (handle)
            m_stack.push_back(std::move(handle));
    }

    // Resolves a virtual path. Afterwards Folder() holds the final entry and Name() is its name,
    // which is never a link that exists; an empty name means the path names that folder itself.
    bool Resolve(std::string_view path, bool makeFolders)
    {
        if (m_stack.empty())
            return false;
        // ".." from outside is refused outright; inside link targets it may climb back to the root.
        if (HasParentComponent(path))
            return false;
        std::deque<std::string> pending;
        SplitInto(path, pending, false);
        int linksFollowed = 0;
        while (!pending.empty()) {
            std::string part = std::move(pending.front());
            pending.pop_front();
            if (part == "..") {
                if (m_stack.size() <= 1)
                    return false;
                m_stack.pop_back();
                continue;
            }
            std::string target;
            if (ReadLink(part, target)) {
                if (++linksFollowed > kMaxLinksFollowed || !EnterLink(target, pending))
                    return false;
                continue;
            }
            if (pending.empty()) {
                m_name = std::move(part);
                return true;
            }
            CFileHandle next(openat(Folder(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next && errno == ENOENT && makeFolders) {
                mkdirat(Folder(), part.c_str(), 0755);
                next = CFileHandle(openat(Folder(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            }
            if (!next)
                return false;
            m_stack.push_back(std::move(next));
        }
        m_name.clear();
        return true;
    }

    int Folder() const { return m_stack.back().Get(); }
    const std::string& Name() const { return m_name; }

    bool Stat(struct stat& status) const
    {
        if (m_name.empty())
            return fstat(Folder(), &status) == 0;
        return fstatat(Folder(), m_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    }

private:
    bool ReadLink(const std::string& name, std::string& target) const
    {
        char buffer[PATH_MAX];
        const ssize_t n = readlinkat(Folder(), name.c_str(), buffer, sizeof buffer);
        if (n < 0)
            return false;
        // A target that fills the buffer may be cut: it is left empty, which refuses the link.
        target.assign(buffer, size_t(n) < sizeof buffer ? size_t(n) : 0);
        return true;
    }

    // Queues a link's target. A relative target continues from the link's folder; an absolute one
    // is accepted only when it points into the root's real location.
    bool EnterLink(const std::string& target, std::deque<std::string>& pending)
    {
        if (target.empty())
            return false;
        if (target.front() == '/') {
            if (m_realRoot.empty()) {
                char* real = realpath(m_root.c_str(), nullptr);
                if (!real)
                    return false;
                m_realRoot = real;
                std::free(real);
            }
            std::string_view rest(target);
            if (m_realRoot != "/") {
                if (rest.substr(0, m_realRoot.size()) != m_realRoot)
                    return false;
                rest.remove_prefix(m_realRoot.size());
                if (!rest.empty() && rest.front() != '/')
                    return false;
            }
            m_stack.resize(1);
            SplitInto(rest, pending, true);
            return true;
        }
        SplitInto(target, pending, true);
        return true;
    }

    std::string m_root;
    std::string m_realRoot;
    std::vector<CFileHandle> m_stack;
    std::string m_name;
};

std::string_view StripOneSlash(const char* path)
{
    std::string_view view(path ? path : "");
    if (!view.empty() && view.front() == '/')
        view.remove_prefix(1);
    return view;
}

// The virtual form every mount receives: with exactly the caller's text and a leading '/'.
std::string NormaliseVirtual(const char* path)
{
    std::string text(path ? path : "");
    if (text.empty() || text.front() != '/')
        text.insert(text.begin(), '/');
    return text;
}

} // namespace

CMountedPath::CMountedPath(std::string basePath) : m_basePath(std::move(basePath)) {}

std::string CMountedPath::RealPath(const char* path) const
{
    const std::string_view rest = StripOneSlash(path);
    if (m_basePath.empty())
        return std::string(path ? path : "");
    std::string real = m_basePath;
    if (rest.empty())
        return real;
    if (real.back() != '/' && real.back() != '\\')
        real += '/';
    real += rest;
    return real;
}

Strong<Stream> CMountedPath::Open(const char* path, bool writable)
{
    CConfinedWalk walk(m_basePath);
    if (!walk.Resolve(StripOneSlash(path), false) || walk.Name().empty())
        return nullptr;
    return OpenRegularFile(walk.Folder(), walk.Name().c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW,
                           writable ? "r+b" : "rb");
}

Strong<Stream> CMountedPath::Create(const char* path)
{
    CConfinedWalk walk(m_basePath);
    if (!walk.Resolve(StripOneSlash(path), true) || walk.Name().empty())
        return nullptr;
    return OpenRegularFile(walk.Folder(), walk.Name().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, "wb+");
}

bool CMountedPath::Exists(const char* path, bool file, bool directory)
{
    CConfinedWalk walk(m_basePath);
    struct stat status {};
    if (!walk.Resolve(StripOneSlash(path), false) || !walk.Stat(status))
        return false;
    return (directory && S_ISDIR(status.st_mode)) || (file && S_ISREG(status.st_mode));
}

bool CMountedPath::Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user)
{
    if (!callback)
        return true;
    const std::string_view virtualFolder = StripOneSlash(directory);
    CConfinedWalk walk(m_basePath);
    if (!walk.Resolve(virtualFolder, false))
        return true;
    CFileHandle handle(openat(walk.Folder(), walk.Name().empty() ? "." : walk.Name().c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!handle)
        return true;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(fdopendir(handle.Get()), closedir);
    if (!folder)
        return true;
    handle.Release();
    const std::string realFolder = RealPath(directory);
    while (dirent* item = readdir(folder.get())) {
        const std::string name(item->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        if (fstatat(dirfd(folder.get()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(status.st_mode)) {
            // A link is listed with what it points to, and only when that lies inside the mount.
            std::string linkPath(virtualFolder);
            linkPath += '/';
            linkPath += name;
            CConfinedWalk linkWalk(m_basePath);
            if (!linkWalk.Resolve(linkPath, false) || !linkWalk.Stat(status))
                continue;
        }
        const CFileMgr::tDirectoryEntry entry{realFolder.c_str(), name.c_str(), S_ISREG(status.st_mode),
                                              S_ISDIR(status.st_mode)};
        if (!callback(entry, user))
            return false;
    }
    return true;
}

CFileSystem::~CFileSystem() = default;

void CFileSystem::Mount(std::unique_ptr<CVirtualFileMgr> fileMgr)
{
    if (fileMgr)
        m_mounts.push_back(std::move(fileMgr));
}

Strong<Stream> CFileSystem::Open(const char* path, bool writable)
{
    const std::string virtualPath = NormaliseVirtual(path);
    for (const auto& mount : m_mounts)
        if (Strong<Stream> stream = mount->Open(virtualPath.c_str(), writable))
            return stream;
    return nullptr;
}

Strong<Stream> CFileSystem::Create(const char* path)
{
    const std::string virtualPath = NormaliseVirtual(path);
    for (const auto& mount : m_mounts)
        if (Strong<Stream> stream = mount->Create(virtualPath.c_str()))
            return stream;
    return nullptr;
}

bool CFileSystem::Exists(const char* path, bool file, bool directory)
{
    const std::string virtualPath = NormaliseVirtual(path);
    for (const auto& mount : m_mounts)
        if (mount->Exists(virtualPath.c_str(), file, directory))
            return true;
    return false;
}

namespace {

struct MergedListing {
    const std::string* m_directory;
    CFileMgr::tEnumerateCallback m_callback;
    void* m_user;
    std::unordered_set<std::string> m_reported;
};

bool ReportMerged(const CFileMgr::tDirectoryEntry& entry, void* user)
{
    auto* listing = static_cast<MergedListing*>(user);
    if (listing->m_reported.count(entry.m_name))
        return true;
    const CFileMgr::tDirectoryEntry merged{listing->m_directory->c_str(), entry.m_name, entry.m_isFile,
                                           entry.m_isDirectory};
    const bool goOn = listing->m_callback(merged, listing->m_user);
    if (goOn)
        listing->m_reported.insert(entry.m_name);
    return goOn;
}

} // namespace

bool CFileSystem::Enumerate(const char* directory, CFileMgr::tEnumerateCallback callback, void* user)
{
    if (!callback)
        return true;
    const std::string virtualDirectory = NormaliseVirtual(directory);
    MergedListing listing{&virtualDirectory, callback, user, {}};
    for (const auto& mount : m_mounts)
        if (!mount->Enumerate(virtualDirectory.c_str(), ReportMerged, &listing))
            return false;
    return true;
}

bool CFileSystem::ResolvePath(const char* path, std::string& realPath)
{
    // The caller uses the result on disk directly, so the confinement of the mount must hold here too.
    if (HasParentComponent(StripOneSlash(path)))
        return false;
    for (const auto& mount : m_mounts) {
        auto* folder = dynamic_cast<CMountedPath*>(mount.get());
        if (!folder || !folder->Exists("/", true, true))
            continue;
        realPath = folder->GetBasePath();
        if (realPath.empty() || realPath.back() != '/')
            realPath += '/';
        realPath += StripOneSlash(path);
        return true;
    }
    return false;
}

std::string CFileSystem::GetExecutableDirectory()
{
    std::string target;
    for (const std::string& link : {std::string("/proc/self/exe"), "/proc/" + std::to_string(getpid()) + "/exe"}) {
        // The link's length is unknown in advance: grow until the target fits.
        for (size_t size = 64; size <= (size_t(1) << 20); size *= 2) {
            std::string buffer(size, '\0');
            const ssize_t n = readlink(link.c_str(), buffer.data(), size);
            if (n < 0)
                break;
            if (size_t(n) < size) {
                target.assign(buffer.data(), size_t(n));
                break;
            }
        }
        if (!target.empty())
            break;
    }
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

} // namespace Corvane3D
