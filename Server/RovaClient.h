#pragma once
// The game's client: a net machine with the anticheat mark and the trainers flag.

#include "Multiplayer/NetMachine.h"

class CRovaClient : public Corvane3D::CNetMachine {
public:
    static constexpr uint32_t MessageTrainers = 153;

    CRovaClient(Corvane3D::CNetObjectMgr* manager, bool trainers);

    // Set once the client's digests of the anticheat files matched; until then nothing else it
    // sends is handled.
    bool IsAnticheatVerified() const { return m_bAnticheatVerified; }
    void SetAnticheatVerified(bool verified) { m_bAnticheatVerified = verified; }

    bool GetTrainers() const { return m_bTrainers; }
    // Stores the flag and tells the client (message 153) when it changed.
    void SetTrainers(bool trainers);

private:
    bool m_bAnticheatVerified = false;
    bool m_bTrainers;
};
