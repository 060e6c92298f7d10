#include "Scripting/ResourceTestSupport.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Reflection.h"
#include "Scripting/ResourceCommands.h"

#include <unistd.h>

using namespace ResourceTest;

namespace {

struct ResourceTests : ResourceFixture {
    ResourceTests() { RegisterResourceCommands(manager.get()); }

    // Loads one resource named "res" from a meta file; the answer of its refresh.
    bool LoadOne(const std::string& meta, const std::map<std::string, std::string>& files = {})
    {
        WriteResource("res", meta, files);
        manager->RefreshResources(false);
        return Find("res") != nullptr;
    }

    // Calls a method of an object (an event, a resource) as native code does.
    void Invoke(const CArgument* object, const char* method)
    {
        CBaseObject* self = object ? object->ToObject() : nullptr;
        ReflectedClass* cls = self ? self->GetReflectedClass() : nullptr;
        ReflectedFunction* function = cls ? cls->GetFunction(method) : nullptr;
        ASSERT_NE(function, nullptr) << method;
        CNativeCallHelper(manager->GetScripting()).Call(function, CArgumentArray(), self);
    }

    // A handler for a resource event that prevents the default action.
    Strong<CRecordingFunction> Veto()
    {
        return MakeStrong<CRecordingFunction>([this](const CArgumentArray& arguments, CReturnValue*) {
            Invoke(arguments.GetAt(0), "preventDefault");
            return true;
        });
    }

    void Handle(EventHandlers::CEventType* type, CFunction* function)
    {
        type->AddHandler(MakeStrong<EventHandlers::CScriptEventHandler>(function), nullptr);
    }
};

} // namespace

TEST_F(ResourceTests, MetaFileGivesTextsMapsBeforeScriptsAndClientFilesWithHashSizeAndChecksum)
{
    const std::string meta = R"(<Meta version="1.2" author="Ann" description="Racing">
        <download_priority_group>-3</download_priority_group>
        <script src="a.js" type="server" language="JavaScript"/>
        <map src="m.xml" type="server"/>
        <script src="c.lua" type="CLIENT" language="lua"/>
        <script src="p.py" type="server" language="python"/>
        <file src="Images/Logo.PNG" type="client"/>
        <file src="f0.txt" type="client" download="0"/>
        <file src="fno.txt" type="client" download="no" url="ignored"/>
        <file src="ffalse.txt" type="client" download="FALSE"/>
        </Meta>)";
    ASSERT_TRUE(LoadOne(meta, {{"a.js", "a"}, {"m.xml", "<map/>"}, {"c.lua", "c"}, {"p.py", "p"},
                               {"Images/Logo.PNG", "0123456789"}, {"f0.txt", ""}, {"fno.txt", ""},
                               {"ffalse.txt", ""}}));
    CResource* resource = Find("RES");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(resource->GetVersion(), "1.2");
    EXPECT_EQ(resource->GetAuthor(), "Ann");
    EXPECT_EQ(resource->GetDescription(), "Racing");
    EXPECT_EQ(resource->GetDownloadPriorityGroup(), -3);

    const auto& server = resource->GetServerScripts();
    ASSERT_EQ(server.size(), 3u);
    EXPECT_EQ(server[0]->m_type, SCRIPT_TYPE_MAP);
    EXPECT_EQ(server[0]->m_name, "/resources/res/m.xml");
    EXPECT_EQ(server[1]->m_type, SCRIPT_TYPE_JAVASCRIPT);
    EXPECT_EQ(std::string(server[1]->m_contents.begin(), server[1]->m_contents.end()), "a");
    EXPECT_EQ(server[2]->m_type, SCRIPT_TYPE_OTHER);
    ASSERT_EQ(resource->GetClientScripts().size(), 1u);
    EXPECT_EQ(resource->GetClientScripts()[0]->m_type, SCRIPT_TYPE_LUA);

    const auto& files = resource->GetClientFiles();
    ASSERT_EQ(files.size(), 4u);
    // The hash name ignores letter case: Images/Logo.PNG is published as images/logo.png.
    EXPECT_EQ(files[0].m_hashName, "706FF17A872243DC0AA594A8368F0990148A14ACF751F2446FFBE44D187CEE87");
    EXPECT_EQ(files[0].m_size, 10u);
    EXPECT_EQ(files[0].m_checksum, 2793719750u);
    EXPECT_TRUE(files[0].m_bDownload);
    EXPECT_FALSE(files[1].m_bDownload);
    EXPECT_TRUE(files[2].m_bDownload) << "an unreadable value means true";
    EXPECT_FALSE(files[3].m_bDownload);

    // Published for the download server under the hash name.
    EXPECT_EQ(TestFiles::ReadFile(root / ("htdocs/resources/res/" + files[0].m_hashName)), "0123456789");
}

TEST_F(ResourceTests, BrokenMetaFilesFailWithTheirMessageAndTheResourceIsDropped)
{
    struct Case {
        const char* meta;
        int level;
        const char* message;
    };
    const Case cases[] = {
        {"<meta><script type=\"server\" language=\"lua\"/></meta>", LOG_ERROR,
         "src attribute missing on script element in resource res!"},
        {"<meta><script src=\"a.js\" language=\"lua\"/></meta>", LOG_ERROR,
         "type attribute missing on script element in resource res!"},
        {"<meta><script src=\"a.js\" type=\"server\"/></meta>", LOG_ERROR,
         "language attribute missing on script element in resource res!"},
        {"<meta><script src=\"a.js\" type=\"both\" language=\"lua\"/></meta>", LOG_ERROR, "invalid type in resource res!"},
        {"<meta><script src=\"none.js\" type=\"server\" language=\"lua\"/></meta>", LOG_ERROR,
         "unable to load script none.js in resource res!"},
        {"<meta><map type=\"server\"/></meta>", LOG_ERROR, "src attribute missing on map element in resource res!"},
        {"<meta><map src=\"a.js\"/></meta>", LOG_ERROR, "type attribute missing on map element in resource res!"},
        {"<meta><map src=\"none.xml\" type=\"server\"/></meta>", LOG_ERROR, "unable to load map none.xml in resource res!"},
        {"<meta><file src=\"a.js\"/></meta>", LOG_ERROR, "src or type attribute missing on file element in resource res!"},
        {"<meta><file src=\"none.txt\" type=\"client\"/></meta>", LOG_ERROR, "unable to load file none.txt in resource res!"},
        {"<meta><file src=\"a.js\" type=\"server\"/></meta>", LOG_ERROR, "invalid type in resource res!"},
        {"<meta><dependency src=\"nowhere\"/></meta>", LOG_WARN, "Unable to find dependency nowhere for resource res!"},
        {"<meta><script src=", LOG_WARN, "Failed to load resource res!"},
        {"", LOG_WARN, "Failed to load resource res!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meta);
        log.lines.clear();
        EXPECT_FALSE(LoadOne(c.meta, {{"a.js", "a"}}));
        EXPECT_TRUE(Logged(c.level, c.message));
        EXPECT_TRUE(Logged(LOG_WARN, "Failed to load resource res!"));
    }
    std::remove((root / "resources/res/meta.xml").c_str());
    log.lines.clear();
    manager->RefreshResources(false);
    EXPECT_TRUE(Logged(LOG_ERROR, "unable to load meta.xml in resource res!"));
}

TEST_F(ResourceTests, ClientInfoRecordListsClientScriptsAndFilesInMetaOrder)
{
    ASSERT_TRUE(LoadOne(R"(<meta><script src="c.js" type="client" language="javascript"/>
                              <map src="m.xml" type="client"/><file src="f.txt" type="client"/></meta>)",
                        {{"c.js", "abc"}, {"m.xml", "<m/>"}, {"f.txt", "0123456789"}}));
    CUnlimitedStream stream;
    ASSERT_TRUE(Find("res")->WriteClientInfo(&stream));
    stream.Rewind();
    CBinaryReader reader(&stream);
    std::string text;
    uint32_t count = 0, size = 0, checksum = 0;
    uint8_t type = 0;
    ASSERT_TRUE(reader.ReadString(text));
    EXPECT_EQ(text, "res");
    ASSERT_TRUE(reader.ReadUInt32(count));
    ASSERT_EQ(count, 2u);
    const std::pair<uint8_t, std::string> expected[] = {{4, "<m/>"}, {3, "abc"}};
    for (const auto& [expectedType, contents] : expected) {
        ASSERT_TRUE(reader.ReadUInt8(type) && reader.ReadString(text) && reader.ReadUInt32(size));
        EXPECT_EQ(type, expectedType);
        std::string bytes(size, '\0');
        ASSERT_TRUE(reader.Read(bytes.data(), size));
        EXPECT_EQ(bytes, contents);
    }
    ASSERT_TRUE(reader.ReadUInt32(count));
    ASSERT_EQ(count, 1u);
    ASSERT_TRUE(reader.ReadString(text));
    EXPECT_EQ(text, "f.txt");
    ASSERT_TRUE(reader.ReadString(text));
    EXPECT_EQ(text.size(), 64u);
    ASSERT_TRUE(reader.ReadUInt32(size) && reader.ReadUInt32(checksum));
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(checksum, 2793719750u);
    EXPECT_EQ(stream.GetRemaining(), 0u);
}

TEST_F(ResourceTests, AFolderResourceReadsAndWritesOnlyInsideItsFolder)
{
    TestFiles::WriteFile(root / "server.xml", "<server/>");
    TestFiles::WriteFile(root / "resources/secret.txt", "secret");
    ASSERT_TRUE(LoadOne("<meta/>", {{"data/in.txt", "inside"}}));
    // A link inside the folder that leads out of it.
    ASSERT_EQ(symlink("../../server.xml", (root / "resources/res/escape.xml").c_str()), 0);
    CResource* resource = Find("res");

    EXPECT_EQ(TestFiles::ReadAll(resource->OpenFile("data/in.txt", false)), "inside");
    EXPECT_EQ(TestFiles::ReadAll(resource->OpenFile("/server.xml", false)), "<server/>");
    EXPECT_EQ(resource->OpenFile("../secret.txt", false), nullptr);
    EXPECT_EQ(resource->OpenFile("/server.xml", true), nullptr);
    EXPECT_EQ(resource->OpenFile("/resources/../server.xml", false), nullptr);
    EXPECT_EQ(resource->OpenFile("escape.xml", false), nullptr) << "a link must not lead out of the folder";
    EXPECT_EQ(resource->CreateFile("/server.xml"), nullptr);
    EXPECT_EQ(resource->CreateFile("../out.txt"), nullptr);

    Strong<Stream> created = resource->CreateFile("saves/new.txt");
    ASSERT_NE(created, nullptr);
    created->Write("x", 1);
    created = nullptr;
    EXPECT_EQ(TestFiles::ReadFile(root / "resources/res/saves/new.txt"), "x");
    EXPECT_TRUE(resource->FileExists("saves", false, true));
    EXPECT_FALSE(resource->FileExists("saves", true, false));
    EXPECT_TRUE(resource->FileExists("/server.xml", true, false));
    EXPECT_FALSE(resource->FileExists("../secret.txt", true, true));
}

TEST_F(ResourceTests, AnArchiveResourceIsReadOnlyAndNeverWritesIntoTheServerFolder)
{
    TestFiles::WriteFile(root / "server.xml", "<server/>");
    WriteResource("packing", "<meta><file src=\"f.txt\" type=\"client\"/></meta>", {{"f.txt", "member"}});
    PackResource("packing", "packed");
    manager->RefreshResources(false);
    CResource* resource = Find("packed");
    ASSERT_NE(resource, nullptr);
    EXPECT_TRUE(resource->IsArchive());
    EXPECT_EQ(resource->GetClientFiles().size(), 1u);

    EXPECT_EQ(TestFiles::ReadAll(resource->OpenFile("f.txt", false)), "member");
    // Hazard: with no folder of its own, a relative writable path used to open the server's file.
    EXPECT_EQ(resource->OpenFile("server.xml", true), nullptr);
    resource->CloseArchive();
    EXPECT_EQ(resource->CreateFile("server.xml"), nullptr) << "refused before the archive is opened too";
    EXPECT_EQ(resource->CreateFile("new.txt"), nullptr);
    EXPECT_EQ(TestFiles::ReadFile(root / "server.xml"), "<server/>");
    EXPECT_FALSE(std::ifstream(root / "new.txt").good());
}

TEST_F(ResourceTests, StartRunsServerScriptsInOneEnvironmentPerLanguageThenRaisesOnResourceStart)
{
    WriteResource("res", ScriptsMeta({"one.js", "two.js"}, R"(<script src="c.js" type="client" language="javascript"/>)"),
                  {{"one.js", "one"}, {"two.js", "two"}, {"c.js", "client"}});
    manager->RefreshResources(false);
    CResource* resource = Find("res");
    Strong<CResource> seen;
    auto handler = MakeStrong<CRecordingFunction>([&](const CArgumentArray& arguments, CReturnValue*) {
        seen = static_cast<CResource*>(arguments.GetAt(1)->ToObject());
        EXPECT_TRUE(seen->IsStarted());
        EXPECT_TRUE(seen->IsStarting());
        return true;
    });
    manager->GetResourceStartEvent()->AddHandler(MakeStrong<EventHandlers::CScriptEventHandler>(handler.Get()), nullptr);

    ASSERT_TRUE(resource->Start());
    EXPECT_EQ(engine->m_ran, (std::vector<std::string>{"res:/resources/res/one.js", "res:/resources/res/two.js"}));
    ASSERT_EQ(engine->m_environments.size(), 1u);
    EXPECT_EQ(engine->m_environments[0]->m_pResource, resource);
    EXPECT_EQ(resource->GetEnvironment(SCRIPT_TYPE_JAVASCRIPT), engine->m_environments[0].get());
    EXPECT_EQ(seen.Get(), resource);
    EXPECT_FALSE(resource->IsStarting());
    EXPECT_TRUE(Logged(LOG_INFO, "START: Resource res started."));

    EXPECT_FALSE(resource->Start());
    EXPECT_TRUE(Logged(LOG_WARN, "START: Resource res already running!"));
    ASSERT_TRUE(resource->Stop(false, false));
    EXPECT_TRUE(engine->m_environments[0]->m_bDestroyed);
    EXPECT_EQ(resource->GetEnvironment(SCRIPT_TYPE_JAVASCRIPT), nullptr);
    EXPECT_FALSE(resource->Stop(false, false));
    EXPECT_TRUE(Logged(LOG_WARN, "STOP: Resource res already stopped!"));
}

TEST_F(ResourceTests, AFailedStartRemovesWhatTheScriptsRegisteredAndIsNeverLeftRunning)
{
    // Every script registers a command, an event handler and a timer before the failure.
    engine->Script("register", [](CFakeEnvironment& env) {
        env.Call("addCommandHandler", Args("leftover", env.Function(nullptr)));
        env.Call("addEventHandler", Args("OnProcess", env.Function(nullptr)));
        env.Call("setTimeout", Args(env.Function(nullptr), 1000));
        return true;
    });
    engine->Script("throws", [](CFakeEnvironment&) { return false; });

    struct Case {
        const char* name;
        std::string meta;
        const char* message;
        bool vetoStart;
    };
    const Case cases[] = {
        {"failing script", ScriptsMeta({"reg.js", "bad.js"}), nullptr, false},
        {"no engine for the language",
         ScriptsMeta({"reg.js"}, R"(<script src="l.lua" type="server" language="lua"/>)"),
         "START: No lua engine is registered to run /resources/res/l.lua in resource res!", false},
        {"unknown language", ScriptsMeta({"reg.js"}, R"(<script src="p.py" type="server" language="python"/>)"),
         "START: Script /resources/res/p.py in resource res has a language no engine runs!", false},
        {"start vetoed by a handler", ScriptsMeta({"reg.js"}), nullptr, true},
    };
    // Hazard: the clean-up stop used to be vetoable, leaving a half-started resource running.
    auto vetoStop = Veto();
    Handle(manager->GetResourceStopEvent(), vetoStop);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        auto vetoStart = Veto();
        if (c.vetoStart)
            Handle(manager->GetResourceStartEvent(), vetoStart);
        WriteResource("res", c.meta, {{"reg.js", "register"}, {"bad.js", "throws"}, {"l.lua", ""}, {"p.py", ""}});
        manager->RefreshResources(false);
        CResource* resource = Find("res");
        ASSERT_NE(resource, nullptr);
        EXPECT_FALSE(resource->Start());
        EXPECT_TRUE(Logged(LOG_ERROR, "START: Resource res failed to load!"));
        if (c.message) {
            EXPECT_TRUE(Logged(LOG_ERROR, c.message));
        }
        EXPECT_FALSE(resource->IsStarted());
        EXPECT_FALSE(resource->IsStarting());
        EXPECT_EQ(engine->LiveEnvironments(), 0u);
        EXPECT_FALSE(manager->GetCommandHandlers()->HasCommandHandler("leftover"));
        EXPECT_EQ(manager->GetEventHandlers()->GetEventType("OnProcess")->GetHandlerCount(), 0u);
        EXPECT_EQ(manager->GetTimers()->GetTimerCount(), 0u);
        manager->GetResourceStartEvent()->RemoveHandlers(nullptr);
    }
}

TEST_F(ResourceTests, StopTakesAwayEverythingTheResourceRegisteredUnlessAHandlerVetoesAnUnforcedStop)
{
    engine->Script("register", [](CFakeEnvironment& env) {
        env.Call("addCommandHandler", Args("mine", env.Function(nullptr)));
        env.Call("addEventHandler", Args("OnProcess", env.Function(nullptr)));
        env.Call("setInterval", Args(env.Function(nullptr), 50));
        return true;
    });
    WriteResource("res", ScriptsMeta({"reg.js"}), {{"reg.js", "register"}});
    WriteResource("other", ScriptsMeta({"reg2.js"}), {{"reg2.js", "other"}});
    engine->Script("other", [](CFakeEnvironment& env) {
        env.Call("addEventHandler", Args("OnProcess", env.Function(nullptr)));
        return true;
    });
    manager->RefreshResources(false);
    CResource* resource = Find("res");
    ASSERT_TRUE(resource->Start());
    ASSERT_TRUE(Find("other")->Start());
    EXPECT_TRUE(manager->GetCommandHandlers()->HasCommandHandler("mine"));

    std::vector<bool> restartingFlags;
    bool veto = true;
    auto onStop = MakeStrong<CRecordingFunction>([&](const CArgumentArray& arguments, CReturnValue*) {
        restartingFlags.push_back(arguments.GetAt(2)->ToBoolean());
        if (veto)
            Invoke(arguments.GetAt(0), "preventDefault");
        return true;
    });
    Handle(manager->GetResourceStopEvent(), onStop);

    EXPECT_FALSE(resource->Stop(false, false));
    EXPECT_TRUE(Logged(LOG_ERROR, "STOP: Resource res failed to stop!"));
    EXPECT_TRUE(resource->IsStarted());
    EXPECT_TRUE(manager->GetCommandHandlers()->HasCommandHandler("mine"));

    EXPECT_TRUE(resource->Stop(true, true)) << "a forced stop ignores the veto";
    EXPECT_EQ(restartingFlags, (std::vector<bool>{false, true}));
    EXPECT_FALSE(resource->IsStarted());
    EXPECT_FALSE(manager->GetCommandHandlers()->HasCommandHandler("mine"));
    EXPECT_EQ(manager->GetTimers()->GetTimerCount(), 0u);
    EXPECT_EQ(manager->GetEventHandlers()->GetEventType("OnProcess")->GetHandlerCount(), 1u) << "the other's stays";
    EXPECT_TRUE(Logged(LOG_INFO, "STOP: Resource res stopped."));
}

TEST_F(ResourceTests, AScriptThatStopsOrRestartsItsOwnResourceIsStoppedOnlyAfterItsCallReturns)
{
    // Hazard: the stop used to destroy the environment under the running handler (the fake
    // environment reports that as a failure).
    struct Case {
        const char* name;
        const char* method;
        bool startedAfter;
        size_t environments;
    };
    const Case cases[] = {
        {"stop from a command", "stop", false, 1},
        {"restart from a command", "restart", true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine->m_environments.clear();
        bool stillStartedInside = false;
        engine->Script("self", [&](CFakeEnvironment& env) {
            env.Call("addCommandHandler", Args("selfstop", env.Function([&env, &c, &stillStartedInside](
                                                                            const CArgumentArray&, CReturnValue*) {
                         CResource* self = env.m_pResource;
                         tNativeCallResult result = env.CallMethod(self, c.method, Args());
                         EXPECT_TRUE(result.m_value && result.m_value->ToBoolean());
                         stillStartedInside = self->IsStarted() && !env.m_bDestroyed;
                         return true;
                     })));
            return true;
        });
        WriteResource("res", ScriptsMeta({"self.js"}), {{"self.js", "self"}});
        manager->RefreshResources(false);
        CResource* resource = Find("res");
        ASSERT_TRUE(resource->Start());
        manager->GetCommandHandlers()->ConsoleCommandOnly("selfstop", nullptr, true);
        EXPECT_TRUE(stillStartedInside);
        EXPECT_EQ(resource->IsStarted(), c.startedAfter);
        EXPECT_EQ(engine->m_environments.size(), c.environments);
        EXPECT_TRUE(engine->m_environments[0]->m_bDestroyed);
        resource->Stop(false, true);
    }
}

TEST_F(ResourceTests, AStopAskedForByTheStartingScriptWaitsForTheStartToFinish)
{
    engine->Script("quitter", [](CFakeEnvironment& env) {
        env.CallMethod(env.m_pResource, "stop", Args());
        return true;
    });
    WriteResource("res", ScriptsMeta({"q.js", "next.js"}), {{"q.js", "quitter"}, {"next.js", "next"}});
    manager->RefreshResources(false);
    CResource* resource = Find("res");
    EXPECT_TRUE(resource->Start());
    EXPECT_FALSE(resource->IsStarted());
    EXPECT_EQ(engine->m_ran.size(), 2u) << "every script ran before the stop";
    EXPECT_LT(LineIndex("START: Resource res started."), LineIndex("STOP: Resource res stopped."));
}

TEST_F(ResourceTests, DependenciesStartFirstCyclesEndAndAVanishedDependencyFailsTheStart)
{
    WriteResource("a", "<meta><dependency src=\"b\"/></meta>");
    WriteResource("b", "<meta><dependency src=\"a\"/></meta>");
    WriteResource("c", "<meta><dependency src=\"b\"/></meta>");
    manager->RefreshResources(false);
    ASSERT_TRUE(Find("a")->Start());
    EXPECT_TRUE(Find("b")->IsStarted());
    EXPECT_LT(LineIndex("START: Resource b started."), LineIndex("START: Resource a started."));
    manager->ClearAllResources();

    WriteResource("a", "<meta/>");
    manager->RefreshResources(false);
    Strong<CResource> dependant = Find("c");
    ASSERT_TRUE(dependant);
    std::filesystem::remove_all(root / "resources/b");
    std::filesystem::remove_all(root / "resources/c");
    manager->RefreshResources(false);
    EXPECT_EQ(Find("b"), nullptr);
    // Hazard: the dependency list used to keep a dangling pointer to the removed resource.
    ASSERT_EQ(dependant->GetDependencies().size(), 1u);
    EXPECT_EQ(dependant->GetDependencies()[0], nullptr);
    log.lines.clear();
    EXPECT_FALSE(dependant->Start());
    EXPECT_TRUE(Logged(LOG_ERROR, "START: Failed to start dependant resources for c!"));
    EXPECT_FALSE(dependant->IsStarting());
}

TEST_F(ResourceTests, ExportsAreCalledInTheExporterAndFailWithAScriptErrorOnceItStopped)
{
    int calls = 0;
    engine->Script("exporter", [&calls](CFakeEnvironment& env) {
        env.Call("exportFunction", Args("twice", env.Function([&calls](const CArgumentArray& arguments, CReturnValue* results) {
                     ++calls;
                     int32_t value = 0;
                     arguments.GetAt(0)->ToNumber(value);
                     results->AddNumber(value * 2);
                     return true;
                 })));
        return true;
    });
    WriteResource("lib", ScriptsMeta({"lib.js"}), {{"lib.js", "exporter"}});
    manager->RefreshResources(false);
    CResource* lib = Find("lib");
    ASSERT_TRUE(lib->Start());

    CNativeCallHelper caller(manager->GetScripting(), nullptr);
    ReflectedClass* cls = manager->GetResourceClass();
    tNativeCallResult missing = caller.Call(cls->GetFunction("getExport"), *Args("nothing"), lib);
    ASSERT_TRUE(missing.m_value);
    EXPECT_TRUE(missing.m_value->IsUndefined());
    tNativeCallResult exported = caller.Call(cls->GetFunction("getExport"), *Args("twice"), lib);
    ASSERT_TRUE(exported.m_value && exported.m_value->IsFunction());
    Strong<CFunction> twice = exported.m_value->ToFunction();

    // Scripts call a function value through the trampoline.
    ScriptFunction trampoline("", "", Reflection::FunctionTrampoline);
    tNativeCallResult result = caller.Call(trampoline, twice.Get(), *Args(21));
    ASSERT_TRUE(result.m_bResult);
    int32_t value = 0;
    ASSERT_TRUE(result.m_value && result.m_value->ToNumber(value));
    EXPECT_EQ(value, 42);

    lib->Stop(false, false);
    // Hazard: the copy a caller kept used to call into the destroyed environment.
    result = caller.Call(trampoline, twice.Get(), *Args(1));
    EXPECT_FALSE(result.m_bResult);
    EXPECT_EQ(result.m_error, "Export twice of resource lib cannot be called: the resource is not running");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(caller.Call(cls->GetFunction("getExport"), *Args("twice"), lib).m_value->IsUndefined());
}

TEST_F(ResourceTests, RestartOfAStoppedResourceDoesNotStartIt)
{
    ASSERT_TRUE(LoadOne("<meta/>"));
    EXPECT_FALSE(Find("res")->Restart());
    EXPECT_FALSE(Find("res")->IsStarted());
    EXPECT_TRUE(Logged(LOG_INFO, "RESTART: Restarting resource res..."));
}
