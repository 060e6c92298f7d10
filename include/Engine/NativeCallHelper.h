#pragma once
// Calls natives the way a script engine does, without one: builds the state, runs the function
// and reports its first result or its error text. Used by tests and by native code that needs to
// call a registered function directly.

#include "Engine/CorvaneNative.h"
#include "Engine/ReflectedFunction.h"

#include <string>

namespace Corvane3D {

class CScripting;

struct tNativeCallResult {
    // What the native returned.
    bool m_bResult = false;
    // Whether it reported an error through the state.
    bool m_bHasError = false;
    // The error text when it failed.
    std::string m_error;
    // The first returned value; null when it returned nothing.
    Strong<CArgument> m_value;

    // A native must either succeed without an error or fail with one.
    bool KeptContract() const { return m_bResult != m_bHasError; }
};

class CNativeCallHelper {
public:
    explicit CNativeCallHelper(CScripting* scripting = nullptr, CResource* resource = nullptr)
        : m_pScripting(scripting), m_pResource(resource)
    {
    }

    void SetResource(CResource* resource) { m_pResource = resource; }

    tNativeCallResult Call(const ScriptFunction& function, void* privateData, const CArgumentArray& arguments,
                           CBaseObject* self = nullptr) const;
    tNativeCallResult Call(const ReflectedFunction* function, const CArgumentArray& arguments,
                           CBaseObject* self = nullptr) const;
    tNativeCallResult Get(const ReflectedProperty* property, CBaseObject* self = nullptr) const;
    tNativeCallResult Set(const ReflectedProperty* property, const CArgument* value, CBaseObject* self = nullptr) const;

private:
    CScripting* m_pScripting;
    CResource* m_pResource;
};

} // namespace Corvane3D
