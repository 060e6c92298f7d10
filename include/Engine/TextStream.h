#pragma once
// Text files with byte-order-mark handling, decoded to UTF-8.

#include "Engine/Stream.h"

#include <cstdarg>
#include <cstdint>
#include <string>

namespace Corvane3D {

enum eTextEncoding : int {
    TEXT_ENCODING_UNDETERMINED = 0,
    TEXT_ENCODING_UTF8 = 1,
    TEXT_ENCODING_UTF16 = 2,
    TEXT_ENCODING_UTF32 = 3,
};

class CTextReader {
public:
    explicit CTextReader(Stream* stream) : m_stream(stream) {}

    // Reads up to four bytes, recognises a byte-order mark and leaves the stream just after it.
    void DetermineEncoding();
    // Decodes the rest of the stream into UTF-8 text.
    bool Load();
    // The whole decoded text, loading it first if needed; null when there is none.
    const char* LoadText(size_t* length = nullptr);

    size_t Read(void* buffer, size_t count);
    // One UTF-8 character; false at the end of the text or on a broken sequence.
    bool ReadCharacter(uint32_t& character);
    // The next line without its line feed (and one carriage return before it). False at the end
    // of the text, and when the line does not fit in size - 1 bytes; such a line is skipped whole.
    bool ReadLine(char* buffer, size_t size, size_t* length = nullptr);
    bool ReadLine(std::string& line);

    size_t Tell() const { return m_position; }
    bool Seek(int64_t offset, int origin);
    size_t GetLength();

    eTextEncoding GetEncoding() const { return m_encoding; }
    bool IsBigEndian() const { return m_bigEndian; }

private:
    bool EnsureLoaded();

    Strong<Stream> m_stream;
    eTextEncoding m_encoding = TEXT_ENCODING_UNDETERMINED;
    bool m_bigEndian = false;
    bool m_loaded = false;
    std::string m_text;
    size_t m_position = 0;
};

class CTextWriter {
public:
    explicit CTextWriter(Stream* stream) : m_stream(stream) {}

    // Writes the UTF-8 byte-order mark first when the stream stands at position 0.
    bool Write(const char* text, size_t length);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // Formats into 4096 bytes (longer output is cut) and writes it.
    bool Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool VPrint(const char* format, va_list arguments);
    bool WriteBOM();

private:
    Strong<Stream> m_stream;
    eTextEncoding m_encoding = TEXT_ENCODING_UTF8;
    bool m_bigEndian = false;
};

// Appends the UTF-8 form of one code point.
void AppendUTF8(std::string& out, uint32_t codePoint);

} // namespace Corvane3D
