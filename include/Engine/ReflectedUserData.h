#pragma once
// Per-engine records kept inside a reflected class: each script engine stores its own view of
// the class here and is asked to free it when the class is cleared.

#include <array>
#include <cstddef>
#include <cstdint>

namespace Corvane3D {

class ReflectedUserData {
public:
    static constexpr size_t MaxEntries = 16;
    // Receives the address of the entry's data pointer.
    using Deleter = void (*)(void** data);

    ReflectedUserData() = default;
    ~ReflectedUserData() { Clear(); }
    ReflectedUserData(const ReflectedUserData&) = delete;
    ReflectedUserData& operator=(const ReflectedUserData&) = delete;

    // Appends an entry and hands back its data slot (initially null); null when all 16 entries
    // are taken. Slots keep their address until Clear.
    void** AddUserData(uint32_t engineId, Deleter deleter);
    // The data of the first entry with that id, or null.
    void* GetUserData(uint32_t engineId) const;
    // Runs every deleter in order and empties the list.
    void Clear();

    size_t GetCount() const { return m_count; }

private:
    struct Entry {
        uint32_t engineId = 0;
        Deleter deleter = nullptr;
        void* data = nullptr;
    };
    std::array<Entry, MaxEntries> m_entries{};
    size_t m_count = 0;
};

} // namespace Corvane3D
