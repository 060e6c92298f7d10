#pragma once
// Console variables: named text settings that the server sends to every client.

#include <cstdint>
#include <string>
#include <unordered_map>

namespace Corvane3D {

class CVarSystem {
public:
    struct tCVar {
        uint32_t m_nameHash = 0;
        std::string m_name;
        std::string m_value;
        // Variables from server.xml; scripts may not change them.
        bool m_readOnly = false;
    };

    // Names match without regard to letter case: the key is the CRC-32 of the lower-cased name.
    tCVar* Find(const char* name);
    // Replaces the value of an existing variable (name and mark unchanged), or creates one with
    // the read-only mark clear when `create` is set. False only when it may not create.
    bool Set(const char* name, const char* value, bool create = true);

    const std::unordered_map<uint32_t, tCVar>& GetAll() const { return m_vars; }
    size_t GetCount() const { return m_vars.size(); }

private:
    std::unordered_map<uint32_t, tCVar> m_vars;
};

} // namespace Corvane3D
