// Loads the input as XML text. Checks that the nesting bound the loader relies on is never below
// what the parser actually builds (the parser keeps the tree it made before an error), that the
// text handed to the parser is valid UTF-8, and that whatever loads saves and loads again.

#include "../src/Engine/ElementXML.h"

#include "Engine/CorvaneHBF.h"
#include "Engine/Stream.h"

#include <tinyxml.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace Corvane3D;

namespace {

// Deepest element level of the parser's tree, walked without recursion.
size_t ParsedDepth(const TiXmlNode& document)
{
    size_t deepest = 0;
    std::vector<std::pair<const TiXmlNode*, size_t>> pending{{&document, 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        const size_t level = depth + (node->ToElement() ? 1 : 0);
        if (level > deepest)
            deepest = level;
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
            pending.emplace_back(child, level);
    }
    return deepest;
}

bool IsValidUTF8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = p[i];
        size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                      : lead >= 0xF0 && lead <= 0xF4   ? 4
                                                                        : 0;
        if (length == 0 || i + length > n)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const std::string prepared = ElementXML::PrepareText(text, size);
    if (!IsValidUTF8(prepared))
        std::abort();

    // Inputs are small enough here for the parser's recursion; the bound must cover it.
    const size_t bound = ElementXML::MeasureNesting(prepared.c_str(), size_t(-1));
    if (bound <= 2048) {
        TiXmlDocument document;
        document.Parse(prepared.c_str());
        if (ParsedDepth(document) > bound)
            std::abort();
    }

    std::string reason;
    auto element = CElementChunk::Load(MakeStrong<CMemoryStream>(data, size), reason);
    if (!element) {
        if (reason.empty())
            std::abort();
        return 0;
    }
    auto saved = MakeStrong<CUnlimitedStream>();
    if (!element->Save(saved, CHUNK_COMPRESSION_NONE))
        std::abort();
    saved->Rewind();
    auto again = CElementChunk::Load(saved);
    if (!again || again->GetName() != element->GetName() || again->GetChildCount() != element->GetChildCount())
        std::abort();
    for (CElementChunk* child : element->FindElements(element->GetName()))
        child->Attribute(child->GetName());
    return 0;
}
