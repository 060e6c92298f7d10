#include "Scripting/ResourceTestSupport.h"

#include "Engine/CorvaneHBF.h"
#include "Scripting/ResourceCommands.h"

#include <algorithm>

using namespace ResourceTest;

namespace {

struct ManagerTests : ResourceFixture {
    ManagerTests() { RegisterResourceCommands(manager.get()); }

    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (const Strong<CResource>& resource : manager->GetResources())
            names.push_back(resource->GetName());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace

TEST_F(ManagerTests, DiscoveryFindsFoldersNestedGroupsAndArchivesAndSkipsHiddenEntries)
{
    WriteResource("plain", "<meta/>");
    WriteResource("[core]/[admin]/deep", "<meta/>");
    WriteResource("[maps]/race", "<meta/>");
    WriteResource(".git", "<meta/>");
    WriteResource("notgroup]", "<meta/>");
    WriteResource("packing", "<meta/>");
    PackResource("packing", "Packed");
    TestFiles::WriteFile(root / "resources/readme.txt", "not a resource");
    ASSERT_TRUE(manager->RefreshResources(true));

    EXPECT_EQ(Names(), (std::vector<std::string>{"Packed", "deep", "notgroup]", "plain", "race"}));
    EXPECT_EQ(Find("RACE"), Find("race"));
    EXPECT_EQ(Find("race")->GetDirectoryPath(), "/resources/[maps]/race");
    EXPECT_EQ(Find("deep")->GetDirectoryPath(), "/resources/[core]/[admin]/deep");
    EXPECT_EQ(Find("packed")->GetArchivePath(), "/resources/Packed.tar");
    EXPECT_TRUE(Find("packed")->GetDirectoryPath().empty());
    EXPECT_TRUE(Logged(LOG_INFO, "Found new resource plain"));
    EXPECT_TRUE(Logged(LOG_INFO, "5 resources in the resource cache"));
    EXPECT_GT(engine->m_collections, 0);
}

TEST_F(ManagerTests, RefreshForgetsResourcesThatVanishedStoppingThemFirst)
{
    WriteResource("gone", "<meta/>");
    WriteResource("kept", "<meta/>");
    manager->RefreshResources(false);
    Strong<CResource> gone = Find("gone");
    ASSERT_TRUE(gone->Start());
    std::filesystem::remove_all(root / "resources/gone");
    log.lines.clear();
    manager->RefreshResources(true);

    EXPECT_EQ(Find("gone"), nullptr);
    EXPECT_FALSE(gone->IsStarted());
    EXPECT_LT(LineIndex("Removing resource gone"), LineIndex("STOP: Resource gone stopped."));
    EXPECT_TRUE(Logged(LOG_INFO, "1 resources in the resource cache"));

    // It comes back at the next refresh that finds it again.
    WriteResource("gone", "<meta/>");
    manager->RefreshResources(false);
    ASSERT_NE(Find("gone"), nullptr);
    EXPECT_NE(Find("gone"), gone.Get());
}

TEST_F(ManagerTests, ConsoleCommandsAnswerWithTheirMessages)
{
    WriteResource("race", "<meta/>");
    WriteResource("[x]/other", "<meta/>");
    WriteResource("broken", "<meta><dependency src=\"race\"/><script src=\"x.js\"/></meta>", {{"x.js", ""}});
    manager->RefreshResources(false);
    struct Step {
        const char* line;
        int level;
        const char* answer;
        bool raceRunning;
    };
    const Step steps[] = {
        {"start", LOG_ERROR, "No resource specified!", false},
        {"stop", LOG_ERROR, "No resource specified!", false},
        {"restart", LOG_ERROR, "No resource specified!", false},
        {"start nowhere", LOG_ERROR, "Unable to find the resource nowhere!", false},
        {"stop nowhere", LOG_ERROR, "Unable to find the resource nowhere!", false},
        {"stop race", LOG_ERROR, "Failed to stop resource race", false},
        {"restart race", LOG_ERROR, "Failed to restart resource race", false},
        {"start RACE", LOG_INFO, "Started resource race", true},
        {"start race", LOG_ERROR, "Failed to start resource race", true},
        {"restart race", LOG_INFO, "Restarted resource race", true},
        {"stop race", LOG_INFO, "Stopped resource race", false},
        {"start race", LOG_INFO, "Started resource race", true},
        {"start other", LOG_INFO, "Started resource other", true},
        {"stopall", LOG_INFO, "Stopped 2 resources", false},
        {"stopall", LOG_INFO, "Stopped 0 resources", false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        RecordingLogger answers = Command(step.line);
        ASSERT_EQ(answers.lines.size(), 1u);
        EXPECT_EQ(answers.lines[0].level, step.level);
        EXPECT_EQ(answers.lines[0].text, step.answer);
        EXPECT_EQ(Find("race")->IsStarted(), step.raceRunning);
    }
    log.lines.clear();
    Command("refresh");
    EXPECT_TRUE(Logged(LOG_INFO, "Scanning resources..."));
    EXPECT_TRUE(Logged(LOG_WARN, "Failed to load resource broken!"));
    EXPECT_TRUE(Logged(LOG_INFO, "2 resources in the resource cache"));
}

TEST_F(ManagerTests, AConsoleStartRereadsTheMetaFileOfAFolderResource)
{
    WriteResource("res", ScriptsMeta({"a.js"}), {{"a.js", "a"}, {"b.js", "b"}});
    manager->RefreshResources(false);
    WriteResource("res", ScriptsMeta({"a.js", "b.js"}));
    Command("start res");
    EXPECT_EQ(engine->m_ran, (std::vector<std::string>{"res:/resources/res/a.js", "res:/resources/res/b.js"}));
    EXPECT_FALSE(Find("res")->GetReloadMeta()) << "the flag is set for the call only";
}

TEST_F(ManagerTests, ScriptFunctionsReachResourcesTheirFilesAndTheirProperties)
{
    std::map<std::string, Strong<CArgument>> seen;
    engine->Script("probe", [&seen](CFakeEnvironment& env) {
        CScripting* scripting = env.m_pEngine->m_pScripting;
        CNativeCallHelper helper(scripting, env.m_pResource);
        seen["platform"] = helper.Get(scripting->GetGlobal()->GetProperty("platform")).m_value;
        seen["thisResource"] = helper.Get(scripting->GetGlobal()->GetProperty("thisResource")).m_value;
        seen["find"] = env.Call("findResourceByName", Args("PROBE")).m_value;
        seen["missing"] = env.Call("findResourceByName", Args("nope")).m_value;
        seen["all"] = env.Call("getResources", Args()).m_value;
        seen["saved"] = env.Call("saveTextFile", Args("out/note.txt", "h\xC3\xA9llo")).m_value;
        seen["loaded"] = env.Call("loadTextFile", Args("out/note.txt")).m_value;
        seen["absent"] = env.Call("loadTextFile", Args("none.txt")).m_value;
        seen["refused"] = env.Call("saveTextFile", Args("../escape.txt", "x")).m_value;
        seen["exists"] = env.Call("fileExists", Args("out", false, true)).m_value;
        seen["notFile"] = env.Call("fileExists", Args("out", true, false)).m_value;
        seen["open"] = env.Call("openFile", Args("meta.xml")).m_value;
        seen["openOut"] = env.Call("openFile", Args("/server.xml", true)).m_value;
        seen["author"] = env.Get(env.m_pResource, "author").m_value;
        seen["isStarting"] = env.Get(env.m_pResource, "isStarting").m_value;
        return true;
    });
    WriteResource("probe", "<meta author=\"Ann\"><script src=\"p.js\" type=\"server\" language=\"javascript\"/></meta>",
                  {{"p.js", "probe"}});
    WriteResource("other", "<meta/>");
    manager->RefreshResources(false);
    ASSERT_TRUE(Find("probe")->Start());

    EXPECT_EQ(StringOf(seen["platform"]), "Linux");
    EXPECT_EQ(seen["thisResource"]->ToObject(), Find("probe"));
    EXPECT_EQ(seen["find"]->ToObject(), Find("probe"));
    EXPECT_TRUE(seen["missing"]->IsNull());
    ASSERT_TRUE(seen["all"]->IsArray());
    EXPECT_EQ(static_cast<CArgumentArray*>(seen["all"].Get())->GetArrayCount(), 2u);
    EXPECT_TRUE(seen["saved"]->ToBoolean());
    EXPECT_EQ(StringOf(seen["loaded"]), "h\xC3\xA9llo");
    EXPECT_TRUE(seen["absent"]->IsNull());
    EXPECT_TRUE(seen["refused"]->IsNull());
    EXPECT_TRUE(seen["exists"]->ToBoolean());
    EXPECT_FALSE(seen["notFile"]->ToBoolean());
    EXPECT_TRUE(seen["open"]->IsObject());
    EXPECT_TRUE(seen["openOut"]->IsNull());
    EXPECT_EQ(StringOf(seen["author"]), "Ann");
    EXPECT_TRUE(seen["isStarting"]->ToBoolean());
}

TEST_F(ManagerTests, AScriptStoppingItsResourceThroughTheConsoleCommandIsDeferredToo)
{
    engine->Script("self", [](CFakeEnvironment& env) {
        env.Call("addEventHandler", Args("OnProcess", env.Function([&env](const CArgumentArray&, CReturnValue*) {
                     env.Call("consoleCommand", Args("/stop self"));
                     EXPECT_FALSE(env.m_bDestroyed);
                     return true;
                 })));
        return true;
    });
    WriteResource("self", ScriptsMeta({"s.js"}), {{"s.js", "self"}});
    manager->RefreshResources(false);
    CResource* resource = Find("self");
    resource->SetPrivileged(true);
    ASSERT_TRUE(resource->Start());
    manager->GetEventHandlers()->GetEventType("OnProcess")->Trigger(*Args(0.1));
    EXPECT_FALSE(resource->IsStarted());
    EXPECT_TRUE(engine->m_environments[0]->m_bDestroyed);
}

TEST_F(ManagerTests, BuiltInDefinesCoverKeysStreamsLogTypesAndColours)
{
    const auto& defines = manager->GetDefineHandlers()->GetDefines();
    auto find = [&](const std::string& name) -> const CDefineHandlers::IntDefine* {
        for (const auto& define : defines)
            if (define.m_name == name)
                return &define;
        return nullptr;
    };
    struct Case {
        const char* name;
        int64_t value;
        bool isUnsigned;
    };
    const Case cases[] = {
        {"KEYSTATE_BOTH", 2, false},
        {"SDL_SCANCODE_AUDIOFASTFORWARD", 286, false},
        {"SDL_NUM_SCANCODES", 512, false},
        {"SDLK_SLEEP", 1073742106, false},
        {"KMOD_GUI", 3072, false},
        {"SEEK_END", 2, false},
        {"LOGTYPE_CRITICAL", 6, false},
        {"COLOUR_WHITE", 0xFFFFFFFF, true},
        {"COLOUR_ORANGE", 0xFFFF7F00, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CDefineHandlers::IntDefine* define = find(c.name);
        ASSERT_NE(define, nullptr);
        EXPECT_EQ(define->m_bUnsigned, c.isUnsigned);
        EXPECT_EQ(c.isUnsigned ? int64_t(define->GetUnsigned()) : int64_t(define->GetSigned()), c.value);
    }
    EXPECT_EQ(defines.front().m_name, "KEYSTATE_UP");
    EXPECT_EQ(defines.back().m_name, "COLOUR_ORANGE");
    EXPECT_EQ(manager->GetScripting()->GetDefineHandlers(), manager->GetDefineHandlers());
}

TEST_F(ManagerTests, DumpDocWritesTheFourDocumentsIntoTheServerFolder)
{
    RecordingLogger answers = Command("dumpdoc");
    EXPECT_TRUE(answers.Has(LOG_INFO, "Documentation dumped"));
    auto load = [&](const char* name) {
        Strong<CStandardStream> file = CStandardStream::Open((root / ("Documentation/" + std::string(name))).c_str(), "rb");
        return file ? CElementChunk::Load(file) : nullptr;
    };
    auto defines = load("Defines.xml");
    ASSERT_TRUE(defines);
    EXPECT_STREQ(defines->GetName().c_str(), "Defines");
    CElementChunk* colour = defines->FindElements("Define").back();
    EXPECT_STREQ(colour->Attribute("Name"), "COLOUR_ORANGE");
    EXPECT_STREQ(colour->Attribute("Value"), "4294934272");

    auto events = load("EventTypes.xml");
    ASSERT_TRUE(events);
    bool found = false;
    for (CElementChunk* type : events->FindElements("EventType")) {
        if (std::string(type->Attribute("Name")) != "OnResourceStop")
            continue;
        found = true;
        EXPECT_STREQ(type->Attribute("Arguments"), "2");
        EXPECT_STREQ(type->Attribute("CanPreventDefault"), "true");
        EXPECT_EQ(std::string(type->Attribute("Hash")), std::to_string(EventHandlers::CEventHandlers::HashName("OnResourceStop")));
    }
    EXPECT_TRUE(found);

    auto commands = load("Commands.xml");
    ASSERT_TRUE(commands);
    EXPECT_EQ(commands->FindElements("Command").size(), 6u);

    auto documentation = load("Documentation.xml");
    ASSERT_TRUE(documentation);
    CElementChunk* global = documentation->FindElement("Namespace");
    ASSERT_NE(global, nullptr);
    EXPECT_STREQ(global->Attribute("Name"), "global");
    CElementChunk* resourceClass = nullptr;
    for (CElementChunk* cls : global->FindElements("Class"))
        if (std::string(cls->Attribute("Name")) == "Resource")
            resourceClass = cls;
    ASSERT_NE(resourceClass, nullptr);
    CElementChunk* getExport = nullptr;
    for (CElementChunk* function : resourceClass->FindElements("Function"))
        if (std::string(function->Attribute("Name")) == "getExport")
            getExport = function;
    ASSERT_NE(getExport, nullptr);
    EXPECT_STREQ(getExport->Attribute("Mask"), "ts");
    EXPECT_STREQ(getExport->Attribute("RequiredArguments"), "1");
    // Subclasses are written inside their parent class.
    bool nested = false;
    for (CElementChunk* cls : global->FindElements("Class"))
        if (std::string(cls->Attribute("Name")) == "Event")
            nested = cls->FindElement("Class") != nullptr;
    EXPECT_TRUE(nested);
}
