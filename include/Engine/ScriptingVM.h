#pragma once
// The two interfaces every script engine binding implements: one engine object per language and
// one script environment per resource and language.

#include <cstdint>

namespace Corvane3D {

class CResource;
class Stream;
class CScriptEnvironment;

class CScriptingVM {
public:
    virtual ~CScriptingVM() = default;
    // Makes every reflected class known to the core available in this engine; classes already
    // made are skipped, so it may run again after more classes were registered.
    virtual bool DefineClasses() = 0;
    virtual void CollectGarbage() = 0;
    // A new, empty environment (null on failure). `name` is the owning resource's name.
    virtual CScriptEnvironment* CreateEnvironment(const char* name) = 0;

    // The id under which an engine is registered: the case-sensitive CRC-32 of its name
    // ("SpiderMonkey", "Lua", "Squirrel").
    static uint32_t GetEngineId(const char* engineName);
};

class CScriptEnvironment {
public:
    virtual ~CScriptEnvironment() = default;
    // Tears the environment down and drops the creator's hold on it.
    virtual void Destroy() = 0;
    // Runs a whole script read from the stream; `name` names the chunk in error reports.
    virtual bool DoFile(Stream* stream, const char* name) = 0;

    // The resource that owns this environment (null when none); every native called from its code
    // receives it in its CNativeState.
    CResource* m_pResource = nullptr;
};

} // namespace Corvane3D
