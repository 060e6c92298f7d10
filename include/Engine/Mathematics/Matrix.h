#pragma once
// A 4x4 matrix of 32-bit reals stored row by row; points are rows, so the translation sits in
// the fourth row. Element (row i, column j), both from 0, is at index 4i + j.

#include <cstddef>

namespace Corvane3D {

struct CMatrix4x4 {
    float m[16] = {};

    float& operator[](size_t index) { return m[index]; }
    float operator[](size_t index) const { return m[index]; }
    bool operator==(const CMatrix4x4&) const = default;
};

} // namespace Corvane3D
