#pragma once
// Descriptor-level helpers shared by the real-file operations and the mounted folders.

#include "Engine/Stream.h"

#include <utility>

namespace Corvane3D {

// Owns one file descriptor.
class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(int fd) : m_fd(fd) {}
    ~CFileHandle() { Reset(); }
    CFileHandle(CFileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CFileHandle& operator=(CFileHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }
    explicit operator bool() const { return m_fd >= 0; }
    void Reset();

private:
    int m_fd = -1;
};

// Opens `name` relative to `folder` (AT_FDCWD for the working folder) with the given open flags
// and wraps it in a stdio stream with `mode`. Anything but a regular file is refused, and a FIFO
// cannot block the caller while it is being checked.
Strong<Stream> OpenRegularFile(int folder, const char* name, int flags, const char* mode);

} // namespace Corvane3D
