#include "Engine/TextStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Corvane3D {

void AppendUTF8(std::string& out, uint32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

void CTextReader::DetermineEncoding()
{
    unsigned char mark[4] = {0, 0, 0, 0};
    const size_t got = m_stream ? m_stream->Read(mark, 4) : 0;
    size_t skip = 0;
    m_bigEndian = false;
    if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
        m_encoding = TEXT_ENCODING_UTF8;
        skip = 3;
    } else if (mark[0] == 0xFF && mark[1] == 0xFE) {
        m_encoding = TEXT_ENCODING_UTF16;
        skip = 2;
    } else if (mark[0] == 0xFE && mark[1] == 0xFF) {
        m_encoding = TEXT_ENCODING_UTF16;
        m_bigEndian = true;
        skip = 2;
    } else if (mark[0] == 0 && mark[1] == 0 && mark[2] == 0xFE && mark[3] == 0xFF) {
        m_encoding = TEXT_ENCODING_UTF32;
        m_bigEndian = true;
        skip = 4;
    } else {
        m_encoding = TEXT_ENCODING_UTF8;
    }
    // A short file may have delivered fewer than four bytes; never skip what was not read.
    skip = std::min(skip, got);
    if (m_stream)
        m_stream->Seek(int64_t(skip) - int64_t(got), SEEK_ORIGIN_CURRENT);
}

bool CTextReader::Load()
{
    if (!m_stream)
        return false;
    if (m_encoding == TEXT_ENCODING_UNDETERMINED)
        DetermineEncoding();
    const uint64_t remaining = m_stream->GetRemaining();
    if (remaining > (uint64_t(1) << 31))
        return false;
    std::string raw(size_t(remaining), '\0');
    raw.resize(remaining ? m_stream->Read(raw.data(), raw.size()) : 0);

    m_text.clear();
    m_position = 0;
    if (m_encoding == TEXT_ENCODING_UTF8) {
        m_text = std::move(raw);
    } else if (m_encoding == TEXT_ENCODING_UTF16) {
        // Full UTF-16 decoding with surrogate pairs, so text beyond Latin-1 survives.
        auto unit = [&](size_t i) -> uint32_t {
            const auto a = uint8_t(raw[i]), b = uint8_t(raw[i + 1]);
            return m_bigEndian ? (uint32_t(a) << 8 | b) : (uint32_t(b) << 8 | a);
        };
        const size_t units = raw.size() / 2;
        m_text.reserve(units);
        for (size_t i = 0; i < units; ++i) {
            uint32_t cp = unit(i * 2);
            if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units) {
                const uint32_t low = unit((i + 1) * 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            AppendUTF8(m_text, cp);
        }
    } else if (m_encoding == TEXT_ENCODING_UTF32) {
        const size_t units = raw.size() / 4;
        for (size_t i = 0; i < units; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(raw.data() + i * 4);
            const uint32_t cp = m_bigEndian ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                                            : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
            AppendUTF8(m_text, cp);
        }
    }
    m_loaded = true;
    return true;
}

bool CTextReader::EnsureLoaded()
{
    return m_loaded || Load();
}

const char* CTextReader::LoadText(size_t* length)
{
    if (!EnsureLoaded())
        return nullptr;
    if (length)
        *length = m_text.size();
    return m_text.c_str();
}

size_t CTextReader::Read(void* buffer, size_t count)
{
    if (!EnsureLoaded() || m_position >= m_text.size() || !buffer)
        return 0;
    const size_t n = std::min(count, m_text.size() - m_position);
    std::memcpy(buffer, m_text.data() + m_position, n);
    m_position += n;
    return n;
}

bool CTextReader::ReadCharacter(uint32_t& character)
{
    if (!EnsureLoaded() || m_position >= m_text.size())
        return false;
    const auto lead = uint8_t(m_text[m_position++]);
    if (lead < 0x80) {
        character = lead;
        return true;
    }
    int follow;
    uint32_t value;
    if ((lead & 0xE0) == 0xC0) {
        follow = 1;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        follow = 2;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        follow = 3;
        value = lead & 0x07;
    } else {
        // A stray continuation or invalid byte is consumed and skipped.
        return true;
    }
    for (int i = 0; i < follow; ++i) {
        if (m_position >= m_text.size())
            return false;
        const auto byte = uint8_t(m_text[m_position++]);
        if ((byte & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (byte & 0x3F);
    }
    character = value;
    return true;
}

bool CTextReader::ReadLine(char* buffer, size_t size, size_t* length)
{
    if (!buffer || size == 0 || !EnsureLoaded() || m_position >= m_text.size())
        return false;
    const size_t start = m_position;
    const size_t feed = m_text.find('\n', start);
    const size_t end = feed == std::string::npos ? m_text.size() : feed;
    m_position = feed == std::string::npos ? m_text.size() : feed + 1;
    size_t lineLength = end - start;
    if (feed != std::string::npos && lineLength > 0 && m_text[end - 1] == '\r')
        --lineLength;
    if (lineLength > size - 1)
        return false;
    std::memcpy(buffer, m_text.data() + start, lineLength);
    buffer[lineLength] = '\0';
    if (length)
        *length = lineLength;
    return true;
}

bool CTextReader::ReadLine(std::string& line)
{
    if (!EnsureLoaded() || m_position >= m_text.size())
        return false;
    const size_t start = m_position;
    const size_t feed = m_text.find('\n', start);
    const size_t end = feed == std::string::npos ? m_text.size() : feed;
    m_position = feed == std::string::npos ? m_text.size() : feed + 1;
    size_t lineLength = end - start;
    if (feed != std::string::npos && lineLength > 0 && m_text[end - 1] == '\r')
        --lineLength;
    line.assign(m_text, start, lineLength);
    return true;
}

bool CTextReader::Seek(int64_t offset, int origin)
{
    if (!EnsureLoaded())
        return false;
    int64_t base = 0;
    if (origin == SEEK_ORIGIN_CURRENT)
        base = int64_t(m_position);
    else if (origin == SEEK_ORIGIN_END)
        base = int64_t(m_text.size());
    else if (origin != SEEK_ORIGIN_BEGIN)
        return false;
    const int64_t target = base + offset;
    if (target < 0)
        return false;
    m_position = size_t(target);
    return true;
}

size_t CTextReader::GetLength()
{
    return EnsureLoaded() ? m_text.size() : 0;
}

bool CTextWriter::WriteBOM()
{
    if (!m_stream)
        return false;
    static const unsigned char utf8[] = {0xEF, 0xBB, 0xBF};
    static const unsigned char utf16le[] = {0xFF, 0xFE};
    static const unsigned char utf16be[] = {0xFE, 0xFF};
    static const unsigned char utf32le[] = {0xFF, 0xFE, 0x00, 0x00};
    static const unsigned char utf32be[] = {0x00, 0x00, 0xFE, 0xFF};
    const unsigned char* mark = utf8;
    size_t size = sizeof utf8;
    if (m_encoding == TEXT_ENCODING_UTF16) {
        mark = m_bigEndian ? utf16be : utf16le;
        size = 2;
    } else if (m_encoding == TEXT_ENCODING_UTF32) {
        mark = m_bigEndian ? utf32be : utf32le;
        size = 4;
    }
    return m_stream->Write(mark, size) == size;
}

bool CTextWriter::Write(const char* text, size_t length)
{
    if (!m_stream)
        return false;
    if (m_stream->Tell() == 0 && !WriteBOM())
        return false;
    if (length == 0)
        return true;
    return text && m_stream->Write(text, length) == length;
}

bool CTextWriter::VPrint(const char* format, va_list arguments)
{
    char buffer[4096];
    int n = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    if (n < 0)
        return false;
    return Write(buffer, std::min<size_t>(size_t(n), sizeof buffer - 1));
}

bool CTextWriter::Print(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const bool result = VPrint(format, arguments);
    va_end(arguments);
    return result;
}

} // namespace Corvane3D
