#pragma once
// Guards around the XML parser. The parser recurses once per element level and steps over
// multi-byte characters by their lead byte alone, so text from outside is made safe for it
// before it is parsed.

#include "Engine/CorvaneHBF.h"

#include <cstddef>
#include <memory>
#include <string>

namespace Corvane3D::ElementXML {

// The text as the parser should see it: valid UTF-8 is kept, every byte that is not part of a
// valid sequence is taken as a Latin-1 character, and the characters U+FEFF, U+FFFE and U+FFFF
// (which the parser skips as white space in some modes only) are dropped. On the result every
// multi-byte step of the parser lands on a character boundary, so it can neither swallow markup
// nor run past the terminator.
std::string PrepareText(const char* text, size_t length);

// An upper bound of the element nesting the parser reaches on prepared, NUL-terminated text. The
// scan follows the parser's own reading of markup (tags, quoted values, character references,
// comments, CDATA sections, declarations) and stops where the parser gives up, or as soon as the
// nesting exceeds `limit`.
size_t MeasureNesting(const char* text, size_t limit);

// The root element of XML text, or null with the reason (the parser's message and position).
std::unique_ptr<CElementChunk> Load(const char* text, size_t length, std::string& reason);

// A new element chunk made through the chunk registry.
std::unique_ptr<CElementChunk> CreateElement();

} // namespace Corvane3D::ElementXML
