#include "ElementXML.h"

#include "Engine/TextStream.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Corvane3D::ElementXML {

namespace {

// ---- Text preparation ----

// Length of the valid UTF-8 sequence at `p` (at most `available` bytes), or 0 when the bytes
// there do not form one: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t SequenceLength(const unsigned char* p, size_t available)
{
    const unsigned char lead = p[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

bool IsSkippedByParser(const unsigned char* p, size_t length)
{
    return length == 3 && p[0] == 0xEF &&
           ((p[1] == 0xBB && p[2] == 0xBF) || (p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)));
}

// ---- The parser's reading of markup ----
// These follow the parser's character classes: letters are ASCII letters and every byte from
// 127 up; white space is what isspace() says.

bool IsSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool IsNameStart(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 127 || std::isalpha(byte) || c == '_';
}

bool IsNameCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 127 || std::isalnum(byte) || c == '_' || c == '-' || c == '.' || c == ':';
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool StartsWith(const char* p, const char* prefix)
{
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

bool StartsWithNoCase(const char* p, const char* prefix)
{
    for (; *prefix; ++p, ++prefix) {
        if (!*p || std::tolower(static_cast<unsigned char>(*p)) != std::tolower(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

const char* SkipSpaces(const char* p)
{
    while (*p && IsSpace(*p))
        ++p;
    return p;
}

const char* SkipName(const char* p)
{
    while (*p && IsNameCharacter(*p))
        ++p;
    return p;
}

// Just after the first `c` at or after p, or the terminator when there is none.
const char* SkipPast(const char* p, char c)
{
    const char* found = std::strchr(p, c);
    return found ? found + 1 : p + std::strlen(p);
}

// A '&' in text or in a quoted value. A numeric reference runs to the next ';' as long as the
// characters just before it are digits back to the nearest '#' (or 'x'), so it can take in
// markup: the parser steps over all of it. Null where the parser gives up.
const char* SkipReference(const char* p)
{
    if (p[1] != '#' || !p[2])
        return p + 1; // named references hold no markup; anything else is a plain '&'
    const bool hex = p[2] == 'x';
    if (hex && !p[3])
        return nullptr;
    const char* semicolon = std::strchr(p + (hex ? 3 : 2), ';');
    if (!semicolon)
        return nullptr;
    for (const char* q = semicolon - 1; *q != (hex ? 'x' : '#'); --q) {
        if (hex ? !IsHexDigit(*q) : !(*q >= '0' && *q <= '9'))
            return nullptr;
    }
    return semicolon + 1;
}

// Text up to the next '<'; null where the parser gives up.
const char* SkipText(const char* p)
{
    while (*p && *p != '<') {
        p = *p == '&' ? SkipReference(p) : p + 1;
        if (!p)
            return nullptr;
    }
    return p;
}

// One attribute at p (not white space, '/' or '>'); the position after it, or null.
const char* SkipAttribute(const char* p)
{
    if (!IsNameStart(*p))
        return nullptr;
    p = SkipName(p);
    if (!*p)
        return nullptr;
    p = SkipSpaces(p);
    if (*p != '=')
        return nullptr;
    p = SkipSpaces(p + 1);
    if (!*p)
        return nullptr;
    if (*p == '\'' || *p == '"') {
        const char quote = *p++;
        while (*p && *p != quote) {
            p = *p == '&' ? SkipReference(p) : p + 1;
            if (!p)
                return nullptr;
        }
        return *p ? p + 1 : nullptr;
    }
    // Unquoted values end at white space, '/' or '>'; a quote inside one is an error.
    while (*p && !IsSpace(*p) && *p != '/' && *p != '>') {
        if (*p == '\'' || *p == '"')
            return nullptr;
        ++p;
    }
    return p;
}

// A start tag from its name (p just after '<'). `opens` tells whether content follows.
const char* SkipStartTag(const char* p, bool& opens)
{
    p = SkipName(p);
    if (!*p)
        return nullptr;
    for (;;) {
        p = SkipSpaces(p);
        if (!*p)
            return nullptr;
        if (*p == '/') {
            if (p[1] != '>')
                return nullptr;
            opens = false;
            return p + 2;
        }
        if (*p == '>') {
            opens = true;
            return p + 1;
        }
        p = SkipAttribute(p);
        if (!p || !*p)
            return nullptr;
    }
}

// A declaration from just after "<?xml": only its version, encoding and standalone values are
// read as attributes; anything else is passed over up to white space or '>'.
const char* SkipDeclaration(const char* p)
{
    while (*p) {
        if (*p == '>')
            return p + 1;
        p = SkipSpaces(p);
        if (StartsWithNoCase(p, "version") || StartsWithNoCase(p, "encoding") || StartsWithNoCase(p, "standalone")) {
            p = SkipAttribute(p);
            if (!p)
                return nullptr;
        } else {
            while (*p && *p != '>' && !IsSpace(*p))
                ++p;
        }
    }
    return nullptr;
}

std::string Describe(const TiXmlDocument& document)
{
    char text[512];
    // The parser gives no position when it ran out of text.
    if (document.ErrorRow() > 0)
        std::snprintf(text, sizeof text, "%s (line %d, column %d)", document.ErrorDesc(), document.ErrorRow(),
                      document.ErrorCol());
    else
        std::snprintf(text, sizeof text, "%s (at the end of the text)", document.ErrorDesc());
    return text;
}

} // namespace

std::string PrepareText(const char* text, size_t length)
{
    std::string out;
    out.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            out += char(bytes[i++]);
            continue;
        }
        const size_t sequence = SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            AppendUTF8(out, bytes[i++]);
            continue;
        }
        if (!IsSkippedByParser(bytes + i, sequence))
            out.append(text + i, sequence);
        i += sequence;
    }
    return out;
}

size_t MeasureNesting(const char* p, size_t limit)
{
    size_t depth = 0, deepest = 0;
    while (p && *p) {
        if (*p != '<') {
            p = SkipText(p);
        } else if (p[1] == '/') {
            // An end tag; on the parser's successful path its '>' is the first one.
            if (depth > 0)
                --depth;
            p = SkipPast(p + 2, '>');
        } else if (StartsWithNoCase(p, "<?xml")) {
            p = SkipDeclaration(p + 5);
        } else if (StartsWith(p, "<!--")) {
            const char* end = std::strstr(p + 4, "-->");
            p = end ? end + 3 : nullptr;
        } else if (StartsWith(p, "<![CDATA[")) {
            const char* end = std::strstr(p + 9, "]]>");
            p = end ? end + 3 : nullptr;
        } else if (IsNameStart(p[1])) {
            // The parser adds the element to the tree before it reads the tag (it stays there when
            // the tag is broken), and an empty element is a level of the tree too.
            deepest = std::max(deepest, depth + 1);
            if (deepest > limit)
                break;
            bool opens = false;
            p = SkipStartTag(p + 1, opens);
            if (p && opens)
                ++depth;
        } else {
            // "<!DOCTYPE ...", "<?other ...>" and stray '<': passed over up to '>'.
            p = SkipPast(p + 1, '>');
        }
    }
    return deepest;
}

std::unique_ptr<CElementChunk> CreateElement()
{
    std::unique_ptr<CChunk> chunk = CChunkTypes::_Create(CHUNK_ELEMENT);
    if (auto* element = dynamic_cast<CElementChunk*>(chunk.get())) {
        chunk.release();
        return std::unique_ptr<CElementChunk>(element);
    }
    return std::make_unique<CElementChunk>();
}

std::unique_ptr<CElementChunk> Load(const char* text, size_t length, std::string& reason)
{
    const std::string prepared = PrepareText(text, length);
    // The parser recurses per element level (and so does the tree it builds); refuse deep nesting
    // before the parser sees it.
    if (MeasureNesting(prepared.c_str(), MaxChunkDepth) > MaxChunkDepth) {
        reason = "elements are nested deeper than " + std::to_string(MaxChunkDepth) + " levels";
        return nullptr;
    }
    TiXmlDocument document;
    document.Parse(prepared.c_str());
    // A document with an error is refused whole, not returned as the part read before it.
    if (document.Error()) {
        reason = Describe(document);
        return nullptr;
    }
    const TiXmlElement* root = document.RootElement();
    if (!root) {
        reason = "the document has no root element";
        return nullptr;
    }
    std::unique_ptr<CElementChunk> element = CreateElement();
    if (!Associate(element.get(), root)) {
        reason = "elements are nested deeper than " + std::to_string(MaxChunkDepth) + " levels";
        return nullptr;
    }
    return element;
}

} // namespace Corvane3D::ElementXML

namespace Corvane3D {

bool Associate(CElementChunk* chunk, const TiXmlElement* element, unsigned depth)
{
    if (!chunk || !element || depth > MaxChunkDepth)
        return false;
    chunk->SetName(element->ValueStr());
    // Only a leading text node is the element's text; text after a child element is not kept.
    if (const TiXmlNode* first = element->FirstChild(); first && first->ToText())
        chunk->SetText(first->ValueStr());
    for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute; attribute = attribute->Next())
        chunk->SetAttribute(attribute->NameTStr(), attribute->ValueStr());
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
        auto* made = static_cast<CElementChunk*>(chunk->AddChild(ElementXML::CreateElement()));
        if (!Associate(made, child, depth + 1))
            return false;
    }
    return true;
}

} // namespace Corvane3D
