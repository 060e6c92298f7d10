// Loads the input as a chunked document three ways: as it is, as the plain body of a version 8
// document and as the zlib-compressed body of one. Whatever loads must save and load again into
// an equal tree.

#include "Engine/CorvaneHBF.h"
#include "Engine/Stream.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

std::string Bytes(CUnlimitedStream& stream)
{
    return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetLength());
}

std::string PayloadOf(const CArgument& value)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    if (!value.Write(stream))
        std::abort();
    return Bytes(*stream);
}

// Attribute maps are compared by key: their order on the wire is the hash map's own.
bool SameMap(const CArgumentMap& a, const CArgumentMap& b)
{
    if (a.GetMapCount() != b.GetMapCount())
        return false;
    for (const auto& [key, value] : a.GetEntries()) {
        const CArgument* other = b.Get(key);
        if (!other || other->GetType() != value->GetType())
            return false;
        if (value->IsMap() ? !SameMap(static_cast<const CArgumentMap&>(*value), static_cast<const CArgumentMap&>(*other))
                           : PayloadOf(*value) != PayloadOf(*other))
            return false;
    }
    return true;
}

bool Same(const CChunk& a, const CChunk& b)
{
    if (a.GetType() != b.GetType() || a.GetName() != b.GetName() || a.GetChildCount() != b.GetChildCount())
        return false;
    const auto* elementA = dynamic_cast<const CElementChunk*>(&a);
    const auto* elementB = dynamic_cast<const CElementChunk*>(&b);
    if (bool(elementA) != bool(elementB))
        return false;
    if (elementA) {
        size_t lengthA, lengthB;
        const char* textA = elementA->GetText(&lengthA);
        const char* textB = elementB->GetText(&lengthB);
        if (lengthA != lengthB || std::memcmp(textA, textB, lengthA) != 0 ||
            !SameMap(*elementA->GetAttributes(), *elementB->GetAttributes()))
            return false;
    } else {
        auto dataA = MakeStrong<CUnlimitedStream>();
        auto dataB = MakeStrong<CUnlimitedStream>();
        if (!a.WriteData(dataA) || !b.WriteData(dataB) || Bytes(*dataA) != Bytes(*dataB))
            return false;
    }
    for (size_t i = 0; i < a.GetChildCount(); ++i) {
        if (a.GetChild(i)->GetIndex() != i || a.GetChild(i)->GetParent() != &a || !Same(*a.GetChild(i), *b.GetChild(i)))
            return false;
    }
    return true;
}

void LoadAndRoundTrip(const std::string& bytes)
{
    std::string reason;
    auto element = CElementChunk::Load(MakeStrong<CMemoryStream>(bytes.data(), bytes.size()), reason);
    if (!element) {
        if (reason.empty())
            std::abort();
        return;
    }
    for (eChunkCompression compression : {CHUNK_COMPRESSION_NONE, CHUNK_COMPRESSION_ZLIB}) {
        auto saved = MakeStrong<CUnlimitedStream>();
        if (!element->Save(saved, compression))
            std::abort();
        saved->Rewind();
        auto again = CElementChunk::Load(saved);
        if (!again || !Same(*element, *again))
            std::abort();
    }
    // The accessors readers use walk the tree without trouble.
    for (CElementChunk* child : element->FindElements(element->GetName()))
        child->Attribute(child->GetName());
}

std::string Header(uint8_t compression)
{
    std::string header = "HBF";
    header += char(compression);
    const uint32_t version = 8, reserved = 0;
    header.append(reinterpret_cast<const char*>(&version), 4);
    header.append(reinterpret_cast<const char*>(&reserved), 4);
    return header;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    LoadAndRoundTrip(input);
    LoadAndRoundTrip(Header(CHUNK_COMPRESSION_NONE) + input);

    uLongf packedSize = compressBound(uLong(size));
    std::vector<Bytef> packed(packedSize);
    if (compress2(packed.data(), &packedSize, data, uLong(size), 1) == Z_OK) {
        const uint32_t sizes[2] = {uint32_t(size), uint32_t(packedSize)};
        const int32_t kept = 0;
        std::string document = Header(CHUNK_COMPRESSION_ZLIB);
        document.append(reinterpret_cast<const char*>(sizes), sizeof sizes);
        document.append(reinterpret_cast<const char*>(&kept), sizeof kept);
        document.append(reinterpret_cast<const char*>(packed.data()), packedSize);
        LoadAndRoundTrip(document);
    }
    return 0;
}
