#pragma once
// A script engine for tests: scripts are looked up by their text and run as C++ bodies that call
// natives through the core as a real engine's code would. The engine notices the two hazards the
// resource code must prevent: an environment destroyed while its code runs, and a call into an
// environment that was destroyed.

#include "Engine/ArgumentTestSupport.h"
#include "Engine/NativeTestSupport.h"

#include "Engine/NativeCallHelper.h"
#include "Engine/Scripting.h"
#include "Engine/ScriptingVM.h"
#include "Engine/TextStream.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace FakeEngine {

using namespace Corvane3D;

class CFakeEnvironment;
using ScriptBody = std::function<bool(CFakeEnvironment& environment)>;

// A function that belongs to an environment, as an engine's script function does.
class CFakeFunction : public CFunction {
public:
    using Body = std::function<bool(const CArgumentArray& arguments, CReturnValue* results)>;
    CFakeFunction(CFakeEnvironment* environment, Body body) : m_pEnvironment(environment), m_body(std::move(body)) {}

    bool Call(const CArgumentArray& arguments, CReturnValue* results) override;

    size_t CallCount() const { return m_calls; }

private:
    CFakeEnvironment* m_pEnvironment;
    Body m_body;
    size_t m_calls = 0;
};

class CFakeEngine;

class CFakeEnvironment : public CScriptEnvironment {
public:
    CFakeEnvironment(CFakeEngine* engine, std::string name) : m_pEngine(engine), m_name(std::move(name)) {}

    void Destroy() override
    {
        if (m_iRunning > 0)
            ADD_FAILURE() << "environment of " << m_name << " destroyed while its code runs";
        if (m_bDestroyed)
            ADD_FAILURE() << "environment of " << m_name << " destroyed twice";
        m_bDestroyed = true;
    }
    bool DoFile(Stream* stream, const char* name) override;

    // A native of the root namespace, called from this environment's code.
    tNativeCallResult Call(const char* name, const Strong<CArgumentArray>& arguments);
    // A method of an object's class, called from this environment's code.
    tNativeCallResult CallMethod(CBaseObject* self, const char* name, const Strong<CArgumentArray>& arguments);
    tNativeCallResult Get(CBaseObject* self, const char* property);
    // A script function of this environment.
    Strong<CFakeFunction> Function(CFakeFunction::Body body)
    {
        return MakeStrong<CFakeFunction>(this, std::move(body));
    }

    CFakeEngine* m_pEngine;
    std::string m_name;
    std::vector<std::string> m_files;
    int m_iRunning = 0;
    bool m_bDestroyed = false;
};

class CFakeEngine : public CScriptingVM {
public:
    explicit CFakeEngine(CScripting* scripting) : m_pScripting(scripting) {}

    bool DefineClasses() override { return true; }
    void CollectGarbage() override { ++m_collections; }
    CScriptEnvironment* CreateEnvironment(const char* name) override
    {
        if (m_bRefuseEnvironments)
            return nullptr;
        m_environments.push_back(std::make_unique<CFakeEnvironment>(this, name ? name : ""));
        return m_environments.back().get();
    }

    // What a script whose whole text is `text` does when it runs; unknown texts do nothing.
    void Script(const std::string& text, ScriptBody body) { m_bodies[text] = std::move(body); }

    size_t LiveEnvironments() const
    {
        size_t live = 0;
        for (const auto& environment : m_environments)
            live += environment->m_bDestroyed ? 0 : 1;
        return live;
    }

    CScripting* m_pScripting;
    std::map<std::string, ScriptBody> m_bodies;
    std::vector<std::unique_ptr<CFakeEnvironment>> m_environments;
    // "environment name:chunk name" of every DoFile, in order.
    std::vector<std::string> m_ran;
    int m_collections = 0;
    bool m_bRefuseEnvironments = false;
};

inline bool CFakeFunction::Call(const CArgumentArray& arguments, CReturnValue* results)
{
    ++m_calls;
    if (m_pEnvironment->m_bDestroyed) {
        ADD_FAILURE() << "call into the destroyed environment of " << m_pEnvironment->m_name;
        return false;
    }
    ++m_pEnvironment->m_iRunning;
    const bool ok = m_body ? m_body(arguments, results) : true;
    --m_pEnvironment->m_iRunning;
    return ok;
}

inline bool CFakeEnvironment::DoFile(Stream* stream, const char* name)
{
    if (m_bDestroyed)
        ADD_FAILURE() << "script run in a destroyed environment";
    CTextReader reader(stream);
    size_t length = 0;
    const char* text = reader.LoadText(&length);
    const std::string script = text ? std::string(text, length) : std::string();
    m_files.push_back(name ? name : "");
    m_pEngine->m_ran.push_back(m_name + ":" + (name ? name : ""));
    auto body = m_pEngine->m_bodies.find(script);
    if (body == m_pEngine->m_bodies.end())
        return true;
    ++m_iRunning;
    const bool ok = body->second(*this);
    --m_iRunning;
    return ok;
}

inline tNativeCallResult CFakeEnvironment::Call(const char* name, const Strong<CArgumentArray>& arguments)
{
    ReflectedFunction* function = m_pEngine->m_pScripting->GetGlobal()->GetFunction(name);
    EXPECT_NE(function, nullptr) << name;
    if (!function)
        return {};
    return CNativeCallHelper(m_pEngine->m_pScripting, m_pResource).Call(function, *arguments);
}

inline tNativeCallResult CFakeEnvironment::CallMethod(CBaseObject* self, const char* name,
                                                      const Strong<CArgumentArray>& arguments)
{
    ReflectedClass* cls = self ? self->GetReflectedClass() : nullptr;
    ReflectedFunction* function = cls ? cls->GetFunction(name) : nullptr;
    EXPECT_NE(function, nullptr) << name;
    if (!function)
        return {};
    return CNativeCallHelper(m_pEngine->m_pScripting, m_pResource).Call(function, *arguments, self);
}

inline tNativeCallResult CFakeEnvironment::Get(CBaseObject* self, const char* property)
{
    ReflectedClass* cls = self ? self->GetReflectedClass() : nullptr;
    ReflectedProperty* found = cls ? cls->GetProperty(property) : nullptr;
    EXPECT_NE(found, nullptr) << property;
    if (!found)
        return {};
    return CNativeCallHelper(m_pEngine->m_pScripting, m_pResource).Get(found, self);
}

} // namespace FakeEngine
