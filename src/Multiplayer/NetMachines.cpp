#include "Multiplayer/NetMachines.h"

namespace Corvane3D {

namespace {

bool InRange(int32_t index)
{
    return index >= 0 && size_t(index) < CNetMachines::SlotCount;
}

} // namespace

CNetMachine* CNetMachines::GetMachine(int32_t index) const
{
    return InRange(index) ? m_slots[size_t(index)].Get() : nullptr;
}

CNetMachine* CNetMachines::GetMachineFromPeer(NetPeer peer) const
{
    if (!peer)
        return nullptr;
    for (const Strong<CNetMachine>& machine : m_slots) {
        if (machine && machine->GetPeer() == peer)
            return machine.Get();
    }
    return nullptr;
}

bool CNetMachines::SetMachine(int32_t index, Strong<CNetMachine> machine)
{
    if (!InRange(index))
        return false;
    m_slots[size_t(index)] = std::move(machine);
    return true;
}

Strong<CNetMachine> CNetMachines::RemoveMachine(int32_t index)
{
    if (!InRange(index))
        return nullptr;
    return std::move(m_slots[size_t(index)]);
}

int32_t CNetMachines::FindFreeClientSlot() const
{
    for (int32_t index = 0; index < ConsoleSlot; ++index) {
        if (!m_slots[size_t(index)])
            return index;
    }
    return -1;
}

void CNetMachines::ReleaseAll()
{
    for (size_t index = SlotCount; index-- > 0;)
        m_slots[index] = nullptr;
}

} // namespace Corvane3D
