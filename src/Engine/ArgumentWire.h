#pragma once
// Scalar reads and writes for the argument wire form, through the reader's and writer's
// out-of-line byte operations: all or nothing, and checked against what remains.

#include "Engine/CorvaneStream.h"

#include <type_traits>

namespace Corvane3D::ArgumentWire {

template <typename T>
bool ReadScalar(CBinaryReader& reader, T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T result;
    if (!reader.Read(&result, sizeof(T)))
        return false;
    value = result;
    return true;
}

template <typename T>
bool WriteScalar(CBinaryWriter& writer, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    return writer.Write(&value, sizeof(T));
}

} // namespace Corvane3D::ArgumentWire
