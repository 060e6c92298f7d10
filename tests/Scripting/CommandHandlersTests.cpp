#include "Scripting/ScriptingTestSupport.h"

#include "Engine/CRC32Hash.h"
#include "Scripting/CommandHandlers.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace ScriptingTest;

namespace {

// What a handler was called with; a null argument text is kept as nullopt.
struct Invocation {
    std::string name;
    std::optional<std::string> arguments;
    CNetMachine* client;
};

struct CommandFixture : ScriptingFixture {
    CCommandHandlers commands{&scripting};
    RecordingLogger answers;
    std::vector<Invocation> invocations;

    Strong<CCommandHandler> Native(bool consoleOnly = true)
    {
        return MakeStrong<CNativeCommandHandler>(
            [this](const char* name, const char* arguments, CNetMachine* client, Logger*) {
                invocations.push_back({name, arguments ? std::optional<std::string>(arguments) : std::nullopt, client});
            },
            consoleOnly);
    }

    // A script function that records (name, arguments) the way a script handler receives them.
    Strong<CRecordingFunction> Script(std::function<void()> then = nullptr)
    {
        return MakeStrong<CRecordingFunction>([this, then](const CArgumentArray& arguments, CReturnValue*) {
            if (then)
                then();
            const CArgument* text = arguments.GetAt(1);
            invocations.push_back({StringOf(arguments.GetAt(0)),
                                   text && text->IsString() ? std::optional<std::string>(StringOf(text)) : std::nullopt,
                                   nullptr});
            return true;
        });
    }

    bool AddScript(const char* name, CFunction* function, CResource* resource, bool replace = false)
    {
        return Boolean(Call("addCommandHandler", Args(name, function, replace), resource));
    }
};

} // namespace

TEST_F(CommandFixture, LinesAreSplitIntoTheTypedNameAndTheArgumentsAfterOneSeparator)
{
    ASSERT_TRUE(AddScript("Kick", Script(), Resource(0)));
    EXPECT_EQ(commands.GetCommandHandler("kICK")->GetNameHash(), CRC32Hash::HashString("kick", false));

    struct Case {
        bool viaConsoleCommand;
        const char* line;
        const char* name;
        const char* arguments; // null: the handler gets no argument text
    };
    const Case cases[] = {
        {true, "/kick bob", "kick", "bob"},
        {false, "KICK bob", "KICK", "bob"},
        {false, "kick", "kick", nullptr},
        {false, "kick  bob", "kick", " bob"},
        {false, "kick bob\r\n", "kick", "bob"},
        {false, "kick\n", "kick", ""},
        {true, "/Kick", "Kick", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        invocations.clear();
        const bool ran = c.viaConsoleCommand ? commands.ConsoleCommand(c.line, false)
                                             : commands.ConsoleCommandOnly(c.line, nullptr, false);
        EXPECT_TRUE(ran);
        ASSERT_EQ(invocations.size(), 1u);
        EXPECT_EQ(invocations[0].name, c.name);
        if (c.arguments)
            EXPECT_EQ(invocations[0].arguments, std::optional<std::string>(c.arguments));
        else
            EXPECT_EQ(invocations[0].arguments, std::nullopt);
    }
}

TEST_F(CommandFixture, ArgumentsAreCutTo255BytesAndLinesTo256)
{
    commands.AddCommandHandler(Native(false), "echo");
    const std::string longText(400, 'a');
    EXPECT_TRUE(commands.Trigger("echo", longText.c_str(), nullptr, false));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].arguments->size(), 255u);

    // The line keeps 256 bytes: "echo", the blank and 251 bytes of arguments.
    invocations.clear();
    EXPECT_TRUE(commands.ConsoleCommandOnly(("echo " + longText).c_str(), nullptr, false));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].arguments->size(), 251u);

    // ConsoleCommand refuses lines over 255 bytes, and empty ones, without running anything.
    invocations.clear();
    EXPECT_FALSE(commands.ConsoleCommand(("/echo " + longText).c_str(), true));
    EXPECT_FALSE(commands.ConsoleCommand("", true));
    EXPECT_FALSE(commands.ConsoleCommand("/", true));
    EXPECT_TRUE(invocations.empty());
}

TEST_F(CommandFixture, ConsoleOnlyHandlersRunOnlyForCallersAllowedToUseThem)
{
    commands.AddCommandHandler(Native(), "stop");
    EXPECT_TRUE(commands.GetCommandHandler("stop")->IsConsoleOnly());
    EXPECT_FALSE(commands.Trigger("stop", "race", Client(1), false));
    EXPECT_TRUE(invocations.empty());
    EXPECT_TRUE(commands.Trigger("STOP", "race", Client(1), true));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].client, Client(1));
    EXPECT_FALSE(commands.Trigger("start", "race", nullptr, true));
}

TEST_F(CommandFixture, UnhandledLinesAreReportedToTheConsoleOnly)
{
    commands.SetUnhandledHandler(MakeStrong<CUnhandledCommandHandler>());
    commands.SetLogger(&answers);

    EXPECT_FALSE(commands.ConsoleCommandOnly("nosuch a b", nullptr, true));
    EXPECT_FALSE(commands.ConsoleCommandOnly("\n", nullptr, true));
    ASSERT_EQ(answers.lines.size(), 2u);
    EXPECT_EQ(answers.lines[0].level, LOG_ERROR);
    EXPECT_EQ(answers.lines[0].text,
              "'nosuch' is not recognized as an internal or external command, operable program or batch file.");
    EXPECT_EQ(answers.lines[1].text,
              "'' is not recognized as an internal or external command, operable program or batch file.");

    // A client speaker gets no answer, and a caller without permission does not reach the
    // console-only unhandled handler at all.
    EXPECT_FALSE(commands.ConsoleCommandOnly("nosuch", Client(2), true));
    EXPECT_FALSE(commands.ConsoleCommandOnly("nosuch", nullptr, false));
    EXPECT_EQ(answers.lines.size(), 2u);

    // A console-only command refused to a player falls through to the unhandled path.
    commands.AddCommandHandler(Native(), "stop");
    RecordingLogger own;
    EXPECT_FALSE(commands.ConsoleCommandOnly("stop race", nullptr, false, &own));
    EXPECT_TRUE(own.lines.empty());
    EXPECT_FALSE(commands.ConsoleCommandOnly("quit", nullptr, true, &own));
    ASSERT_EQ(own.lines.size(), 1u);
    EXPECT_EQ(answers.lines.size(), 2u);
    commands.SetLogger(nullptr);
}

TEST_F(CommandFixture, TextWithoutASlashIsSaidThroughTheSayCommand)
{
    auto unhandled = MakeStrong<CNativeCommandHandler>(
        [this](const char* name, const char* arguments, CNetMachine*, Logger*) {
            invocations.push_back({std::string("unhandled:") + name, std::optional<std::string>(arguments), nullptr});
        },
        false);
    commands.SetUnhandledHandler(unhandled);
    EXPECT_FALSE(commands.ConsoleCommand("hello", false));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].name, "unhandled:say");
    EXPECT_EQ(invocations[0].arguments, std::optional<std::string>("hello"));

    invocations.clear();
    commands.AddCommandHandler(Native(false), "say");
    EXPECT_TRUE(Boolean(Call("consoleCommand", Args("hello there"))));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].name, "say");
    EXPECT_EQ(invocations[0].arguments, std::optional<std::string>("hello there"));
}

TEST_F(CommandFixture, ScriptHandlersAreOwnedByTheirResourceForReplacementAndRemoval)
{
    auto first = Script();
    auto second = Script();
    EXPECT_TRUE(AddScript("race", first, Resource(0)));
    EXPECT_FALSE(AddScript("RACE", second, Resource(1), true));
    EXPECT_FALSE(AddScript("race", second, Resource(0)));
    EXPECT_TRUE(AddScript("race", second, Resource(0), true));
    EXPECT_TRUE(Boolean(Call("hasCommandHandler", Args("Race"))));
    commands.ConsoleCommand("/race now", false);
    EXPECT_EQ(first->CallCount(), 0u);
    EXPECT_EQ(second->CallCount(), 1u);

    EXPECT_FALSE(Boolean(Call("removeCommandHandler", Args("race"), Resource(1))));
    EXPECT_TRUE(Boolean(Call("removeCommandHandler", Args("race"), Resource(0))));
    EXPECT_FALSE(Boolean(Call("hasCommandHandler", Args("race"))));
    EXPECT_FALSE(Boolean(Call("removeCommandHandler", Args("race"))));

    tNativeCallResult badFunction = Call("addCommandHandler", Args("x", 1));
    EXPECT_EQ(badFunction.m_error, "Expected Function for argument 2");
    tNativeCallResult badFlag = Call("addCommandHandler", Args("x", first, "yes"));
    EXPECT_EQ(badFlag.m_error, "Expected boolean for argument 3");
}

TEST_F(CommandFixture, ScriptsCannotReplaceOrRemoveTheServersOwnCommands)
{
    // A caller without a resource matches the native handlers' missing resource; that must not
    // let it take "quit" over or delete it.
    commands.AddCommandHandler(Native(), "quit");
    EXPECT_FALSE(AddScript("quit", Script(), nullptr, true));
    EXPECT_FALSE(Boolean(Call("removeCommandHandler", Args("quit"))));
    EXPECT_TRUE(commands.HasCommandHandler("quit"));
    EXPECT_EQ(commands.RemoveHandlers(nullptr), 0u);
    commands.ConsoleCommandOnly("quit", nullptr, true);
    EXPECT_EQ(invocations.size(), 1u);
}

TEST_F(CommandFixture, AHandlerThatReplacesOrRemovesItselfFinishesItsCall)
{
    // Each script function is held only by its handler, so freeing the running one would show.
    auto replacement = Script();
    AddScript("swap", Script([&] { AddScript("swap", replacement, Resource(0), true); }), Resource(0));
    AddScript("gone", Script([&] { Call("removeCommandHandler", Args("gone"), Resource(0)); }), Resource(0));

    EXPECT_TRUE(commands.ConsoleCommandOnly("swap", nullptr, false));
    EXPECT_TRUE(commands.ConsoleCommandOnly("gone", nullptr, false));
    EXPECT_EQ(invocations.size(), 2u);
    EXPECT_FALSE(commands.HasCommandHandler("gone"));
    EXPECT_TRUE(commands.ConsoleCommandOnly("swap", nullptr, false));
    EXPECT_EQ(replacement->CallCount(), 1u);

    // A native handler's body lives in the handler object itself.
    std::string tag = "native-self";
    commands.AddCommandHandler(MakeStrong<CNativeCommandHandler>(
                                   [this, tag](const char* name, const char*, CNetMachine*, Logger*) {
                                       commands.RemoveCommandHandler(name);
                                       invocations.push_back({tag, std::nullopt, nullptr});
                                   }),
                               "selfremove");
    EXPECT_TRUE(commands.ConsoleCommandOnly("selfremove", nullptr, true));
    EXPECT_EQ(invocations.back().name, "native-self");
    EXPECT_FALSE(commands.HasCommandHandler("selfremove"));
    EXPECT_FALSE(commands.IsIterating());
}

TEST_F(CommandFixture, StoppingAResourceRemovesOnlyItsCommands)
{
    AddScript("mine", Script(), Resource(0));
    AddScript("also", Script(), Resource(0));
    AddScript("theirs", Script(), Resource(1));
    commands.AddCommandHandler(Native(), "native");
    EXPECT_EQ(commands.RemoveHandlers(Resource(0)), 2u);
    EXPECT_FALSE(commands.HasCommandHandler("mine"));
    EXPECT_TRUE(commands.HasCommandHandler("theirs"));
    EXPECT_TRUE(commands.HasCommandHandler("native"));

    // From inside one of its own commands.
    AddScript("stopme", Script([&] { commands.RemoveHandlers(Resource(1)); }), Resource(1));
    EXPECT_TRUE(commands.ConsoleCommandOnly("stopme", nullptr, false));
    EXPECT_FALSE(commands.HasCommandHandler("theirs"));
    EXPECT_FALSE(commands.HasCommandHandler("stopme"));
}

TEST_F(CommandFixture, ScriptHandlersReceiveTheClientWhenTheServerAsksForIt)
{
    auto clientObject = MakeStrong<CBaseObject>();
    std::map<CNetMachine*, CBaseObject*> clients{{Client(3), clientObject.Get()}};
    auto handler = MakeStrong<CRecordingFunction>();
    AddScript("where", handler, Resource(0));

    commands.Trigger("where", "x", Client(3), false);
    ASSERT_EQ(handler->ArgumentCountOf(0), 2u);

    commands.SetClientArgument([&clients](CNetMachine* client) { return clients[client]; });
    commands.Trigger("where", "x", Client(3), false);
    commands.Trigger("where", nullptr, nullptr, false);
    ASSERT_EQ(handler->ArgumentCountOf(1), 3u);
    EXPECT_EQ(handler->ArgumentOf(1, 2)->ToObject(), clientObject.Get());
    EXPECT_EQ(handler->ArgumentOf(2, 1)->GetType(), ARGUMENT_NIL);
    EXPECT_EQ(handler->ArgumentOf(2, 2)->GetType(), ARGUMENT_NIL);
}

TEST_F(CommandFixture, ConsoleCommandFromScriptsRunsConsoleOnlyCommandsOnlyForPrivilegedResources)
{
    commands.AddCommandHandler(Native(), "restart");
    commands.SetPrivilegeCheck([](CResource* resource) { return resource == Resource(5); });
    EXPECT_FALSE(Boolean(Call("consoleCommand", Args("/restart race"), Resource(4))));
    EXPECT_FALSE(Boolean(Call("consoleCommand", Args("/restart race"))));
    EXPECT_TRUE(invocations.empty());
    EXPECT_TRUE(Boolean(Call("consoleCommand", Args("/restart race"), Resource(5))));
    ASSERT_EQ(invocations.size(), 1u);
    EXPECT_EQ(invocations[0].arguments, std::optional<std::string>("race"));
    EXPECT_EQ(Call("consoleCommand", Args(7)).m_error, "Expected string for argument 1");
}
