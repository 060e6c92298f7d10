#include "Engine/NativeCallHelper.h"

namespace Corvane3D {

tNativeCallResult CNativeCallHelper::Call(const ScriptFunction& function, void* privateData,
                                          const CArgumentArray& arguments, CBaseObject* self) const
{
    CNativeState state(m_pScripting, m_pResource, &arguments);
    if (self)
        state.SetThis(self);
    tNativeCallResult result;
    result.m_bResult = function.Call(&state, int(arguments.GetArrayCount()), privateData);
    result.m_bHasError = state.HasError();
    if (!result.m_bResult)
        result.m_error = GetError();
    else if (CArgument* first = state.GetReturnValue().GetAt(0))
        result.m_value = first;
    return result;
}

tNativeCallResult CNativeCallHelper::Call(const ReflectedFunction* function, const CArgumentArray& arguments,
                                          CBaseObject* self) const
{
    return Call(function->GetFunction(), function->GetPrivate(), arguments, self);
}

tNativeCallResult CNativeCallHelper::Get(const ReflectedProperty* property, CBaseObject* self) const
{
    CArgumentArray none;
    return Call(property->GetGetter(), property->GetPrivate(), none, self);
}

tNativeCallResult CNativeCallHelper::Set(const ReflectedProperty* property, const CArgument* value,
                                         CBaseObject* self) const
{
    CArgumentArray arguments(1);
    arguments.Add(value);
    return Call(property->GetSetter(), property->GetPrivate(), arguments, self);
}

} // namespace Corvane3D
