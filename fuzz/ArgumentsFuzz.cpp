// Reads the input as an argument list and as an argument map. Whatever reads must write back,
// with exactly the size it reports, and read again into an equal value; so must its clone.

#include "Engine/CorvaneArguments.h"
#include "Engine/Stream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace Corvane3D;

namespace {

std::vector<uint8_t> PayloadOf(const CArgument& value)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    if (!value.Write(stream))
        std::abort();
    return std::vector<uint8_t>(stream->GetData(), stream->GetData() + stream->GetLength());
}

// Map entries are compared by key: their order on the wire is the hash map's own.
bool Equal(const CArgument& a, const CArgument& b)
{
    if (a.GetType() != b.GetType())
        return false;
    if (a.IsArray()) {
        const auto& left = static_cast<const CArgumentArray&>(a);
        const auto& right = static_cast<const CArgumentArray&>(b);
        if (left.GetArrayCount() != right.GetArrayCount())
            return false;
        for (size_t i = 0; i < left.GetArrayCount(); ++i) {
            if (!Equal(*left.GetAt(i), *right.GetAt(i)))
                return false;
        }
        return true;
    }
    if (a.IsMap()) {
        const auto& left = static_cast<const CArgumentMap&>(a);
        const auto& right = static_cast<const CArgumentMap&>(b);
        if (left.GetMapCount() != right.GetMapCount())
            return false;
        for (const auto& [key, value] : left.GetEntries()) {
            const CArgument* other = right.Get(key);
            if (!other || !Equal(*value, *other))
                return false;
        }
        return true;
    }
    return PayloadOf(a) == PayloadOf(b);
}

void CheckRoundTrip(uint8_t containerType, const uint8_t* data, size_t size)
{
    Strong<CArgument> first = CArgument::Create(containerType);
    if (!first->Read(MakeStrong<CMemoryStream>(data, size)))
        return;

    size_t reported = 0;
    if (!first->GetSize(reported))
        std::abort();
    const std::vector<uint8_t> blob = PayloadOf(*first);
    if (blob.size() != reported)
        std::abort();

    Strong<CArgument> second = CArgument::Create(containerType);
    auto stream = MakeStrong<CMemoryStream>(blob.data(), blob.size());
    if (!second->Read(stream) || stream->GetRemaining() != 0 || !Equal(*first, *second))
        std::abort();

    Strong<CArgument> clone = first->Clone();
    if (!clone || !Equal(*first, *clone))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckRoundTrip(ARGUMENT_ARRAY, data, size);
    CheckRoundTrip(ARGUMENT_MAP, data, size);
    return 0;
}
