#pragma once
// Banned network addresses, in memory only.

#include <cstdint>
#include <string>
#include <unordered_map>

class CBanList {
public:
    struct tEntry {
        std::string m_address;
        // End of the ban in milliseconds since start; 0 for a permanent ban. 64-bit, so that long
        // bans neither wrap to permanent nor end at once after the 32-bit clock wraps.
        uint64_t m_expiry = 0;
    };

    // True while a ban on exactly this text runs; a ban found to have run out is removed.
    bool IsBanned(const std::string& address);
    bool IsBanned(const std::string& address, uint64_t nowMs);

    // Replaces any ban on the text; a duration of 0 bans for good.
    void Ban(const std::string& address, uint32_t durationMs);
    void Ban(const std::string& address, uint32_t durationMs, uint64_t nowMs);
    // True when an entry (running or run out) was removed.
    bool Unban(const std::string& address);
    void UnbanAll() { m_entries.clear(); }

    size_t GetCount() const { return m_entries.size(); }

private:
    std::unordered_map<std::string, tEntry> m_entries;
};
