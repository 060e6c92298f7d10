#pragma once
// Helpers for tests that work on real files: a temporary folder and small file utilities.

#include "Engine/FileMgr.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace TestFiles {

// A fresh folder under /tmp, removed with everything in it when the test ends.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/halden-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made ? made : "";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& contents)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadAll(Corvane3D::Stream* stream)
{
    std::string text;
    if (!stream)
        return text;
    char buffer[4096];
    while (size_t n = stream->Read(buffer, sizeof buffer))
        text.append(buffer, n);
    return text;
}

struct ListedEntry {
    std::string m_directory;
    std::string m_name;
    bool m_isFile;
    bool m_isDirectory;
};

// Collects what an enumeration reports; stops after `m_stopAfter` entries when that is set.
struct Listing {
    std::vector<ListedEntry> m_entries;
    size_t m_stopAfter = size_t(-1);

    static bool Collect(const Corvane3D::CFileMgr::tDirectoryEntry& entry, void* user)
    {
        auto* listing = static_cast<Listing*>(user);
        listing->m_entries.push_back({entry.m_directory, entry.m_name, entry.m_isFile, entry.m_isDirectory});
        return listing->m_entries.size() < listing->m_stopAfter;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const ListedEntry& entry : m_entries)
            names.push_back(entry.m_name);
        std::sort(names.begin(), names.end());
        return names;
    }

    const ListedEntry* Find(const std::string& name) const
    {
        for (const ListedEntry& entry : m_entries)
            if (entry.m_name == name)
                return &entry;
        return nullptr;
    }
};

} // namespace TestFiles
