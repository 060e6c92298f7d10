#pragma once
// Plain vector types; three 32-bit reals travel as three Singles on the wire.

namespace Corvane3D {

struct CVector2D {
    float x = 0.0f;
    float y = 0.0f;
    bool operator==(const CVector2D&) const = default;
};

struct CVector3D {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    bool operator==(const CVector3D&) const = default;
};

} // namespace Corvane3D
