#include "BanList.h"
#include "BuiltinArchive.h"
#include "CommandLine.h"
#include "FrameClock.h"
#include "ServerRules.h"
#include "VehicleColours.h"

#include "Engine/CVarSystem.h"
#include "Engine/Context.h"
#include "Engine/ObjectValue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

CCommandLine ParseArguments(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "halden-server");
    return CCommandLine::Parse(int(arguments.size()), arguments.data());
}

Strong<Stream> TextStream(const std::string& text)
{
    auto owner = MakeStrong<CObjectValue<std::string>>(text);
    return MakeStrong<CMemoryStream>(owner->Value().data(), owner->Value().size(), true, false, owner.Get());
}

// Records warnings logged through the context.
struct WarningRecorder : ILogListener {
    WarningRecorder()
    {
        context.SetConsole(nullptr);
        context.SetLogListener(this);
        GGlobal.m_pContext = &context;
    }
    ~WarningRecorder() override { GGlobal.m_pContext = nullptr; }
    void OnLogLine(int level, const char* text) override
    {
        if (level == LOG_WARN)
            warnings.emplace_back(text);
    }
    Context context;
    std::vector<std::string> warnings;
};

} // namespace

TEST(CommandLine, OptionsAreCaseInsensitiveAndTakeTheFollowingArgument)
{
    const CCommandLine line = ParseArguments({"-PORT", "22005", "-httpPort", "8080", "-rconport", "9000",
                                              "-MaxPlayers", "200", "-bindip", "127.0.0.1", "-noinput",
                                              "-dumpdoc", "-allowadmin", "stray", "-config", "other.xml"});
    EXPECT_EQ(line.m_port, 22005);
    EXPECT_EQ(line.m_httpPort, 8080);
    EXPECT_EQ(line.m_rconPort, 9000);
    EXPECT_EQ(line.m_maxPlayers, 200) << "values are not validated here";
    EXPECT_EQ(line.m_bindIP, "127.0.0.1");
    EXPECT_TRUE(line.m_noInput);
    EXPECT_TRUE(line.m_dumpDoc);
    EXPECT_EQ(line.m_configPath, "other.xml");
    EXPECT_FALSE(line.m_multithreaded.has_value());
}

TEST(CommandLine, ValuesFollowTheScanRules)
{
    struct Case {
        const char* what;
        std::vector<const char*> arguments;
        std::optional<uint16_t> port;
    };
    const Case cases[] = {
        {"a word without digits gives 0", {"-port", "abc"}, 0},
        {"digits stop at the first non-digit", {"-port", "123x4"}, 123},
        {"the low 16 bits are kept", {"-port", "70000"}, 4464},
        {"the last option wins", {"-port", "1", "-port", "2"}, 2},
        {"an option value may look like an option", {"-port", "-noinput"}, 0},
        {"a trailing option sets nothing", {"-port"}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseArguments(c.arguments).m_port, c.port) << c.what;

    EXPECT_FALSE(ParseArguments({"-port", "-noinput"}).m_noInput) << "consumed as the port's value";
    EXPECT_EQ(ParseArguments({"-multithreaded", "-disablemultithreaded"}).m_multithreaded, false);
    EXPECT_EQ(ParseArguments({"-disablemultithreaded", "-multithreaded"}).m_multithreaded, true);
    EXPECT_EQ(ParseArguments({}).m_configPath, "server.xml");
}

TEST(FrameClock, StallsAreClampedAndTheRemainderCarriesOver)
{
    CFrameClock clock;
    const uint64_t frequency = 1000000000;
    clock.Reset(0);
    const FrameTimeInfo& stalled = clock.Advance(2 * frequency, frequency);
    EXPECT_DOUBLE_EQ(stalled.m_dFrameTime, 0.0625);
    EXPECT_EQ(stalled.m_uiStepCount, 3u);
    EXPECT_NEAR(clock.GetAccumulator(), 0.0625 - 3.0 / 60.0, 1e-12);

    const FrameTimeInfo& normal = clock.Advance(2 * frequency + frequency / 100, frequency);
    EXPECT_NEAR(normal.m_dFrameTime, 0.01, 1e-12);
    EXPECT_EQ(normal.m_uiStepCount, 1u) << "0.0125 + 0.01 holds one step of 1/60";
}

TEST(BanList, TimedBansEndAndAreRemovedByTheFirstLookAfterwards)
{
    CBanList bans;
    bans.Ban("1.2.3.4", 5000, 1000);
    EXPECT_TRUE(bans.IsBanned("1.2.3.4", 5999));
    EXPECT_FALSE(bans.IsBanned("1.2.3.4:22000", 2000)) << "texts match exactly";
    EXPECT_FALSE(bans.IsBanned("1.2.3.4", 6000));
    EXPECT_EQ(bans.GetCount(), 0u);
    EXPECT_FALSE(bans.Unban("1.2.3.4"));
}

TEST(BanList, ANewBanReplacesTheOldOneAndUnbanReportsRemoval)
{
    CBanList bans;
    bans.Ban("10.0.0.1", 0, 100);
    EXPECT_TRUE(bans.IsBanned("10.0.0.1", uint64_t(1) << 40)) << "permanent";
    bans.Ban("10.0.0.1", 1000, 100);
    EXPECT_FALSE(bans.IsBanned("10.0.0.1", 1100)) << "the permanent ban was replaced";
    bans.Ban("10.0.0.2", 1000, 100);
    EXPECT_TRUE(bans.Unban("10.0.0.2"));
    EXPECT_FALSE(bans.Unban("10.0.0.2"));
    bans.Ban("a", 0);
    bans.Ban("b", 0);
    bans.UnbanAll();
    EXPECT_EQ(bans.GetCount(), 0u);
}

// Guards the 32-bit clock: a ban started near the wrap must not end at once or become permanent.
TEST(BanList, BansStartedNearTheThirtyTwoBitWrapRunTheirFullLength)
{
    CBanList bans;
    const uint64_t nearWrap = 0xFFFFFF00ull;
    bans.Ban("5.6.7.8", 4000000000u, nearWrap);
    EXPECT_TRUE(bans.IsBanned("5.6.7.8", nearWrap + 1000));
    EXPECT_TRUE(bans.IsBanned("5.6.7.8", nearWrap + 3999999999ull));
    EXPECT_FALSE(bans.IsBanned("5.6.7.8", nearWrap + 4000000000ull));
}

TEST(VehicleColours, TableLinesBecomeDefinitionsInOrder)
{
    WarningRecorder recorder;
    CVehicleColours colours;
    colours.Load(TextStream("# model 90\r\n90 4 1\n90 300 1 2 3\n\n91 7 8 9\n90 4\n  # indented comment\n"));
    const auto& model90 = colours.FindDefinitions(90);
    ASSERT_EQ(model90.size(), 2u);
    EXPECT_EQ(model90[0], (CVehicleColourDefinition{false, {4, 1, 0, 0}}));
    EXPECT_EQ(model90[1], (CVehicleColourDefinition{false, {44, 1, 2, 3}})) << "colours keep their low 8 bits";
    EXPECT_EQ(colours.FindDefinitions(91).size(), 1u);
    EXPECT_EQ(recorder.warnings, (std::vector<std::string>{"vehiclecolours.conf[6] - bad syntax '90 4'",
                                                            "vehiclecolours.conf[7] - bad syntax '  # indented comment'"}));
}

TEST(VehicleColours, ALineTooLongForTheBufferEndsTheTable)
{
    WarningRecorder recorder;
    CVehicleColours colours;
    colours.Load(TextStream("90 1 2\n" + std::string(200, '9') + "\n91 1 2\n"));
    EXPECT_EQ(colours.FindDefinitions(90).size(), 1u);
    EXPECT_TRUE(colours.FindDefinitions(91).empty());
}

TEST(VehicleColours, FindDefinitionsCreatesOneListPerModel)
{
    CVehicleColours colours;
    auto& first = colours.FindDefinitions(400);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(&colours.FindDefinitions(400), &first);
}

TEST(BuiltinArchive, IsAUstarImageEmbeddedInTheProgram)
{
    const auto image = GetBuiltinArchive();
    ASSERT_GE(image.size(), 1024u);
    EXPECT_EQ(image.size() % 512, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()) + 257, 5), "ustar");
}

TEST(ConsoleVariables, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling)
{
    CVarSystem vars;
    EXPECT_EQ(vars.Find("trainers"), nullptr);
    vars.Set("Trainers", "0");
    vars.Set("TRAINERS", "1");
    ASSERT_NE(vars.Find("trainers"), nullptr);
    EXPECT_EQ(vars.Find("trainers")->m_name, "Trainers");
    EXPECT_EQ(vars.Find("trainers")->m_value, "1");
    EXPECT_FALSE(vars.Find("trainers")->m_readOnly);
    EXPECT_EQ(vars.GetCount(), 1u);
    EXPECT_FALSE(vars.Set("other", "x", false)) << "creation not allowed";
}

TEST(ServerRules, RulesKeepTheirOrderAndMatchExactly)
{
    CServerRules rules;
    rules.SetRule("Version", "1.7.3");
    rules.SetRule("mode", "race");
    rules.SetRule("Version", "2.0");
    rules.SetRule("version", "lower");
    ASSERT_EQ(rules.GetRules().size(), 3u);
    EXPECT_EQ(rules.GetRules()[0], (CServerRules::tRule{"Version", "2.0"}));
    EXPECT_EQ(rules.GetRules()[2], (CServerRules::tRule{"version", "lower"}));
    EXPECT_EQ(rules.GetRule("missing"), nullptr);
    EXPECT_EQ(*rules.GetRule("mode"), "race");
}
