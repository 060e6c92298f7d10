// The black-box test client (tests/blackbox/halden_client.py) against the real transport and shim,
// so that later black-box suites start from a client known to speak the server's framing.

#include "Network/NetServerCompatibilityShim.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace Corvane3D;

namespace {

// 42: answers with a message that has no header, an unrelated message 50, then 43 echoing the body.
// 44: disconnects with the UInt32 in the body. 1: decodes the join request field by field.
class CEchoServer : public CNetServerCompatibilityShim, public INetMessageHandler {
public:
    CEchoServer()
    {
        for (uint32_t id : {1u, 42u, 44u})
            SetMessageHandler(id, this);
    }

    void HandleMessage(NetPeer peer, uint32_t id, Stream& body) override
    {
        ids.push_back(id);
        CBinaryReader reader(&body);
        if (id == 42) {
            Packet junk;
            junk.Write("junk", 4);
            SendPacket(peer, junk, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
            SendPacket(peer, Packet(50), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
            Packet echo(43);
            std::vector<uint8_t> bytes(body.GetRemaining());
            reader.Read(bytes.data(), bytes.size());
            echo.Write(bytes.data(), bytes.size());
            SendPacket(peer, echo, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 1);
        } else if (id == 44) {
            uint32_t reason = 0;
            reader.ReadUInt32(reason);
            DisconnectPeer(peer, reason);
        } else if (id == 1) {
            int32_t version[4] = {};
            uint16_t nameLength = 0;
            join.complete = reader.ReadUInt32(join.networkVersion) && reader.ReadInt32(version, 4) &&
                            reader.ReadString(join.password) && reader.ReadUInt16(nameLength);
            join.nickname.resize(nameLength);
            join.complete = join.complete && reader.Read(join.nickname.data(), nameLength) &&
                            reader.ReadUInt8(join.game) && reader.GetRemaining() == 0;
            join.clientVersion.assign(version, version + 4);
        }
    }

    struct {
        bool complete = false;
        uint32_t networkVersion = 99;
        std::vector<int32_t> clientVersion;
        std::string password;
        std::string nickname;
        uint8_t game = 0;
    } join;
    std::vector<uint32_t> ids;
};

const char* const ClientScript = R"(
import sys
from halden_client import Client, Reader, Writer

with Client(int(sys.argv[1])) as client:
    client.join("Tester", password="pw", game=2, client_version=(1, 2, 3, 4))
    large = bytes(range(256)) * 40
    client.send(42, Writer().u32(7).string("hi").raw(large).data(), channel=1)
    reader = Reader(client.expect(43))
    assert (reader.u32(), reader.string(), reader.raw(reader.remaining)) == (7, "hi", large)
    client.send_raw(bytes.fromhex("023452542a00"))
    client.send(44, Writer().u32(13).data())
    print("reason", client.wait_disconnect())
    print("malformed", client.malformed, "skipped", client.skipped)
)";

bool PythonHasENet()
{
    return std::system(HALDEN_PYTHON " -c 'import enet' >/dev/null 2>&1") == 0;
}

TEST(BlackBoxClient, SpeaksTheServersFramingJoinRequestAndDisconnectReasons)
{
    if (!PythonHasENet())
        GTEST_SKIP() << HALDEN_PYTHON " cannot import enet (python3-enet)";

    CEchoServer server;
    ASSERT_TRUE(server.InitAsServer(0, "127.0.0.1", false));
    const std::string scriptPath = testing::TempDir() + "halden_client_check_" + std::to_string(getpid()) + ".py";
    std::ofstream(scriptPath) << ClientScript;

    const std::string command = std::string("PYTHONPATH=" HALDEN_BLACKBOX_DIR " PYTHONDONTWRITEBYTECODE=1 ") +
                                HALDEN_PYTHON + " " + scriptPath + " " +
                                std::to_string(server.GetTransport()->GetPort()) + " 2>&1";
    std::atomic<bool> finished{false};
    std::string output;
    int status = -1;
    std::thread client([&] {
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char chunk[256];
            while (size_t n = fread(chunk, 1, sizeof chunk, pipe))
                output.append(chunk, n);
            status = pclose(pipe);
        }
        finished = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!finished && std::chrono::steady_clock::now() < deadline) {
        server.UpdateNetwork();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    client.join();
    std::remove(scriptPath.c_str());

    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(output, "reason 13\nmalformed [b'junk'] skipped [(50, b'')]\n");
    EXPECT_EQ(server.ids, (std::vector<uint32_t>{1, 42, 44})) << "the 6-byte message is dropped";
    EXPECT_TRUE(server.join.complete);
    EXPECT_EQ(server.join.networkVersion, 0u);
    EXPECT_EQ(server.join.clientVersion, (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(server.join.password, "pw");
    EXPECT_EQ(server.join.nickname, "Tester");
    EXPECT_EQ(server.join.game, 2);
}

} // namespace
