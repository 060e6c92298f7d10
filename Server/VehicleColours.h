#pragma once
// Per-model lists of the colour combinations a vehicle of that model may take.

#include "Engine/Stream.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

struct CVehicleColourDefinition {
    bool m_bRGB = false;
    int32_t m_iColours[4] = {0, 0, 0, 0};
    bool operator==(const CVehicleColourDefinition&) const = default;
};

class CVehicleColours {
public:
    using tDefinitions = std::vector<CVehicleColourDefinition>;

    // The model's list; an empty one is created and kept when the model has none. Never fails.
    tDefinitions& FindDefinitions(uint32_t model);
    void Clear() { m_models.clear(); }
    size_t GetModelCount() const { return m_models.size(); }

    // Reads a colour table ("model c1 c2 [c3 [c4]]" per line, "#" comments). Bad lines are
    // reported as warnings and skipped; a line too long for the 128-byte buffer ends the table.
    void Load(Corvane3D::Stream* stream);

private:
    std::unordered_map<uint32_t, tDefinitions> m_models;
};
