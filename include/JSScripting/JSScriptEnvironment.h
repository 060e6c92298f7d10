#pragma once
// One JavaScript global per resource: its own realm with its own standard classes, the console,
// the published namespaces and the reflected classes' constructors.

#include "Engine/BaseObject.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/ScriptingVM.h"

#include <cstddef>
#include <memory>

class JSObject;

namespace JS {
template <typename T>
class PersistentRooted;
}

namespace Corvane3D {

class CJSScripting;

// Anything that roots an engine value from native code. The engine unroots every holder before
// its context goes, so values that native code still keeps never outlive the engine's heap.
class IJSRootHolder {
public:
    virtual void Unroot() = 0;

protected:
    ~IJSRootHolder() = default;
};

class CJSScriptEnvironment final : public CBaseObject, public CScriptEnvironment, public IJSRootHolder {
public:
    // Drops the global and the creator's reference; the engine frees the rest when it collects
    // the realm. Functions of this environment that native code still holds stop being callable.
    void Destroy() override;
    // Reads the whole stream as text (byte-order mark honoured) and runs it.
    bool DoFile(Stream* stream, const char* name) override;
    // Runs UTF-8 text under the chunk name `name`. The completion value is appended to `result`
    // when one is given. Errors are logged; false when the script failed.
    bool DoText(const char* text, size_t length, const char* name, CReturnValue* result = nullptr);

    bool IsDestroyed() const { return m_bDestroyed; }
    CJSScripting* GetScripting() const { return m_pScripting; }
    // The global object; null after Destroy.
    JSObject* GetGlobal() const;

    void Unroot() override;

private:
    friend class CJSScripting;

    explicit CJSScriptEnvironment(CJSScripting* scripting);
    ~CJSScriptEnvironment() override;

    bool Initialise();
    bool DefineGlobals();

    CJSScripting* m_pScripting;
    std::unique_ptr<JS::PersistentRooted<JSObject*>> m_pGlobal;
    bool m_bDestroyed = false;
    // Whether Destroy has dropped the creator's reference.
    bool m_bReleased = false;
};

} // namespace Corvane3D
