#pragma once
// The ordered list of named integer constants that every script engine publishes as globals.
// Defines are only ever appended: no lookup, no de-duplication, nothing removed.

#include <cstdint>
#include <string>
#include <vector>

namespace Corvane3D {

class CDefineHandlers {
public:
    struct IntDefine {
        std::string m_name;
        // Whether m_value is read as unsigned.
        bool m_bUnsigned = false;
        uint32_t m_value = 0;

        int32_t GetSigned() const { return int32_t(m_value); }
        uint32_t GetUnsigned() const { return m_value; }
    };

    void Define(const char* name, int32_t value);
    void Define(const char* name, uint32_t value);

    const std::vector<IntDefine>& GetDefines() const { return m_Defines; }

private:
    std::vector<IntDefine> m_Defines;
};

} // namespace Corvane3D
