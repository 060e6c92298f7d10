#pragma once
// The scripting core: the registration tree rooted at the namespace "global", the table of
// script engines and the define list.

#include "Engine/CorvaneNative.h"
#include "Engine/ReflectedNamespace.h"
#include "Engine/ScriptingVM.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Corvane3D {

class CDefineHandlers;

class CScripting {
public:
    static constexpr size_t MaxEngines = 16;

    // Builds the root namespace "global" with "reflection" and "module", the class "Function" and
    // the core natives.
    CScripting();
    // Clears the tree (engines free their class records), lets every engine collect, then
    // destroys the engines in table order.
    ~CScripting();
    CScripting(const CScripting&) = delete;
    CScripting& operator=(const CScripting&) = delete;

    // Appends an engine. A duplicate id or a seventeenth engine is refused (logged, false) and
    // the engine is destroyed.
    bool AddVM(uint32_t engineId, std::unique_ptr<CScriptingVM> engine);
    CScriptingVM* GetVM(uint32_t engineId) const;
    // By the CRC-32 of the engine name (CScriptingVM::GetEngineId).
    CScriptingVM* GetVM(const char* engineName) const;
    size_t GetVMCount() const { return m_VMCount; }

    // Asks every engine, in table order, to define the tree's classes; false at the first failure.
    bool DefineAllClasses();
    void CollectGarbage();

    ReflectedNamespace* GetGlobal() const { return m_pGlobal.get(); }
    ReflectedNamespace* GetReflectionNamespace() const { return m_pReflection; }
    ReflectedNamespace* GetModuleNamespace() const { return m_pModule; }
    ReflectedClass* GetFunctionClass() const { return m_pFunctionClass; }
    ReflectedClass* GetTextReaderClass() const { return m_pTextReaderClass; }
    void SetTextReaderClass(ReflectedClass* cls) { m_pTextReaderClass = cls; }

    // The define list is owned by the resource manager, which installs it here.
    CDefineHandlers* GetDefineHandlers() const { return m_pDefineHandlers; }
    void SetDefineHandlers(CDefineHandlers* defines) { m_pDefineHandlers = defines; }

    bool IsShuttingDown() const { return m_bShuttingDown; }

    void* GetModuleInterface() const { return m_pModuleInterface; }
    void SetModuleInterface(void* wrapper) { m_pModuleInterface = wrapper; }

private:
    void RegisterReflectionFunctions();

    struct VMEntry {
        uint32_t engineId = 0;
        std::unique_ptr<CScriptingVM> engine;
    };

    bool m_bShuttingDown = false;
    void* m_pModuleInterface = nullptr;
    size_t m_VMCount = 0;
    std::array<VMEntry, MaxEngines> m_VMs;
    std::unique_ptr<ReflectedNamespace> m_pGlobal;
    ReflectedNamespace* m_pReflection = nullptr;
    ReflectedNamespace* m_pModule = nullptr;
    ReflectedClass* m_pFunctionClass = nullptr;
    ReflectedClass* m_pTextReaderClass = nullptr;
    CDefineHandlers* m_pDefineHandlers = nullptr;
};

} // namespace Corvane3D
