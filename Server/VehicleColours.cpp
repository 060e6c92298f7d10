#include "VehicleColours.h"

#include "Engine/Context.h"
#include "Engine/TextStream.h"

#include <cstdio>

using namespace Corvane3D;

CVehicleColours::tDefinitions& CVehicleColours::FindDefinitions(uint32_t model)
{
    return m_models[model];
}

void CVehicleColours::Load(Stream* stream)
{
    if (!stream)
        return;
    CTextReader reader(stream);
    char line[128];
    int lineNumber = 0;
    while (reader.ReadLine(line, sizeof line)) {
        ++lineNumber;
        if (line[0] == '\0' || line[0] == '#' || line[0] == '\r' || line[0] == '\n')
            continue;
        int values[5] = {0, 0, 0, 0, 0};
        const int count = std::sscanf(line, "%d %d %d %d %d", &values[0], &values[1], &values[2], &values[3], &values[4]);
        if (count < 3) {
            if (Context* context = GetContext())
                context->LogWarn("vehiclecolours.conf[%d] - bad syntax '%s'", lineNumber, line);
            continue;
        }
        CVehicleColourDefinition definition;
        for (int i = 0; i < 4; ++i)
            definition.m_iColours[i] = (i + 1 < count) ? (values[i + 1] & 0xFF) : 0;
        FindDefinitions(uint32_t(values[0])).push_back(definition);
    }
}
