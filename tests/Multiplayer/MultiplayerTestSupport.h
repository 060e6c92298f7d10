#pragma once
// Shared by the net machine tests: a transport stand-in that records what was sent, a manager
// with a small element table, and readers for the recorded messages.

#include "Engine/CorvaneStream.h"
#include "Engine/Context.h"
#include "Engine/NativeCallHelper.h"
#include "Engine/Scripting.h"
#include "Multiplayer/NetMachines.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/NetSender.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace MultiplayerTest {

using namespace Corvane3D;
using Bytes = std::vector<uint8_t>;

class CRecordingSender : public INetSender {
public:
    struct Sent {
        NetPeer peer;
        uint32_t id;
        Bytes body;
        ePacketPriority priority;
        ePacketFlags flags;
        uint8_t channel;
    };

    bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                    uint8_t channel) override
    {
        uint32_t id = 0;
        std::memcpy(&id, packet.GetData() + 4, 4);
        sent.push_back({peer, id, Bytes(packet.GetData() + PACKET_HEADER_SIZE, packet.GetData() + packet.GetSize()),
                        priority, flags, channel});
        return true;
    }
    bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                            uint8_t channel) override
    {
        return SendPacket(NetPeer{}, packet, priority, flags, channel);
    }
    void DisconnectPeer(NetPeer peer, uint32_t reason) override { disconnected.emplace_back(peer, reason); }
    // 127.0.0.1 unless `addresses` names another host for the peer; none for peers in `unknown`.
    bool GetPeerIP(NetPeer peer, CIPAddress& address) override
    {
        if (unknown.count(peer.id))
            return false;
        const auto found = addresses.find(peer.id);
        address.SetIPv4(htonl(found != addresses.end() ? found->second : 0x7F000001), uint16_t(40000 + peer.id));
        return true;
    }
    uint32_t GetLastPing(NetPeer peer) override { return peer ? 42 : 0xFFFFFFFFu; }

    std::vector<uint32_t> Ids() const
    {
        std::vector<uint32_t> ids;
        for (const Sent& message : sent)
            ids.push_back(message.id);
        return ids;
    }

    // Everything sent to one peer, in order.
    std::vector<Sent> SentTo(NetPeer peer) const
    {
        std::vector<Sent> result;
        for (const Sent& message : sent) {
            if (message.peer == peer)
                result.push_back(message);
        }
        return result;
    }
    std::vector<uint32_t> IdsTo(NetPeer peer) const
    {
        std::vector<uint32_t> ids;
        for (const Sent& message : SentTo(peer))
            ids.push_back(message.id);
        return ids;
    }

    std::vector<Sent> sent;
    std::vector<std::pair<NetPeer, uint32_t>> disconnected;
    std::map<uint64_t, uint32_t> addresses;
    std::set<uint64_t> unknown;
};

// Elements are plain objects with ids; "created on" is a set of (element, machine) pairs.
class CElementTableMgr : public CNetObjectMgr {
public:
    using CNetObjectMgr::CNetObjectMgr;

    CBaseObject* AddElement(int32_t id)
    {
        auto element = MakeStrong<CBaseObject>();
        elements[id] = element;
        return element.Get();
    }

    CBaseObject* ResolveNetObject(int32_t id) override
    {
        const auto found = elements.find(id);
        return found != elements.end() ? found->second.Get() : nullptr;
    }
    int32_t GetNetObjectId(const CBaseObject* object) override
    {
        for (const auto& [id, element] : elements) {
            if (element.Get() == object)
                return id;
        }
        return -1;
    }
    bool IsCreatedFor(const CBaseObject* element, const CNetMachine* machine) override
    {
        return created.count({element, machine}) > 0;
    }
    void SetNetObjectName(CBaseObject* element, const std::string& name) override { names[element] = name; }
    bool DestroyObject(CBaseObject* element) override
    {
        const int32_t id = GetNetObjectId(element);
        destroyed.push_back(id);
        return elements.erase(id) > 0;
    }

    std::map<int32_t, Strong<CBaseObject>> elements;
    std::set<std::pair<const CBaseObject*, const CNetMachine*>> created;
    std::map<const CBaseObject*, std::string> names;
    std::vector<int32_t> destroyed;
};

// A reader over a copy of a recorded body; every read must succeed.
struct BodyReader {
    explicit BodyReader(Bytes bytes)
        : data(std::move(bytes)), stream(MakeStrong<CMemoryStream>(data.data(), data.size())), reader(stream.Get())
    {
    }
    template <typename T>
    T Read()
    {
        T value{};
        bool ok = false;
        if constexpr (std::is_same_v<T, uint8_t>)
            ok = reader.ReadUInt8(value);
        else if constexpr (std::is_same_v<T, int8_t>)
            ok = reader.ReadInt8(value);
        else if constexpr (std::is_same_v<T, uint16_t>)
            ok = reader.ReadUInt16(value);
        else if constexpr (std::is_same_v<T, int32_t>)
            ok = reader.ReadInt32(value);
        else if constexpr (std::is_same_v<T, uint32_t>)
            ok = reader.ReadUInt32(value);
        else if constexpr (std::is_same_v<T, std::string>)
            ok = reader.ReadString(value);
        EXPECT_TRUE(ok) << "the message ended early";
        return value;
    }
    bool AtEnd() const { return reader.GetRemaining() == 0; }

    Bytes data;
    Strong<CMemoryStream> stream;
    CBinaryReader reader;
};

} // namespace MultiplayerTest
