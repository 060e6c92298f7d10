#include "Engine/CorvaneNative.h"

#include "Engine/ReflectedNamespace.h"
#include "Engine/ScriptStream.h"
#include "Engine/Scripting.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Corvane3D {

char g_szError[ErrorTextSize] = {};

namespace {

constexpr size_t FormatBufferSize = 4096;

void StoreError(const char* text)
{
    // The text may be g_szError itself (SetError("%s", g_szError)); memmove copes with that.
    const size_t length = std::min(std::strlen(text), ErrorTextSize - 1);
    std::memmove(g_szError, text, length);
    g_szError[length] = '\0';
}

} // namespace

bool SetError(const char* format, ...)
{
    char buffer[FormatBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    StoreError(buffer);
    return false;
}

const char* GetError()
{
    return g_szError;
}

bool CFunction::Call(const CArgumentArray&, CReturnValue*)
{
    return false;
}

ScriptFunction::ScriptFunction(const char* name, const char* mask, NativeFunction native) : m_native(native)
{
    if (name)
        m_name = name;
    if (mask)
        m_mask = mask;
}

ScriptFunction::ScriptFunction(const char* name, const char* mask, ModuleNativeFunction module) : m_module(module)
{
    if (name)
        m_name = name;
    if (mask)
        m_mask = mask;
}

ScriptFunction::ScriptFunction(ScriptFunction&& other) noexcept
    : m_name(std::exchange(other.m_name, std::nullopt)),
      m_mask(std::exchange(other.m_mask, std::nullopt)),
      m_native(std::exchange(other.m_native, nullptr)),
      m_module(std::exchange(other.m_module, nullptr))
{
}

ScriptFunction& ScriptFunction::operator=(ScriptFunction&& other) noexcept
{
    if (this != &other) {
        m_name = std::exchange(other.m_name, std::nullopt);
        m_mask = std::exchange(other.m_mask, std::nullopt);
        m_native = std::exchange(other.m_native, nullptr);
        m_module = std::exchange(other.m_module, nullptr);
    }
    return *this;
}

int ScriptFunction::CalcArgumentCount(const char* mask)
{
    int count = 0;
    for (const char* p = mask; p && *p && *p != '|' && *p != '*'; ++p) {
        if (*p != 't')
            ++count;
    }
    return count;
}

bool ScriptFunction::Call(CNativeState* state, int argumentCount, void* privateData) const
{
    if (m_native)
        return m_native(state, argumentCount, privateData);
    if (m_module)
        return CallModuleNative(m_module, GetName(), state, argumentCount, privateData);
    const char* name = GetName();
    return state->Error("Cannot call %s", name ? name : "");
}

CNativeState::CNativeState(CScripting* scripting, CResource* resource, const CArgumentArray* arguments)
    : m_pScripting(scripting), m_pResource(resource), m_pArguments(arguments)
{
    g_szError[0] = '\0';
}

size_t CNativeState::GetArgumentCount() const
{
    return m_pArguments ? m_pArguments->GetArrayCount() : 0;
}

CArgument* CNativeState::GetArgument(size_t index) const
{
    return m_pArguments ? m_pArguments->GetAt(index) : nullptr;
}

bool CNativeState::Error(const char* format, ...)
{
    char buffer[FormatBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    StoreError(buffer);
    m_bHasError = true;
    return false;
}

bool CNativeState::ArgumentError(const char* typeWord, size_t index)
{
    return Error("Expected %s for argument %zu", typeWord, index + 1);
}

bool CNativeState::ThisError(const ReflectedClass* cls)
{
    return Error("%s expected for 'this'", cls ? cls->GetName() : "Instance");
}

CArgument* CNativeState::RequireArgument(size_t index, const char* typeWord)
{
    CArgument* argument = GetArgument(index);
    if (!argument) {
        ArgumentError(typeWord, index);
        return nullptr;
    }
    return argument;
}

bool CNativeState::GetThis(const ReflectedClass* cls, CBaseObject*& out)
{
    out = nullptr;
    CBaseObject* object = m_pThis.Get();
    if (!object)
        return Error("'this' is null");
    if (cls) {
        const ReflectedClass* objectClass = object->GetReflectedClass();
        if (!objectClass || !objectClass->IsA(cls))
            return ThisError(cls);
    }
    out = object;
    return true;
}

bool CNativeState::CheckBoolean(size_t index, bool& out)
{
    CArgument* argument = RequireArgument(index, "boolean");
    if (!argument)
        return false;
    if (!argument->IsBoolean())
        return ArgumentError("boolean", index);
    out = argument->ToBoolean();
    return true;
}

template <typename T>
bool CNativeState::CheckInteger(size_t index, T& out)
{
    CArgument* argument = RequireArgument(index, "integer");
    if (!argument)
        return false;
    if (!argument->IsNumber())
        return ArgumentError("integer", index);
    if constexpr (sizeof(T) < sizeof(int32_t)) {
        // Narrow outputs keep the low bits of the 32-bit conversion.
        int32_t wide = 0;
        argument->ToNumber(wide);
        out = static_cast<T>(wide);
    } else {
        argument->ToNumber(out);
    }
    return true;
}

bool CNativeState::CheckNumber(size_t index, int8_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, uint8_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, int16_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, uint16_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, int32_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, uint32_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, int64_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, uint64_t& out)
{
    return CheckInteger(index, out);
}

bool CNativeState::CheckNumber(size_t index, float& out)
{
    CArgument* argument = RequireArgument(index, "number");
    if (!argument)
        return false;
    if (!argument->IsNumber())
        return ArgumentError("number", index);
    argument->ToNumber(out);
    return true;
}

bool CNativeState::CheckNumber(size_t index, double& out)
{
    CArgument* argument = RequireArgument(index, "number");
    if (!argument)
        return false;
    if (!argument->IsNumber())
        return ArgumentError("number", index);
    argument->ToNumber(out);
    return true;
}

bool CNativeState::CheckString(size_t index, const char*& out, size_t* length)
{
    out = nullptr;
    CArgument* argument = RequireArgument(index, "string");
    if (!argument)
        return false;
    if (!argument->IsString())
        return ArgumentError("string", index);
    out = argument->ToString(length);
    return true;
}

bool CNativeState::CheckBytes(size_t index, const uint8_t*& data, size_t& length)
{
    data = nullptr;
    length = 0;
    CArgument* argument = RequireArgument(index, "bytes");
    if (!argument)
        return false;
    if (argument->IsBytes()) {
        data = argument->ToBytes(&length);
        return true;
    }
    if (argument->IsString()) {
        data = reinterpret_cast<const uint8_t*>(argument->ToString(&length));
        return true;
    }
    return ArgumentError("bytes", index);
}

namespace {

// An array of exactly `count` numbers, converted to floats.
bool ReadNumberArray(const CArgument* argument, float* out, size_t count)
{
    if (!argument->IsArray())
        return false;
    const auto* array = static_cast<const CArgumentArray*>(argument);
    if (array->GetArrayCount() != count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const CArgument* element = array->GetAt(i);
        if (!element || !element->IsNumber())
            return false;
    }
    for (size_t i = 0; i < count; ++i)
        array->GetAt(i)->ToNumber(out[i]);
    return true;
}

} // namespace

bool CNativeState::CheckVector2D(size_t index, CVector2D& out)
{
    CArgument* argument = RequireArgument(index, "Vector2D");
    if (!argument)
        return false;
    if (argument->IsVector2D())
        return argument->ToVector2D(out);
    float components[2];
    if (!ReadNumberArray(argument, components, 2))
        return ArgumentError("Vector2D", index);
    out = {components[0], components[1]};
    return true;
}

bool CNativeState::CheckVector3D(size_t index, CVector3D& out)
{
    CArgument* argument = RequireArgument(index, "Vector3D");
    if (!argument)
        return false;
    if (argument->IsVector3D())
        return argument->ToVector3D(out);
    float components[3];
    if (!ReadNumberArray(argument, components, 3))
        return ArgumentError("Vector3D", index);
    out = {components[0], components[1], components[2]};
    return true;
}

bool CNativeState::CheckMatrix4x4(size_t index, CMatrix4x4& out)
{
    CArgument* argument = RequireArgument(index, "Matrix4x4");
    if (!argument)
        return false;
    if (!argument->IsMatrix4x4())
        return ArgumentError("Matrix4x4", index);
    return argument->ToMatrix4x4(out);
}

bool CNativeState::CheckClass(const ReflectedClass* cls, size_t index, bool allowNull, CBaseObject*& out)
{
    out = nullptr;
    const char* typeWord = cls ? cls->GetName() : "Instance";
    CArgument* argument = RequireArgument(index, typeWord);
    if (!argument)
        return false;
    if (allowNull && argument->IsNull())
        return true;
    if (!argument->IsObject())
        return ArgumentError(typeWord, index);
    CBaseObject* object = argument->ToObject();
    if (!object)
        return ArgumentError(typeWord, index);
    if (cls) {
        const ReflectedClass* objectClass = object->GetReflectedClass();
        if (!objectClass || !objectClass->IsA(cls))
            return ArgumentError(typeWord, index);
    }
    out = object;
    return true;
}

bool CNativeState::CheckReferenceable(size_t index, CBaseObject*& out)
{
    out = nullptr;
    CArgument* argument = RequireArgument(index, "Instance");
    if (!argument)
        return false;
    if (!argument->IsObject())
        return ArgumentError("Instance", index);
    out = argument->ToObject();
    return true;
}

bool CNativeState::CheckFunction(size_t index, CFunction*& out)
{
    out = nullptr;
    CArgument* argument = RequireArgument(index, "Function");
    if (!argument)
        return false;
    if (!argument->IsFunction())
        return ArgumentError("Function", index);
    out = argument->ToFunction();
    return true;
}

bool CNativeState::CheckStream(size_t index, Stream*& out)
{
    out = nullptr;
    CArgument* argument = RequireArgument(index, "Stream");
    if (!argument)
        return false;
    if (!argument->IsObject())
        return ArgumentError("Stream", index);
    auto* scriptStream = dynamic_cast<CScriptStream*>(argument->ToObject());
    if (!scriptStream)
        return ArgumentError("Stream", index);
    // Objects of the class carry it; a registered "Stream" class must match as well.
    const ReflectedClass* streamClass =
        m_pScripting && m_pScripting->GetGlobal() ? m_pScripting->GetGlobal()->GetStreamClass() : nullptr;
    if (streamClass) {
        const ReflectedClass* objectClass = scriptStream->GetReflectedClass();
        if (!objectClass || !objectClass->IsA(streamClass))
            return ArgumentError("Stream", index);
    }
    if (scriptStream->IsClosed())
        return Error("Stream closed");
    out = scriptStream->GetStream();
    return true;
}

void CNativeState::ReturnNull()
{
    m_returnValue.AddNull();
}

void CNativeState::ReturnUndefined()
{
    m_returnValue.AddUndefined();
}

void CNativeState::ReturnBoolean(bool value)
{
    m_returnValue.AddBoolean(value);
}

void CNativeState::ReturnString(const char* text)
{
    m_returnValue.AddString(text ? text : "");
}

void CNativeState::ReturnString(const char* text, size_t length)
{
    if (!text)
        length = 0;
    m_returnValue.AddString(text ? text : "", length);
}

void CNativeState::ReturnBytes(const void* data, size_t length)
{
    m_returnValue.AddBytes(data, data ? length : 0);
}

void CNativeState::ReturnVector2D(const CVector2D& value)
{
    m_returnValue.AddVector2D(value);
}

void CNativeState::ReturnVector3D(const CVector3D& value)
{
    m_returnValue.AddVector3D(value);
}

void CNativeState::ReturnMatrix4x4(const CMatrix4x4& value)
{
    m_returnValue.AddMatrix4x4(value);
}

void CNativeState::ReturnObject(CBaseObject* object)
{
    m_returnValue.AddObject(object);
}

void CNativeState::ReturnStream(Stream* stream)
{
    if (!stream) {
        ReturnNull();
        return;
    }
    auto scriptStream = MakeStrong<CScriptStream>(stream);
    if (m_pScripting && m_pScripting->GetGlobal())
        scriptStream->SetReflectedClass(m_pScripting->GetGlobal()->GetStreamClass());
    ReturnObject(scriptStream);
}

void CNativeState::Return(const CArgument* value)
{
    m_returnValue.Add(value);
}

void CNativeState::ReturnAndOwn(Strong<CArgument> value)
{
    m_returnValue.AddAndOwn(std::move(value));
}

} // namespace Corvane3D
