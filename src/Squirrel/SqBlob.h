#pragma once
// The blob's storage, shared by the blob and input/output libraries.

#include "SqLibUtil.h"

#include <cstdint>
#include <vector>

namespace Squirrel {

struct CSqBlobData {
    std::vector<uint8_t> bytes;
    SQInteger pos = 0;
};

// Type tag of blob instances (the address is the tag).
extern const char kBlobTypeTag;

// The blob behind the instance at idx, or null.
CSqBlobData* GetBlobData(HSQUIRRELVM v, SQInteger idx);
// Pushes a new blob instance that owns `data`.
bool PushNewBlob(HSQUIRRELVM v, std::vector<uint8_t> data);

} // namespace Squirrel
