#include "RovaClient.h"

#include "Engine/CorvaneStream.h"

using namespace Corvane3D;

CRovaClient::CRovaClient(CNetObjectMgr* manager, bool trainers) : CNetMachine(manager), m_bTrainers(trainers) {}

void CRovaClient::SetTrainers(bool trainers)
{
    if (trainers == m_bTrainers)
        return;
    m_bTrainers = trainers;
    Packet packet(MessageTrainers);
    CBinaryWriter(&packet).WriteUInt8(trainers ? 1 : 0);
    SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}
