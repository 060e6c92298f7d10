#include "ENetSystem.h"

#include "Engine/OS.h"
#include "Network/ENetServer.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <mutex>

namespace Corvane3D {

namespace {

// The intercept callback gets only the host, so the system that services it is recorded for the
// duration of each servicing pass on that thread.
thread_local CENetSystem* t_servicingSystem = nullptr;

class CServicingScope {
public:
    explicit CServicingScope(CENetSystem* system) : m_previous(t_servicingSystem) { t_servicingSystem = system; }
    ~CServicingScope() { t_servicingSystem = m_previous; }
    CServicingScope(const CServicingScope&) = delete;
    CServicingScope& operator=(const CServicingScope&) = delete;

private:
    CENetSystem* m_previous;
};

// One received datagram, for the duration of the intercept callback.
class CENetSocket : public INetSocket {
public:
    explicit CENetSocket(ENetHost* host) : m_host(host) {}

    const uint8_t* GetData(size_t& length) override
    {
        length = m_host->receivedDataLength;
        return m_host->receivedData;
    }

    bool Send(const Packet& packet) override
    {
        ENetBuffer buffer;
        buffer.data = const_cast<unsigned char*>(packet.GetData());
        buffer.dataLength = packet.GetSize();
        return enet_socket_send(m_host->socket, &m_host->receivedAddress, &buffer, 1) == int(packet.GetSize());
    }

private:
    ENetHost* m_host;
};

enet_uint32 ToENetFlags(ePacketFlags flags)
{
    enet_uint32 result = 0;
    if (flags & PACKET_FLAG_RELIABLE)
        result |= ENET_PACKET_FLAG_RELIABLE;
    if (flags & PACKET_FLAG_UNSEQUENCED)
        result |= ENET_PACKET_FLAG_UNSEQUENCED;
    return result;
}

void* ToPeerData(NetPeer peer)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(peer.id));
}

NetPeer FromPeerData(const ENetPeer* peer)
{
    return NetPeer{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(peer->data))};
}

bool ResolveIPv4(const char* text, enet_uint32& host)
{
    // getaddrinfo rather than gethostbyname: the latter shares static storage between threads.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &results) == 0 && results) {
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(results, &freeaddrinfo);
        for (const addrinfo* entry = results; entry; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addr) {
                host = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
                return true;
            }
        }
    }
    in_addr parsed{};
    if (inet_aton(text, &parsed) != 0) {
        host = parsed.s_addr;
        return true;
    }
    return false;
}

} // namespace

CENetSystem::CENetSystem(INetServerEvents* sink)
    : m_sink(sink), m_maxQueuedEvents(CENetServer::DefaultMaxQueuedEvents),
      m_maxQueuedBytes(CENetServer::DefaultMaxQueuedBytes)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { enet_initialize(); });
    m_eventsReady.SetAutoReset(true);
    m_packetsPending.SetAutoReset(true);
}

CENetSystem::~CENetSystem()
{
    StopNetworkThread();
    CLockGuard host(m_hostLock);
    if (m_host) {
        // What the main thread sent last still leaves; nothing is read any more.
        ProcessPendingPackets();
        enet_host_flush(m_host);
    }
    ClearThreadEvents();
    ClearPendingPackets();
    if (m_host) {
        // Closes the socket, resets every peer without notice and destroys the compressor.
        enet_host_destroy(m_host);
        m_host = nullptr;
    }
    m_peers.clear();
}

bool CENetSystem::InitAsServer(uint16_t port, const char* bindAddress, bool multithreaded)
{
    CLockGuard host(m_hostLock);
    if (m_host)
        return false;
    m_state = STATE_NONE;
    m_multithreaded = multithreaded;

    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = port;
    if (bindAddress && *bindAddress && !ResolveIPv4(bindAddress, address.host))
        return false;

    // 4095 peers is the largest id ENet's protocol can address; 255 channels its channel limit.
    m_host = enet_host_create(&address, ENET_PROTOCOL_MAXIMUM_PEER_ID, ENET_PROTOCOL_MAXIMUM_CHANNEL_COUNT, 0, 0);
    if (!m_host)
        return false;
    m_host->intercept = &CENetSystem::Intercept;
    InitCompressor();

    ENetAddress bound{};
    m_port = enet_socket_get_address(m_host->socket, &bound) == 0 ? bound.port : port;
    m_state = STATE_LISTENING;
    return true;
}

void CENetSystem::InitCompressor()
{
    if (enet_host_compress_with_range_coder(m_host) != 0)
        return;
    // Take the range coder over, then clear the host's context so that installing the forwarders
    // does not destroy it.
    m_compressor = m_host->compressor;
    m_host->compressor.context = nullptr;
    ENetCompressor forwarders{};
    forwarders.context = this;
    forwarders.compress = &CENetSystem::ForwardCompress;
    forwarders.decompress = &CENetSystem::ForwardDecompress;
    forwarders.destroy = &CENetSystem::ForwardDestroy;
    enet_host_compress(m_host, &forwarders);
}

size_t CENetSystem::ForwardCompress(void* context, const ENetBuffer* inBuffers, size_t inBufferCount, size_t inLimit,
                                 enet_uint8* outData, size_t outLimit)
{
    auto* self = static_cast<CENetSystem*>(context);
    // 0 makes ENet send this datagram uncompressed.
    if (!self->m_compression.load() || !self->m_compressor.compress)
        return 0;
    return self->m_compressor.compress(self->m_compressor.context, inBuffers, inBufferCount, inLimit, outData,
                                       outLimit);
}

size_t CENetSystem::ForwardDecompress(void* context, const enet_uint8* inData, size_t inLimit, enet_uint8* outData,
                                      size_t outLimit)
{
    auto* self = static_cast<CENetSystem*>(context);
    if (!self->m_compressor.decompress)
        return 0;
    return self->m_compressor.decompress(self->m_compressor.context, inData, inLimit, outData, outLimit);
}

void CENetSystem::ForwardDestroy(void* context)
{
    auto* self = static_cast<CENetSystem*>(context);
    if (self->m_compressor.destroy && self->m_compressor.context)
        self->m_compressor.destroy(self->m_compressor.context);
    self->m_compressor = ENetCompressor{};
}

int CENetSystem::Intercept(ENetHost* host, ENetEvent* event)
{
    (void)event;
    CENetSystem* self = t_servicingSystem;
    if (!self || self->m_host != host || !self->m_sink || host->receivedDataLength < 2 ||
        host->receivedData[0] != 0xFF || host->receivedData[1] != 0xFF)
        return 0;
    CENetSocket socket(host);
    // 1 makes ENet drop the datagram; 0 lets it parse it as its own.
    return self->m_sink->ReceiveDatagram(socket) ? 1 : 0;
}

void CENetSystem::SetEventQueueLimits(size_t events, size_t bytes)
{
    CLockGuard guard(m_eventsLock);
    m_maxQueuedEvents = events ? events : 1;
    m_maxQueuedBytes = bytes ? bytes : 1;
}

size_t CENetSystem::GetQueuedEventCount()
{
    CLockGuard guard(m_eventsLock);
    return m_threadEvents.size();
}

void CENetSystem::Update()
{
    ProcessThreadEvents();
    // A thread that was stopped during that pass may have queued events after the swap; they
    // come before anything this thread reads from ENet now, so that their order holds.
    while (!m_thread && ProcessThreadEvents()) {
    }
    if (m_thread || !m_host)
        return;

    std::vector<tThreadEvent> captured;
    {
        CLockGuard host(m_hostLock);
        CServicingScope scope(this);
        ProcessPendingPackets();
        tBudget budget;
        {
            CLockGuard events(m_eventsLock);
            budget = {m_maxQueuedEvents, m_maxQueuedBytes};
        }
        ServiceHost(captured, budget);
    }
    // The sink runs after the host lock is released: a connect that starts the network thread and
    // a disconnect in the same pass that joins it would otherwise wait for a thread that waits for
    // this lock.
    for (tThreadEvent& event : captured)
        ProcessEvent(event);
}

bool CENetSystem::ProcessThreadEvents()
{
    if (!m_eventsReady.Poll())
        return false;
    std::vector<tThreadEvent> events;
    {
        CLockGuard guard(m_eventsLock);
        events.swap(m_threadEvents);
        m_queuedBytes = 0;
    }
    for (tThreadEvent& event : events)
        ProcessEvent(event);
    return true;
}

void CENetSystem::ServiceHost(std::vector<tThreadEvent>& captured, tBudget budget)
{
    size_t bytes = 0;
    ENetEvent event;
    while (captured.size() < budget.events && bytes < budget.bytes) {
        int result = enet_host_check_events(m_host, &event);
        if (result == 0)
            result = enet_host_service(m_host, &event, 0);
        if (result <= 0)
            return;
        CaptureEvent(event, captured, bytes);
    }
    // Stopped by the budget: what is queued for sending still leaves now.
    enet_host_flush(m_host);
}

void CENetSystem::CaptureEvent(ENetEvent& event, std::vector<tThreadEvent>& captured, size_t& bytes)
{
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT: {
        // The transport's own handle, never reused, rides in the peer's user data.
        const NetPeer peer{++m_lastPeerId};
        event.peer->data = ToPeerData(peer);
        tPeerRecord record;
        record.peer = event.peer;
        record.address.SetIPv4(event.peer->address.host, event.peer->address.port);
        m_peers[peer] = record;
        tThreadEvent& captive = captured.emplace_back();
        captive.type = ENET_EVENT_TYPE_CONNECT;
        captive.peer = peer;
        captive.data = event.data;
        break;
    }
    case ENET_EVENT_TYPE_RECEIVE: {
        ENetPacketPtr packet(event.packet);
        const NetPeer peer = FromPeerData(event.peer);
        if (!peer || !packet)
            break;
        bytes += packet->dataLength;
        tThreadEvent& captive = captured.emplace_back();
        captive.type = ENET_EVENT_TYPE_RECEIVE;
        captive.peer = peer;
        captive.packet = std::move(packet);
        break;
    }
    case ENET_EVENT_TYPE_DISCONNECT: {
        const NetPeer peer = FromPeerData(event.peer);
        // ENet keeps the slot's user data; cleared here, a later peer in this slot cannot be
        // mistaken for the one that left.
        event.peer->data = nullptr;
        if (!peer)
            break;
        const auto found = m_peers.find(peer);
        if (found != m_peers.end())
            found->second.peer = nullptr;
        tThreadEvent& captive = captured.emplace_back();
        captive.type = ENET_EVENT_TYPE_DISCONNECT;
        captive.peer = peer;
        captive.data = event.data;
        break;
    }
    default:
        break;
    }
}

void CENetSystem::ProcessEvent(tThreadEvent& event)
{
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        ++m_peerCount;
        m_sink->OnConnect(event.peer);
        if (m_multithreaded && !m_thread)
            StartNetworkThread();
        break;
    case ENET_EVENT_TYPE_RECEIVE:
        m_sink->PacketEvent(event.peer, event.packet->data, event.packet->dataLength);
        event.packet.reset();
        break;
    case ENET_EVENT_TYPE_DISCONNECT:
        if (m_peerCount > 0)
            --m_peerCount;
        if (m_peerCount == 0 && m_thread)
            StopNetworkThread();
        m_sink->OnDisconnect(event.peer, event.data);
        ForgetPeer(event.peer);
        break;
    default:
        break;
    }
}

void CENetSystem::ForgetPeer(NetPeer peer)
{
    CLockGuard host(m_hostLock);
    m_peers.erase(peer);
}

ENetPeer* CENetSystem::FindConnectedPeer(NetPeer peer)
{
    const auto found = m_peers.find(peer);
    return found != m_peers.end() ? found->second.peer : nullptr;
}

void CENetSystem::StartNetworkThread()
{
    m_stopThread.Reset();
    m_thread = std::make_unique<CThreadCB>("NetworkThread", [this](CThreadCB&, void*) { return ThreadMain(); });
    if (!m_thread->Start())
        m_thread.reset();
}

void CENetSystem::StopNetworkThread()
{
    if (!m_thread)
        return;
    m_stopThread.Signal();
    m_thread->Join();
    m_thread.reset();
    m_stopThread.Reset();
}

int CENetSystem::ThreadMain()
{
    while (!m_stopThread.IsSignalled()) {
        {
            CLockGuard host(m_hostLock);
            if (m_host) {
                CServicingScope scope(this);
                ProcessPendingPackets();
                tBudget room{0, 0};
                {
                    CLockGuard events(m_eventsLock);
                    if (m_threadEvents.size() < m_maxQueuedEvents && m_queuedBytes < m_maxQueuedBytes)
                        room = {m_maxQueuedEvents - m_threadEvents.size(), m_maxQueuedBytes - m_queuedBytes};
                }
                std::vector<tThreadEvent> captured;
                if (room.events > 0)
                    ServiceHost(captured, room);
                else
                    // The main thread is behind: leave received data with ENet, but keep sending.
                    enet_host_flush(m_host);
                if (!captured.empty()) {
                    CLockGuard events(m_eventsLock);
                    for (tThreadEvent& event : captured) {
                        if (event.packet)
                            m_queuedBytes += event.packet->dataLength;
                        m_threadEvents.push_back(std::move(event));
                    }
                    m_eventsReady.Signal();
                }
            }
        }
        OS::SleepMilliseconds(5);
    }
    return 0;
}

bool CENetSystem::SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                             uint8_t channel)
{
    if (!m_host)
        return false;
    tPendingPacket pending;
    pending.priority = priority;
    pending.flags = flags;
    pending.channel = channel;
    pending.peer = (flags & PACKET_FLAG_EVERYONE) ? NetPeer{} : peer;
    pending.packet.reset(enet_packet_create(packet.GetData(), packet.GetSize(), ToENetFlags(flags)));
    if (!pending.packet)
        return false;
    if (m_thread) {
        {
            CLockGuard guard(m_pendingLock);
            m_pendingPackets.push_back(std::move(pending));
        }
        m_packetsPending.Signal();
        return true;
    }
    CLockGuard host(m_hostLock);
    HandToENet(pending);
    return true;
}

bool CENetSystem::SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                                     uint8_t channel)
{
    return SendPacket(NetPeer{}, packet, priority, flags | PACKET_FLAG_EVERYONE, channel);
}

void CENetSystem::ProcessPendingPackets()
{
    if (!m_packetsPending.Poll())
        return;
    std::vector<tPendingPacket> pending;
    {
        CLockGuard guard(m_pendingLock);
        pending.swap(m_pendingPackets);
    }
    for (tPendingPacket& record : pending)
        HandToENet(record);
}

void CENetSystem::HandToENet(tPendingPacket& pending)
{
    ENetPacket* packet = pending.packet.get();
    if (pending.flags & PACKET_FLAG_EVERYONE) {
        // The peers whose connect was taken from ENet, rather than all 4095 slots of the host: a
        // broadcast costs what is connected, not what could be.
        for (const auto& [handle, record] : m_peers) {
            if (record.peer && record.peer->state == ENET_PEER_STATE_CONNECTED)
                enet_peer_send(record.peer, pending.channel, packet);
        }
    } else if (ENetPeer* peer = FindConnectedPeer(pending.peer)) {
        enet_peer_send(peer, pending.channel, packet);
    }
    // A packet for a departed peer, or one that no peer took, goes here; otherwise ENet holds
    // references and frees it once sent.
    if (packet->referenceCount > 0)
        pending.packet.release();
}

void CENetSystem::Disconnect(NetPeer peer, uint32_t reason)
{
    CLockGuard host(m_hostLock);
    if (ENetPeer* enetPeer = m_host ? FindConnectedPeer(peer) : nullptr)
        enet_peer_disconnect(enetPeer, reason);
}

bool CENetSystem::GetIPAddress(NetPeer peer, CIPAddress& address)
{
    CLockGuard host(m_hostLock);
    const auto found = m_peers.find(peer);
    if (found == m_peers.end()) {
        address.Clear();
        return false;
    }
    address = found->second.address;
    return true;
}

uint32_t CENetSystem::GetLastPing(NetPeer peer)
{
    CLockGuard host(m_hostLock);
    const ENetPeer* enetPeer = FindConnectedPeer(peer);
    return enetPeer ? enetPeer->roundTripTime : 0xFFFFFFFFu;
}

void CENetSystem::ClearThreadEvents()
{
    CLockGuard guard(m_eventsLock);
    m_threadEvents.clear();
    m_queuedBytes = 0;
}

void CENetSystem::ClearPendingPackets()
{
    CLockGuard guard(m_pendingLock);
    m_pendingPackets.clear();
}

} // namespace Corvane3D
