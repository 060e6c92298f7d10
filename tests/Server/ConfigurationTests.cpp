#include "BuiltinArchive.h"
#include "RovaServer.h"

#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/ObjectValue.h"
#include "Engine/TARArchive.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

// A context whose file system holds only the built-in archive, and a log that records lines.
struct ConfigurationFixture : ::testing::Test, ILogListener {
    ConfigurationFixture()
    {
        context.SetConsole(nullptr);
        context.SetLogListener(this);
        auto fileSystem = std::make_unique<CFileSystem>();
        auto archive = std::make_unique<CTARArchive>();
        const auto image = GetBuiltinArchive();
        EXPECT_TRUE(archive->ReadImage(image.data(), image.size()));
        fileSystem->Mount(std::move(archive));
        context.SetFileSystem(std::move(fileSystem));
        GGlobal.m_pContext = &context;
    }
    ~ConfigurationFixture() override { GGlobal.m_pContext = nullptr; }

    void OnLogLine(int level, const char* text) override { lines.push_back(std::to_string(level) + " " + text); }

    // Parses server.xml text (without a log path, so no file is written).
    bool Parse(const std::string& body, CRovaServer& server)
    {
        const std::string text = "<server><logpath></logpath>" + body + "</server>";
        auto owner = MakeStrong<CObjectValue<std::string>>(text);
        auto stream = MakeStrong<CMemoryStream>(owner->Value().data(), owner->Value().size(), true, false, owner.Get());
        auto root = CElementChunk::Load(stream);
        EXPECT_NE(root, nullptr) << text;
        CServerConfiguration config(std::move(root));
        return server.ParseConfig(config);
    }

    bool Logged(const std::string& line) const
    {
        for (const std::string& entry : lines)
            if (entry == line)
                return true;
        return false;
    }

    Context context;
    std::vector<std::string> lines;
};

} // namespace

TEST_F(ConfigurationFixture, AnEmptyConfigurationGivesTheDefaults)
{
    CRovaServer server;
    ASSERT_TRUE(Parse("", server));
    const CServerSettings& s = server.GetSettings();
    EXPECT_EQ(s.m_port, 22000);
    EXPECT_EQ(s.m_httpPort, 22000);
    EXPECT_EQ(s.m_rconPort, 23000);
    EXPECT_EQ(s.m_maxPlayers, 32);
    EXPECT_EQ(s.m_gameId, 1);
    EXPECT_FALSE(s.m_rcon);
    EXPECT_TRUE(s.m_httpServer);
    EXPECT_TRUE(s.m_multithreaded);
    EXPECT_EQ(s.m_syncMethod, SYNC_METHOD_INTERVAL);
    EXPECT_EQ(s.m_syncPacketPriority, PACKET_PRIORITY_LOW);
    EXPECT_FALSE(s.m_password.IsSet());
    EXPECT_FLOAT_EQ(s.m_minuteDuration, 1.0f);
    EXPECT_FALSE(server.GetVehicleColours().FindDefinitions(90).empty()) << "the game's colour table was loaded";
}

TEST_F(ConfigurationFixture, ValuesAreConvertedAsTheServerReadsThem)
{
    struct Case {
        std::string xml;
        std::function<bool(const CServerSettings&)> holds;
        const char* what;
    };
    const Case cases[] = {
        {"<port>70000</port>", [](auto& s) { return s.m_port == 4464; }, "16-bit settings keep the low bits"},
        {"<maxplayers>127</maxplayers>", [](auto& s) { return s.m_maxPlayers == 127; }, "127 players are allowed"},
        {"<game>ROVA:VC</game>", [](auto& s) { return s.m_gameId == 2; }, "game names ignore case"},
        {"<game>rova:iv</game>",
         [](auto& s) { return s.m_gameId == 5 && s.m_ivNativeMultiplayer && s.m_minuteDuration == 2.0f; },
         "rova:iv defaults"},
        {"<iv_nativemultiplayer>true</iv_nativemultiplayer>", [](auto& s) { return !s.m_ivNativeMultiplayer; },
         "native multiplayer only for rova:iv"},
        {"<serverbrowser>yes</serverbrowser><serverquery>yes</serverquery>",
         [](auto& s) { return !s.m_serverBrowser && s.m_serverQuery; }, "unknown booleans give the default"},
        {"<minclientversion>1.1</minclientversion>",
         [](auto& s) {
             return s.m_minClientVersion[0] == 1 && s.m_minClientVersion[1] == 1 && s.m_minClientVersion[2] == 0 &&
                    s.m_minClientVersion[3] == 0;
         },
         "missing version parts keep their start values"},
        {"<streaminterval>5000</streaminterval>", [](auto& s) { return s.m_streamInterval == 5000; },
         "the upper stream interval is accepted"},
        {"<rcon>false</rcon><rconport>22000</rconport>", [](auto& s) { return !s.m_rcon; },
         "equal ports are fine without the remote console"},
        {"<syncmethod>REPLAY</syncmethod><syncpacketpriority>High</syncpacketpriority>",
         [](auto& s) { return s.m_syncMethod == SYNC_METHOD_REPLAY && s.m_syncPacketPriority == PACKET_PRIORITY_HIGH; },
         "words ignore case"},
        {"<syncpacketreliable>1</syncpacketreliable><syncpacketunsequenced>true</syncpacketunsequenced>",
         [](auto& s) { return s.m_syncPacketFlags == 3u; }, "sync flags add up"},
        {"<servername>" + std::string(100, 'n') + "</servername>",
         [](auto& s) { return s.m_serverName == std::string(63, 'n'); }, "text settings keep 63 characters"},
        {"<password>secret</password>",
         [](auto& s) { return VerifyPassword("secret", s.m_password) && !VerifyPassword("Secret", s.m_password); },
         "the join password is stored hashed"},
    };
    for (const Case& c : cases) {
        CRovaServer server;
        ASSERT_TRUE(Parse(c.xml, server)) << c.what;
        EXPECT_TRUE(c.holds(server.GetSettings())) << c.what;
    }
}

TEST_F(ConfigurationFixture, ProblemsThatDoNotStopTheStartAreReported)
{
    CRovaServer server;
    ASSERT_TRUE(Parse("<syncmethod>sometimes</syncmethod><syncpacketpriority>urgent</syncpacketpriority>"
                      "<rule name=\"a\"/><rule value=\"b\"/><rule name=\"mode\" value=\"race\"/>"
                      "<cvar name=\"x\"/><cvar value=\"y\"/><cvar name=\"Trainers\" value=\"0\"/>"
                      "<cvar name=\"TRAINERS\" value=\"1\"/>"
                      "<anticheat><file src=\"a\"/><file path=\"p\"/><file path=\"data/x.dat\" src=\"vehiclecolours.conf\"/><file path=\"data/y.dat\" src=\"missing.dat\"/></anticheat>"
                      "<minuteduration>0</minuteduration>",
                      server));
    EXPECT_TRUE(Logged("5 Invalid syncmethod specified, using interval!"));
    EXPECT_TRUE(Logged("5 Invalid syncpriority specified, using low!"));
    EXPECT_TRUE(Logged("5 Rule a in config without value attribute!"));
    EXPECT_TRUE(Logged("5 Rule in config without name attribute!"));
    EXPECT_TRUE(Logged("5 CVar x in config without value attribute!"));
    EXPECT_TRUE(Logged("5 CVar in config without name attribute!"));
    EXPECT_TRUE(Logged("5 Anticheat file in config without path attribute!"));
    EXPECT_TRUE(Logged("5 Anticheat file p in config without src attribute!"));
    EXPECT_EQ(*server.GetRules().GetRule("mode"), "race");
    const CVarSystem::tCVar* trainers = server.GetCVars().Find("trainers");
    ASSERT_NE(trainers, nullptr);
    EXPECT_EQ(trainers->m_name, "Trainers");
    EXPECT_EQ(trainers->m_value, "1");
    EXPECT_TRUE(trainers->m_readOnly);
    ASSERT_EQ(server.GetAnticheatFiles().size(), 1u);
    EXPECT_EQ(server.GetAnticheatFiles()[0].m_path, "data/x.dat");
    EXPECT_TRUE(Logged("4 Failed to read anticheat file missing.dat."));
    // Guards the game clock: a minute of no time would stop or break it.
    EXPECT_FLOAT_EQ(server.GetSettings().m_minuteDuration, 1.0f);
    EXPECT_TRUE(Logged("4 The minuteduration must be a number greater than 0, using 1!"));
}

TEST_F(ConfigurationFixture, MinuteDurationsThatAreNotPositiveNumbersKeepTheDefault)
{
    for (const char* value : {"0", "-3", "nan", "NaN", "inf"}) {
        CRovaServer server;
        ASSERT_TRUE(Parse(std::string("<minuteduration>") + value + "</minuteduration>", server)) << value;
        EXPECT_FLOAT_EQ(server.GetSettings().m_minuteDuration, 1.0f) << value;
    }
    CRovaServer server;
    ASSERT_TRUE(Parse("<minuteduration>0.5</minuteduration>", server));
    EXPECT_FLOAT_EQ(server.GetSettings().m_minuteDuration, 0.5f);
}

TEST_F(ConfigurationFixture, ResourcesAreListedInFileOrder)
{
    CRovaServer server;
    ASSERT_TRUE(Parse("<resources><resource src=\"b\"/><resource/><resource src=\"a\" privileged=\"true\"/></resources>",
                      server));
    EXPECT_EQ(server.GetStartList(), (std::vector<std::string>{"b", "a"}));
}
