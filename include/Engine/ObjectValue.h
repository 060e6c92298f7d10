#pragma once
// A script-visible object that holds one value.

#include "Engine/BaseObject.h"

#include <utility>

namespace Corvane3D {

// Base of the texture classes; adds nothing.
class Identifiable : public CBaseObject {
};

template <typename T>
class CObjectValue : public CBaseObject {
public:
    CObjectValue() = default;
    explicit CObjectValue(T value) : m_value(std::move(value)) {}

    T& Value() { return m_value; }
    const T& Value() const { return m_value; }

private:
    T m_value{};
};

} // namespace Corvane3D
