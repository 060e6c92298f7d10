#pragma once
// The 256 client slots. On the server, slot 255 holds the console and clients take the lowest
// free slot among 0 to 254.

#include "Engine/CorvaneReference.h"
#include "Multiplayer/NetMachine.h"
#include "Network/NetPeer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace Corvane3D {

class CNetMachines {
public:
    static constexpr size_t SlotCount = 256;
    static constexpr int32_t ConsoleSlot = 255;

    CNetMachines() = default;
    ~CNetMachines() { ReleaseAll(); }
    CNetMachines(const CNetMachines&) = delete;
    CNetMachines& operator=(const CNetMachines&) = delete;

    // Null for an empty slot and for any index outside 0 to 255.
    CNetMachine* GetMachine(int32_t index) const;
    CNetMachine* GetOurMachine() const { return GetMachine(m_ourMachine); }
    int32_t GetOurMachineIndex() const { return m_ourMachine; }
    void SetOurMachineIndex(int32_t index) { m_ourMachine = index; }
    // The machine connected through that peer; the null handle (the console's) finds nothing.
    CNetMachine* GetMachineFromPeer(NetPeer peer) const;

    // Puts the machine in the slot, replacing what was there; false for an index out of range.
    bool SetMachine(int32_t index, Strong<CNetMachine> machine);
    // Empties the slot and hands its machine to the caller.
    Strong<CNetMachine> RemoveMachine(int32_t index);
    // The lowest empty client slot (0 to 254), or -1.
    int32_t FindFreeClientSlot() const;
    // Empties every slot, from 255 down to 0.
    void ReleaseAll();

private:
    std::array<Strong<CNetMachine>, SlotCount> m_slots;
    int32_t m_ourMachine = ConsoleSlot;
};

} // namespace Corvane3D
