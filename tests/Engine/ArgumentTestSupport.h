#pragma once
// Shared by the argument tests: log capture and byte-level helpers for the wire form.

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ArgumentTest {

using Bytes = std::vector<uint8_t>;

// Installs a context for the test's lifetime and records every line it logs.
struct LogCapture : Corvane3D::ILogListener {
    LogCapture()
    {
        context.SetConsole(nullptr);
        context.SetLogListener(this);
        Corvane3D::GGlobal.m_pContext = &context;
    }
    ~LogCapture() override { Corvane3D::GGlobal.m_pContext = nullptr; }

    void OnLogLine(int level, const char* text) override { lines.push_back({level, text}); }

    bool Contains(int level, const std::string& text) const
    {
        for (const auto& line : lines) {
            if (line.level == level && line.text.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> lines;
    Corvane3D::Context context;
};

// The payload as written; `ok` receives Write's result.
inline Bytes WritePayload(const Corvane3D::CArgument& value, bool& ok)
{
    auto stream = Corvane3D::MakeStrong<Corvane3D::CUnlimitedStream>();
    ok = value.Write(stream);
    return Bytes(stream->GetData(), stream->GetData() + stream->GetLength());
}

// Reads `bytes` into `value`; `remaining` receives the bytes left unread.
inline bool ReadPayload(Corvane3D::CArgument& value, const Bytes& bytes, uint64_t* remaining = nullptr)
{
    auto stream = Corvane3D::MakeStrong<Corvane3D::CMemoryStream>(bytes.data(), bytes.size());
    const bool ok = value.Read(stream);
    if (remaining)
        *remaining = stream->GetRemaining();
    return ok;
}

// Little-endian bytes of a trivially copyable value.
template <typename T>
Bytes RawBytes(const T& value)
{
    const auto* begin = reinterpret_cast<const uint8_t*>(&value);
    return Bytes(begin, begin + sizeof(T));
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes result;
    for (const Bytes& part : parts)
        result.insert(result.end(), part.begin(), part.end());
    return result;
}

} // namespace ArgumentTest
