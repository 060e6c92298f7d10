#pragma once
// Shared by the JavaScript binding tests: one engine start for the whole test process, a scripting
// core with the event and timer tables, a test namespace of natives, stand-ins for the vector and
// matrix classes, and a small class hierarchy of native objects.

#include "Engine/ArgumentTestSupport.h"
#include "Engine/NativeTestSupport.h"

#include "Engine/Context.h"
#include "Engine/ObjectValue.h"
#include "Engine/Scripting.h"
#include "JSScripting/JSScriptEnvironment.h"
#include "JSScripting/JSScripting.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/TimerHandlers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace JSTest {

using namespace Corvane3D;
using namespace NativeTest;

// A native object scripts can see; counts itself so tests can tell when it is destroyed.
class CTestThing : public CBaseObject {
public:
    CTestThing(std::string name, int* live) : m_name(std::move(name)), m_pLive(live) { ++*m_pLive; }

    std::string m_name;

protected:
    ~CTestThing() override { --*m_pLive; }

private:
    int* m_pLive;
};

struct JSFixture : ::testing::Test {
    ArgumentTest::LogCapture log;
    CScripting scripting;
    CJSScripting* js = nullptr;
    EventHandlers::CEventHandlers events{&scripting};
    TimerHandlers::CTimerHandlers timers{&scripting};
    ReflectedClass* thingClass = nullptr;
    ReflectedClass* specialClass = nullptr;
    int liveThings = 0;
    // What test.record received, one argument list per call.
    std::vector<Strong<CArgumentArray>> recorded;
    // What test.give hands out.
    Strong<CArgument> gift;
    // Objects native code keeps (test.keep).
    std::vector<Strong<CBaseObject>> kept;
    std::vector<CScriptEnvironment*> environments;
    // Stand-ins for resources; only their addresses matter.
    char resources[2] = {};

    CResource* Resource(int index) { return reinterpret_cast<CResource*>(&resources[index]); }

    JSFixture()
    {
        auto engine = std::make_unique<CJSScripting>(&scripting);
        js = engine.get();
        scripting.AddVM(CJSScripting::GetId(), std::move(engine));
        RegisterValueClasses();
        RegisterTestNamespace();
        scripting.DefineAllClasses();
    }

    ~JSFixture() override
    {
        for (CScriptEnvironment* environment : environments)
            environment->Destroy();
        kept.clear();
        recorded.clear();
        gift = nullptr;
    }

    CJSScriptEnvironment* NewEnvironment()
    {
        CScriptEnvironment* environment = js->CreateEnvironment("test");
        if (!environment) {
            std::string lines;
            for (const auto& line : log.lines)
                lines += line.text + "\n";
            ADD_FAILURE() << "no environment:\n" << lines;
            return nullptr;
        }
        environments.push_back(environment);
        return static_cast<CJSScriptEnvironment*>(environment);
    }

    CJSScriptEnvironment* Env()
    {
        if (environments.empty())
            return NewEnvironment();
        return static_cast<CJSScriptEnvironment*>(environments.front());
    }

    bool Run(const std::string& code, const char* name = "test.js", CJSScriptEnvironment* environment = nullptr)
    {
        if (!environment)
            environment = Env();
        return environment && environment->DoText(code.data(), code.size(), name);
    }

    // The completion value of `code` as native code receives it; null when the script failed.
    Strong<CArgument> Eval(const std::string& code, CJSScriptEnvironment* environment = nullptr)
    {
        if (!environment)
            environment = Env();
        auto result = MakeStrong<CReturnValue>();
        if (!environment || !environment->DoText(code.data(), code.size(), "eval.js", result))
            return nullptr;
        return Strong<CArgument>(result->GetAt(0));
    }

    std::string EvalString(const std::string& code, CJSScriptEnvironment* environment = nullptr)
    {
        return StringOf(Eval(code, environment));
    }

    bool EvalBool(const std::string& code, CJSScriptEnvironment* environment = nullptr)
    {
        Strong<CArgument> value = Eval(code, environment);
        return value && value->IsBoolean() && value->ToBoolean();
    }

    // The function a script expression gives, as native code holds it.
    Strong<CFunction> FunctionOf(const std::string& code, CJSScriptEnvironment* environment = nullptr)
    {
        Strong<CArgument> value = Eval(code, environment);
        EXPECT_TRUE(value && value->IsFunction()) << code;
        return value && value->IsFunction() ? Strong<CFunction>(value->ToFunction()) : nullptr;
    }

    CArgument* Recorded(size_t call, size_t index) const
    {
        return call < recorded.size() ? recorded[call]->GetAt(index) : nullptr;
    }

    bool LogHas(int level, const std::string& text) const { return log.Contains(level, text); }

    size_t CountLog(int level, const std::string& text) const
    {
        size_t count = 0;
        for (const auto& line : log.lines)
            count += line.level == level && line.text.find(text) != std::string::npos;
        return count;
    }

    // Advances the timer table by `frames` frames of `frameTime` seconds.
    void Tick(int frames = 1, double frameTime = 0.1)
    {
        for (int i = 0; i < frames; ++i)
            timers.Update(frameTime);
    }

    static JSFixture* Self(void* privateData) { return static_cast<JSFixture*>(privateData); }

    Strong<CTestThing> MakeThing(const std::string& name, ReflectedClass* cls = nullptr)
    {
        auto thing = MakeStrong<CTestThing>(name, &liveThings);
        thing->SetReflectedClass(cls ? cls : thingClass);
        return thing;
    }

private:
    template <typename T>
    static bool ConstructValue(CNativeState* state, int argumentCount, ReflectedClass* cls, size_t components)
    {
        auto object = MakeStrong<CObjectValue<T>>();
        object->SetReflectedClass(cls);
        float* fields = reinterpret_cast<float*>(&object->Value());
        for (size_t i = 0; i < components && i < size_t(argumentCount); ++i) {
            if (!state->CheckNumber(i, fields[i]))
                return false;
        }
        state->ReturnObject(object);
        return true;
    }

    template <typename T>
    static bool Component(CNativeState* state, size_t index, bool set)
    {
        CObjectValue<T>* self = nullptr;
        if (!state->GetThis(nullptr, self))
            return false;
        float* fields = reinterpret_cast<float*>(&self->Value());
        if (set)
            return state->CheckNumber(0, fields[index]);
        state->ReturnNumber(fields[index]);
        return true;
    }

    // A thing named by the first argument.
    static bool MakeThingNative(CNativeState* state, int, void* self)
    {
        const char* name = nullptr;
        if (!state->CheckString(0, name))
            return false;
        state->ReturnObject(Self(self)->MakeThing(name));
        return true;
    }

    // A class of values made of `Components` floats, constructed from up to that many numbers.
    template <typename T, size_t Components>
    static ReflectedClass* NewValueClass(ReflectedNamespace* ns, const char* name, const char* mask)
    {
        ReflectedClass* cls = ns->NewClass(name);
        cls->RegisterConstructor(mask, [](CNativeState* state, int count, void* c) {
            return ConstructValue<T>(state, count, static_cast<ReflectedClass*>(c), Components);
        }, cls);
        return cls;
    }

    // Float component `Index` of a value class as a read/write property.
    template <typename T, size_t Index>
    static void AddComponent(ReflectedClass* cls, const char* name)
    {
        cls->AddProperty(nullptr, name, ARGUMENT_FLOAT,
                         [](CNativeState* s, int, void*) { return Component<T>(s, Index, false); },
                         [](CNativeState* s, int, void*) { return Component<T>(s, Index, true); });
    }

    void RegisterValueClasses()
    {
        ReflectedNamespace* global = scripting.GetGlobal();
        ReflectedClass* vec2 = NewValueClass<CVector2D, 2>(global, "Vec2", "|ff");
        ReflectedClass* vec3 = NewValueClass<CVector3D, 3>(global, "Vec3", "|fff");
        ReflectedClass* matrix = NewValueClass<CMatrix4x4, 16>(global, "Matrix4x4", "");
        matrix->RegisterFunction("get", "ti", [](CNativeState* state, int, void*) {
            CObjectValue<CMatrix4x4>* self = nullptr;
            uint32_t index = 0;
            if (!state->GetThis(nullptr, self) || !state->CheckNumber(0, index))
                return false;
            if (index >= 16)
                return state->Error("Index %u out of range", index);
            state->ReturnNumber(self->Value()[index]);
            return true;
        });
        AddComponent<CVector2D, 0>(vec2, "x");
        AddComponent<CVector2D, 1>(vec2, "y");
        AddComponent<CVector3D, 0>(vec3, "x");
        AddComponent<CVector3D, 1>(vec3, "y");
        AddComponent<CVector3D, 2>(vec3, "z");
        vec3->RegisterFunction("length", "t", [](CNativeState* state, int, void*) {
            CObjectValue<CVector3D>* self = nullptr;
            if (!state->GetThis(nullptr, self))
                return false;
            const CVector3D& v = self->Value();
            state->ReturnNumber(std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z));
            return true;
        });
    }

    void RegisterTestNamespace()
    {
        ReflectedNamespace* test = scripting.GetGlobal()->AddNamespace("test");
        test->SetAlias("tests");
        test->RegisterFunction("record", "*", [](CNativeState* state, int, void* self) {
            Self(self)->recorded.push_back(Strong<CArgumentArray>(
                static_cast<CArgumentArray*>(state->GetArguments()->Clone().Detach()), Adopt));
            state->ReturnUndefined();
            return true;
        }, this);
        // Which stand-in resource the calling code belongs to (-1 for none).
        test->RegisterFunction("resource", "", [](CNativeState* state, int, void* self) {
            int index = -1;
            for (int i = 0; i < 2; ++i) {
                if (state->GetResource() == Self(self)->Resource(i))
                    index = i;
            }
            state->ReturnNumber(index);
            return true;
        }, this);
        test->RegisterFunction("echo", ".", [](CNativeState* state, int, void*) {
            state->Return(state->GetArgument(0));
            return true;
        });
        test->RegisterFunction("typeOf", ".", [](CNativeState* state, int, void*) {
            CArgument* argument = state->GetArgument(0);
            state->ReturnString(argument ? GetArgumentTypeEnumName(argument->GetType()) : "none");
            return true;
        });
        test->RegisterFunction("give", "", [](CNativeState* state, int, void* self) {
            state->ReturnAndOwn(Self(self)->gift);
            return true;
        }, this);
        test->RegisterFunction("needString", "s", [](CNativeState* state, int, void*) {
            const char* text = nullptr;
            if (!state->CheckString(0, text))
                return false;
            state->ReturnString(text);
            return true;
        });
        test->RegisterFunction("needNumbers", "ii", [](CNativeState* state, int, void*) {
            int32_t a = 0;
            int32_t b = 0;
            if (!state->CheckNumber(0, a) || !state->CheckNumber(1, b))
                return false;
            state->ReturnNumber(a + b);
            return true;
        });
        test->RegisterFunction("needFunction", "c", [](CNativeState* state, int, void*) {
            CFunction* function = nullptr;
            if (!state->CheckFunction(0, function))
                return false;
            state->ReturnBoolean(true);
            return true;
        });
        test->RegisterFunction("needThing", "x", [](CNativeState* state, int, void* self) {
            CTestThing* thing = nullptr;
            if (!state->CheckClass(Self(self)->thingClass, 0, false, thing))
                return false;
            state->ReturnString(thing->m_name.c_str());
            return true;
        }, this);
        test->RegisterFunction("needVector", "v", [](CNativeState* state, int, void*) {
            CVector3D vector;
            if (!state->CheckVector3D(0, vector))
                return false;
            state->ReturnNumber(double(vector.x + vector.y + vector.z));
            return true;
        });
        test->RegisterFunction("fail", "s", [](CNativeState* state, int, void*) {
            const char* text = nullptr;
            if (!state->CheckString(0, text))
                return false;
            return state->Error("%s", text);
        });
        test->RegisterFunction("call", "c*", [](CNativeState* state, int, void*) {
            CFunction* function = nullptr;
            if (!state->CheckFunction(0, function) || !function)
                return state->ArgumentError("Function", 0);
            CArgumentArray arguments;
            for (size_t i = 1; i < state->GetArgumentCount(); ++i)
                arguments.Add(state->GetArgument(i));
            auto results = MakeStrong<CReturnValue>();
            if (!function->Call(arguments, results))
                return state->Error("call failed");
            state->Return(results->GetAt(0));
            return true;
        });
        test->RegisterFunction("makeThing", "s", MakeThingNative, this);
        test->RegisterFunction("keep", "x", [](CNativeState* state, int, void* self) {
            CBaseObject* object = nullptr;
            if (!state->CheckReferenceable(0, object))
                return false;
            Self(self)->kept.emplace_back(object);
            state->ReturnUndefined();
            return true;
        }, this);
        test->RegisterFunction("kept", "i", [](CNativeState* state, int, void* self) {
            uint32_t index = 0;
            if (!state->CheckNumber(0, index))
                return false;
            auto& kept = Self(self)->kept;
            state->ReturnObject(index < kept.size() ? kept[index].Get() : nullptr);
            return true;
        }, this);
        test->AddProperty(this, "thingCount", ARGUMENT_INTEGER, [](CNativeState* state, int, void* self) {
            state->ReturnNumber(Self(self)->liveThings);
            return true;
        });

        thingClass = test->NewClass("Thing");
        thingClass->RegisterConstructor("s", MakeThingNative, this);
        thingClass->AddProperty(this, "name", ARGUMENT_STRING,
            [](CNativeState* state, int, void* self) {
                CTestThing* thing = nullptr;
                if (!state->GetThis(Self(self)->thingClass, thing))
                    return false;
                state->ReturnString(thing->m_name.c_str());
                return true;
            },
            [](CNativeState* state, int, void* self) {
                CTestThing* thing = nullptr;
                const char* name = nullptr;
                if (!state->GetThis(Self(self)->thingClass, thing) || !state->CheckString(0, name))
                    return false;
                thing->m_name = name;
                return true;
            });
        thingClass->AddProperty(this, "kind", ARGUMENT_STRING, [](CNativeState* state, int, void*) {
            state->ReturnString("thing");
            return true;
        });
        thingClass->RegisterFunction("describe", "t|s", [](CNativeState* state, int, void* self) {
            CTestThing* thing = nullptr;
            if (!state->GetThis(Self(self)->thingClass, thing))
                return false;
            state->ReturnString(("thing:" + thing->m_name).c_str());
            return true;
        }, this);
        specialClass = test->NewClass("Special", thingClass);
        specialClass->RegisterConstructor("s", [](CNativeState* state, int, void* self) {
            const char* name = nullptr;
            if (!state->CheckString(0, name))
                return false;
            state->ReturnObject(Self(self)->MakeThing(name, Self(self)->specialClass));
            return true;
        }, this);
        specialClass->RegisterFunction("shout", "t", [](CNativeState* state, int, void* self) {
            CTestThing* thing = nullptr;
            if (!state->GetThis(Self(self)->specialClass, thing))
                return false;
            state->ReturnString((thing->m_name + "!").c_str());
            return true;
        }, this);
        // A class scripts can see but not construct.
        test->NewClass("Sealed");
    }
};

} // namespace JSTest
