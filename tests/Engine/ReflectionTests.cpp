#include "Engine/ArgumentTestSupport.h"
#include "Engine/NativeTestSupport.h"

#include "Engine/CRC32Hash.h"
#include "Engine/NativeCallHelper.h"
#include "Engine/ObjectValue.h"
#include "Engine/Reflection.h"
#include "Engine/Scripting.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Corvane3D;
using namespace NativeTest;

TEST(ReflectedClassTests, PropertiesAreFoundOnTheClassOrTheNearestParent)
{
    ReflectedClass root("Root");
    ReflectedClass middle("Middle", &root);
    ReflectedClass leaf("Leaf", &middle);
    ReflectedProperty* rootName = root.AddProperty(nullptr, "name", ARGUMENT_STRING, nullptr);
    ReflectedProperty* middleName = middle.AddProperty(nullptr, "name", ARGUMENT_STRING, nullptr);
    ReflectedProperty* rootOnly = root.AddProperty(nullptr, "id", ARGUMENT_INTEGER, nullptr);

    EXPECT_EQ(leaf.GetProperty("name"), middleName);
    EXPECT_EQ(root.GetProperty("name"), rootName);
    EXPECT_EQ(leaf.GetProperty("id"), rootOnly);
    EXPECT_EQ(leaf.GetProperty("ID"), nullptr);
    EXPECT_STREQ(GetError(), "Property ID not found.");
    EXPECT_TRUE(leaf.IsA(&root));
    EXPECT_FALSE(root.IsA(&leaf));

    EXPECT_STREQ(rootName->GetGetter().GetName(), "");
    EXPECT_STREQ(rootName->GetGetter().GetMask(), "t");
    EXPECT_TRUE(rootName->IsReadOnly());
}

TEST(ReflectedClassTests, HooksAndConstructorCarryTheirFixedNamesAndMasks)
{
    ReflectedClass cls("Thing");
    auto native = [](CNativeState*, int, void*) { return true; };
    cls.RegisterConstructor("i|s", native);
    cls.RegisterClone(native);
    cls.RegisterMove(native);
    cls.RegisterToString(native);
    EXPECT_STREQ(cls.GetConstructor().m_Function.GetName(), "Thing");
    EXPECT_STREQ(cls.GetConstructor().m_Function.GetMask(), "i|s");
    EXPECT_STREQ(cls.GetCloneHook().m_Function.GetName(), "clone");
    EXPECT_STREQ(cls.GetMoveHook().m_Function.GetName(), "move");
    EXPECT_STREQ(cls.GetToStringHook().m_Function.GetName(), "toString");
    EXPECT_STREQ(cls.GetToStringHook().m_Function.GetMask(), "t");
}

TEST(ReflectedNamespaceTests, ChildrenAreFoundOrCreatedByExactName)
{
    ReflectedNamespace global("global");
    ReflectedNamespace* server = global.AddNamespace("server");
    EXPECT_EQ(global.AddNamespace("server"), server);
    EXPECT_NE(global.AddNamespace("Server"), server);
    EXPECT_EQ(global.GetNamespace("server"), server);
    EXPECT_EQ(global.GetNamespace("missing"), nullptr);
    EXPECT_STREQ(GetError(), "Namespace missing not found.");

    server->SetAlias("srv");
    EXPECT_STREQ(server->GetAlias(), "srv");
    EXPECT_EQ(global.GetAlias(), nullptr);
}

TEST(ReflectedNamespaceTests, OnlyExactNamesBecomeTheWellKnownClasses)
{
    ReflectedNamespace global("global");
    EXPECT_EQ(global.GetStreamClass(), nullptr);
    global.NewClass("stream");
    global.NewClass("Vec4");
    EXPECT_EQ(global.GetStreamClass(), nullptr);
    ReflectedClass* stream = global.NewClass("Stream");
    ReflectedClass* matrix = global.NewClass("Matrix4x4");
    ReflectedClass* vec2 = global.NewClass("Vec2");
    ReflectedClass* vec3 = global.NewClass("Vec3");
    EXPECT_EQ(global.GetStreamClass(), stream);
    EXPECT_EQ(global.GetMatrix4x4Class(), matrix);
    EXPECT_EQ(global.GetVector2DClass(), vec2);
    EXPECT_EQ(global.GetVector3DClass(), vec3);
    // Well-known classes are per namespace: a child's "Stream" is not the root's.
    global.AddNamespace("child")->NewClass("Stream");
    EXPECT_EQ(global.GetStreamClass(), stream);
}

namespace {

struct DeleterLog {
    std::vector<std::string> entries;
};

// What an engine keeps per class: it looks at its parent's record when it is freed.
struct EngineClassRecord {
    DeleterLog* log;
    std::string name;
    const ReflectedClass* parentClass;
};

constexpr uint32_t TestEngineId = 0x1234;

void DeleteRecord(void** data)
{
    std::unique_ptr<EngineClassRecord> record(static_cast<EngineClassRecord*>(std::exchange(*data, nullptr)));
    std::string entry = record->name;
    if (record->parentClass)
        entry += std::string(" after ") + record->parentClass->GetName();
    record->log->entries.push_back(entry);
}

void Attach(ReflectedClass* cls, DeleterLog* log)
{
    void** slot = cls->GetUserData().AddUserData(TestEngineId, DeleteRecord);
    *slot = std::make_unique<EngineClassRecord>(EngineClassRecord{log, cls->GetName(), cls->GetParentClass()}).release();
}

} // namespace

TEST(ReflectedUserDataTests, HoldsSixteenEntriesAndClearRunsEveryDeleterInOrder)
{
    static std::vector<int> order;
    order.clear();
    ReflectedUserData data;
    for (uint32_t id = 0; id < ReflectedUserData::MaxEntries; ++id) {
        void** slot = data.AddUserData(id % 8, [](void** entry) { order.push_back(int(reinterpret_cast<intptr_t>(*entry))); });
        ASSERT_NE(slot, nullptr);
        *slot = reinterpret_cast<void*>(intptr_t(id));
    }
    EXPECT_EQ(data.AddUserData(99, nullptr), nullptr);
    EXPECT_EQ(data.GetUserData(3), reinterpret_cast<void*>(intptr_t(3)));
    EXPECT_EQ(data.GetUserData(99), nullptr);
    data.Clear();
    EXPECT_EQ(data.GetCount(), 0u);
    ASSERT_EQ(order.size(), ReflectedUserData::MaxEntries);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], int(i));
}

TEST(ReflectedNamespaceTests, ClearingTheTreeFreesEveryEngineRecordWhileAllClassesStillExist)
{
    DeleterLog log;
    {
        ReflectedNamespace global("global");
        ReflectedClass* base = global.NewClass("Base");
        ReflectedNamespace* child = global.AddNamespace("child");
        // A class whose parent lives in another namespace, and whose records are freed first.
        ReflectedClass* derived = child->NewClass("Derived", base);
        Attach(base, &log);
        Attach(derived, &log);
        global.Clear();
        EXPECT_TRUE(global.GetClasses().empty());
        EXPECT_TRUE(global.GetNamespaces().empty());
    }
    EXPECT_EQ(log.entries, (std::vector<std::string>{"Base", "Derived after Base"}));
}

namespace {

struct ConstructorCase {
    const char* name;
    NativeFunction constructor;
    const char* error;
};

bool ReturnsNothing(CNativeState*, int, void*)
{
    return true;
}

bool ReturnsNumber(CNativeState* state, int, void*)
{
    state->ReturnNumber(1);
    return true;
}

bool ReturnsEmptyInstance(CNativeState* state, int, void*)
{
    state->ReturnAndOwn(MakeStrong<CArgumentObject>(nullptr));
    return true;
}

bool Fails(CNativeState* state, int, void*)
{
    return state->Error("constructor refused");
}

bool ReturnsObject(CNativeState* state, int, void* privateData)
{
    auto object = MakeStrong<CBaseObject>();
    object->SetReflectedClass(static_cast<ReflectedClass*>(privateData));
    state->ReturnObject(object);
    return true;
}

} // namespace

TEST(ReflectionConstruct, ReportsEachWayAConstructorCanFail)
{
    const ConstructorCase cases[] = {
        {"none", nullptr, "Class is not constructable"},
        {"nothing", ReturnsNothing, "Constructor didn't return anything"},
        {"number", ReturnsNumber, "Constructor didn't return object"},
        {"empty", ReturnsEmptyInstance, "Constructor returned null"},
        {"fails", Fails, "constructor refused"},
    };
    CScripting scripting;
    for (const ConstructorCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReflectedClass cls(c.name);
        if (c.constructor)
            cls.RegisterConstructor("", c.constructor);
        EXPECT_EQ(Reflection::Construct(&scripting, &cls), nullptr);
        EXPECT_STREQ(GetError(), c.error);
    }
}

TEST(ReflectionConstruct, GivesTheObjectWithOneReferenceForTheCaller)
{
    CScripting scripting;
    ReflectedClass cls("Made");
    cls.RegisterConstructor("", ReturnsObject, &cls);
    Strong<CBaseObject> object = Reflection::Construct(&scripting, &cls);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(object->GetReflectedClass(), &cls);
}

TEST(ReflectionToArgument, ObjectsOfTheWellKnownClassesBecomeValues)
{
    CScripting scripting;
    ReflectedNamespace* global = scripting.GetGlobal();
    ReflectedClass* vec2 = global->NewClass("Vec2");
    ReflectedClass* vec3 = global->NewClass("Vec3");
    ReflectedClass* matrix = global->NewClass("Matrix4x4");
    ReflectedClass* derivedMatrix = global->NewClass("Transform", matrix);

    auto point2 = MakeStrong<CObjectValue<CVector2D>>(CVector2D{1, 2});
    point2->SetReflectedClass(vec2);
    auto point3 = MakeStrong<CObjectValue<CVector3D>>(CVector3D{1, 2, 3});
    point3->SetReflectedClass(vec3);
    CMatrix4x4 identity;
    identity[0] = identity[5] = identity[10] = identity[15] = 1.0f;
    auto transform = MakeStrong<CObjectValue<CMatrix4x4>>(identity);
    transform->SetReflectedClass(derivedMatrix);
    // A module class derived from a well-known class whose object is something else.
    auto foreign = MakeStrong<CBaseObject>();
    foreign->SetReflectedClass(vec3);
    auto plain = MakeStrong<CBaseObject>();

    Strong<CArgument> value = Reflection::ToArgument(point2, &scripting);
    CVector2D v2;
    ASSERT_TRUE(value->IsVector2D());
    value->ToVector2D(v2);
    EXPECT_EQ(v2, (CVector2D{1, 2}));

    value = Reflection::ToArgument(point3, &scripting);
    CVector3D v3;
    ASSERT_TRUE(value->IsVector3D());
    value->ToVector3D(v3);
    EXPECT_EQ(v3, (CVector3D{1, 2, 3}));

    value = Reflection::ToArgument(transform, &scripting);
    CMatrix4x4 m;
    ASSERT_TRUE(value->IsMatrix4x4());
    value->ToMatrix4x4(m);
    EXPECT_EQ(m, identity);

    EXPECT_EQ(Reflection::ToArgument(foreign, &scripting)->ToObject(), foreign.Get());
    EXPECT_EQ(Reflection::ToArgument(plain, &scripting)->GetType(), ARGUMENT_OBJECT);
    EXPECT_EQ(Reflection::ToArgument(nullptr, &scripting)->GetType(), ARGUMENT_NIL);
}

namespace {

// A class with a value and all three hooks, as a script-visible native type would have.
struct Counter : CBaseObject {
    int value = 0;
};

struct ReflectionNatives : ::testing::Test {
    CScripting scripting;
    ReflectedNamespace* reflection = scripting.GetReflectionNamespace();
    ReflectedClass* counterClass = scripting.GetGlobal()->NewClass("Counter");
    ReflectedClass* bareClass = scripting.GetGlobal()->NewClass("Bare");
    CNativeCallHelper helper{&scripting};

    ReflectionNatives()
    {
        counterClass->RegisterClone([](CNativeState* state, int, void* privateData) {
            Counter* self = nullptr;
            if (!state->GetThis(static_cast<ReflectedClass*>(privateData), self))
                return false;
            auto copy = MakeStrong<Counter>();
            copy->value = self->value;
            copy->SetReflectedClass(self->GetReflectedClass());
            state->ReturnObject(copy);
            return true;
        }, counterClass);
        counterClass->RegisterMove([](CNativeState* state, int, void*) {
            Counter* self = nullptr;
            Counter* source = nullptr;
            if (!state->GetThis(nullptr, self) || !state->CheckClass(nullptr, 0, false, source))
                return false;
            self->value = std::exchange(source->value, 0);
            return true;
        });
        counterClass->RegisterToString([](CNativeState* state, int, void*) {
            Counter* self = nullptr;
            if (!state->GetThis(nullptr, self))
                return false;
            state->ReturnString(("Counter(" + std::to_string(self->value) + ")").c_str());
            return true;
        });
    }

    Strong<Counter> NewCounter(int value)
    {
        auto counter = MakeStrong<Counter>();
        counter->value = value;
        counter->SetReflectedClass(counterClass);
        return counter;
    }

    tNativeCallResult Call(const char* name, const Strong<CArgumentArray>& arguments)
    {
        return helper.Call(reflection->GetFunction(name), *arguments);
    }
};

} // namespace

TEST_F(ReflectionNatives, AreRegisteredWithTheirMasks)
{
    const std::pair<const char*, const char*> expected[] = {
        {"clone", "x"}, {"move", "xx"}, {"tostring", "x"}, {"createFunction", "c"}, {"call", "x"},
    };
    for (const auto& [name, mask] : expected) {
        ReflectedFunction* function = reflection->GetFunction(name);
        ASSERT_NE(function, nullptr) << name;
        EXPECT_STREQ(function->GetMask(), mask);
    }
    EXPECT_NE(scripting.GetGlobal()->GetNamespace("module"), nullptr);
    EXPECT_EQ(reflection->GetClass("Function"), scripting.GetFunctionClass());
}

TEST_F(ReflectionNatives, RefuseObjectsTheyCannotHandleWithTheExactTexts)
{
    auto bare = MakeStrong<CBaseObject>();
    bare->SetReflectedClass(bareClass);
    auto classless = MakeStrong<CBaseObject>();
    auto counter = NewCounter(1);
    struct Case {
        const char* function;
        Strong<CArgumentArray> arguments;
        const char* error;
    };
    const Case cases[] = {
        {"clone", Args(), "Expected Object for argument 1"},
        {"clone", Args("text"), "Expected Object for argument 1"},
        {"clone", Args(classless), "Class not part of reflection"},
        {"clone", Args(bare), "Class is not cloneable"},
        {"move", Args(counter), "Expected Object for argument 2"},
        {"move", Args(counter, counter), "Cannot move to same place"},
        {"move", Args(classless, counter), "Class not part of reflection"},
        {"move", Args(bare, counter), "Class is not movable"},
        {"tostring", Args(nullptr), "Expected Object for argument 1"},
        {"tostring", Args(classless), "Class not part of reflection"},
        {"tostring", Args(bare), "Class doesn't implement ToString"},
        {"createFunction", Args(counter), "Expected Function for argument 1"},
        {"call", Args(counter), "Expected Function for argument 1"},
        {"call", Args(), "Expected Function for argument 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " / " + c.error);
        const tNativeCallResult result = Call(c.function, c.arguments);
        EXPECT_FALSE(result.m_bResult);
        EXPECT_TRUE(result.KeptContract());
        EXPECT_EQ(result.m_error, c.error);
    }
}

TEST_F(ReflectionNatives, CloneMoveAndToStringRunTheClassHooks)
{
    auto counter = NewCounter(5);
    tNativeCallResult result = Call("clone", Args(counter));
    ASSERT_TRUE(result.m_bResult) << result.m_error;
    auto* copy = dynamic_cast<Counter*>(result.m_value->ToObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, counter.Get());
    EXPECT_EQ(copy->value, 5);

    auto target = NewCounter(0);
    result = Call("move", Args(target, counter));
    ASSERT_TRUE(result.m_bResult) << result.m_error;
    EXPECT_TRUE(result.m_value->ToBoolean());
    EXPECT_EQ(target->value, 5);
    EXPECT_EQ(counter->value, 0);

    result = Call("tostring", Args(target));
    ASSERT_TRUE(result.m_bResult) << result.m_error;
    EXPECT_EQ(StringOf(result.m_value), "Counter(5)");
}

TEST_F(ReflectionNatives, HookFailuresReachTheScriptWithTheHooksOwnText)
{
    bareClass->RegisterClone([](CNativeState* state, int, void*) { return state->Error("clone refused"); });
    bareClass->RegisterToString([](CNativeState* state, int, void*) {
        state->ReturnNumber(3);
        return true;
    });
    auto bare = MakeStrong<CBaseObject>();
    bare->SetReflectedClass(bareClass);
    EXPECT_EQ(Call("clone", Args(bare)).m_error, "clone refused");
    EXPECT_EQ(Call("tostring", Args(bare)).m_error, "ToString didn't return a string");

    bareClass->RegisterClone([](CNativeState*, int, void*) { return true; });
    bareClass->RegisterToString([](CNativeState*, int, void*) { return true; });
    EXPECT_EQ(Call("clone", Args(bare)).m_error, "Clone didn't return anything");
    EXPECT_EQ(Call("tostring", Args(bare)).m_error, "ToString didn't return anything");
}

TEST_F(ReflectionNatives, FunctionsBecomeObjectsThatCallCanRunWithClonedArguments)
{
    auto passed = MakeStrong<CArgumentString>("original");
    bool sawTheCallersValue = false;
    auto function = MakeStrong<CRecordingFunction>([&](const CArgumentArray& arguments, CReturnValue* results) {
        sawTheCallersValue = sawTheCallersValue || arguments.GetAt(1) == passed.Get();
        results->AddNumber(int32_t(arguments.GetArrayCount()));
        results->AddString("ignored");
        return false;
    });

    tNativeCallResult made = Call("createFunction", Args(function));
    ASSERT_TRUE(made.m_bResult) << made.m_error;
    ASSERT_EQ(made.m_value->ToObject(), function.Get());
    EXPECT_EQ(function->GetReflectedClass(), scripting.GetFunctionClass());

    auto arguments = Args(made.m_value.Get(), 1);
    arguments->AddAndOwn(passed);
    tNativeCallResult called = Call("call", arguments);
    // The function's own failure does not make the call fail.
    ASSERT_TRUE(called.m_bResult) << called.m_error;
    EXPECT_EQ(IntegerOf(called.m_value), 2);
    ASSERT_EQ(function->CallCount(), 1u);
    EXPECT_FALSE(sawTheCallersValue);
    EXPECT_EQ(StringOf(function->ArgumentOf(0, 1)), "original");

    // The trampoline engines use for functions handed to scripts behaves the same.
    tNativeCallResult trampolined =
        helper.Call(ScriptFunction("", "", Reflection::FunctionTrampoline), function.Get(), *Args("a", "b", "c"));
    EXPECT_TRUE(trampolined.m_bResult);
    EXPECT_EQ(IntegerOf(trampolined.m_value), 3);
}

namespace {

// An engine that records what the core asks of it.
class RecordingVM : public CScriptingVM {
public:
    RecordingVM(std::string name, std::vector<std::string>* log, bool defineResult = true)
        : m_name(std::move(name)), m_log(log), m_defineResult(defineResult)
    {
    }
    ~RecordingVM() override { m_log->push_back(m_name + ".destroyed"); }
    bool DefineClasses() override
    {
        m_log->push_back(m_name + ".define");
        return m_defineResult;
    }
    void CollectGarbage() override { m_log->push_back(m_name + ".collect"); }
    CScriptEnvironment* CreateEnvironment(const char*) override { return nullptr; }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
    bool m_defineResult;
};

} // namespace

TEST(ScriptingCore, EnginesAreKeyedByTheCrcOfTheirNameAndKeptInRegistrationOrder)
{
    ArgumentTest::LogCapture capture;
    std::vector<std::string> log;
    {
        CScripting scripting;
        EXPECT_EQ(CScriptingVM::GetEngineId("Lua"), CRC32Hash::HashString("Lua", false));
        EXPECT_NE(CScriptingVM::GetEngineId("Lua"), CScriptingVM::GetEngineId("lua"));
        ASSERT_TRUE(scripting.AddVM(CScriptingVM::GetEngineId("Lua"), std::make_unique<RecordingVM>("Lua", &log)));
        ASSERT_TRUE(scripting.AddVM(CScriptingVM::GetEngineId("SpiderMonkey"),
                                    std::make_unique<RecordingVM>("SpiderMonkey", &log, false)));
        ASSERT_TRUE(
            scripting.AddVM(CScriptingVM::GetEngineId("Squirrel"), std::make_unique<RecordingVM>("Squirrel", &log)));
        EXPECT_FALSE(scripting.AddVM(CScriptingVM::GetEngineId("Lua"), std::make_unique<RecordingVM>("Again", &log)));
        EXPECT_EQ(scripting.GetVMCount(), 3u);
        EXPECT_NE(scripting.GetVM("Squirrel"), nullptr);
        EXPECT_EQ(scripting.GetVM("squirrel"), nullptr);

        // Give an engine a class record so that the teardown order is visible.
        ReflectedClass* cls = scripting.GetGlobal()->NewClass("Recorded");
        cls->GetUserData().AddUserData(1, [](void**) {});
        log.clear();
        EXPECT_FALSE(scripting.DefineAllClasses());
        EXPECT_EQ(log, (std::vector<std::string>{"Lua.define", "SpiderMonkey.define"}));
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"Lua.collect", "SpiderMonkey.collect", "Squirrel.collect", "Lua.destroyed",
                                              "SpiderMonkey.destroyed", "Squirrel.destroyed"}));
}

TEST(ScriptingCore, RefusesASeventeenthEngine)
{
    ArgumentTest::LogCapture capture;
    std::vector<std::string> log;
    CScripting scripting;
    for (uint32_t id = 0; id < CScripting::MaxEngines; ++id)
        ASSERT_TRUE(scripting.AddVM(id, std::make_unique<RecordingVM>("vm", &log)));
    EXPECT_FALSE(scripting.AddVM(100, std::make_unique<RecordingVM>("extra", &log)));
    EXPECT_EQ(scripting.GetVM(100), nullptr);
    EXPECT_TRUE(capture.Contains(LOG_ERROR, "Too many script engines"));
}

namespace {

// The shape of a server setting published to scripts: a read-write property and a function.
struct ServerSettings {
    std::string name = "halden";
    int32_t maxPlayers = 32;
};

bool GetServerName(CNativeState* state, int, void* privateData)
{
    state->ReturnString(static_cast<ServerSettings*>(privateData)->name.c_str());
    return true;
}

bool SetServerName(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    static_cast<ServerSettings*>(privateData)->name = name;
    return true;
}

bool FunctionSetMaxPlayers(CNativeState* state, int, void* privateData)
{
    int32_t count = 0;
    if (!state->CheckNumber(0, count))
        return false;
    if (count < 1 || count > 128)
        return state->Error("Player count %d out of range", count);
    static_cast<ServerSettings*>(privateData)->maxPlayers = count;
    state->ReturnBoolean(true);
    return true;
}

} // namespace

TEST(ScriptingCore, ServerNamespaceMembersAreRegisteredAndCalledLikeAnyNative)
{
    CScripting scripting;
    ServerSettings settings;
    ReflectedNamespace* server = scripting.GetGlobal()->AddNamespace("server");
    server->AddProperty(&settings, "name", ARGUMENT_STRING, GetServerName, SetServerName);
    server->RegisterFunction("setMaxPlayers", "i", FunctionSetMaxPlayers, &settings);

    CNativeCallHelper helper(&scripting);
    ReflectedProperty* name = server->GetProperty("name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(StringOf(helper.Get(name).m_value), "halden");
    auto newName = MakeStrong<CArgumentString>("renamed");
    EXPECT_TRUE(helper.Set(name, newName).m_bResult);
    EXPECT_EQ(settings.name, "renamed");
    EXPECT_EQ(helper.Set(name, MakeStrong<CArgumentInteger>(1)).m_error, "Expected string for argument 1");

    ReflectedFunction* setMaxPlayers = server->GetFunction("setMaxPlayers");
    EXPECT_TRUE(helper.Call(setMaxPlayers, *Args(64)).m_bResult);
    EXPECT_EQ(settings.maxPlayers, 64);
    EXPECT_EQ(helper.Call(setMaxPlayers, *Args(0)).m_error, "Player count 0 out of range");
    EXPECT_EQ(settings.maxPlayers, 64);
}
