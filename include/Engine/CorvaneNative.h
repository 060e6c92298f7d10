#pragma once
// Native functions: the callable record every script engine calls through, the per-call state
// through which a native reads its arguments and returns its results, and the process-wide
// error text that failures leave behind.

#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneReference.h"
#include "Engine/Function.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

namespace Corvane3D {

class CNativeState;
class CResource;
class CScripting;
class ReflectedClass;
class Stream;

namespace Interfaces {
class INativeState;
}

// The message of the last failure; always NUL-terminated.
inline constexpr size_t ErrorTextSize = 1024;
extern char g_szError[ErrorTextSize];

// Formats the message of a failure into g_szError, keeping at most 1023 bytes. Returns false so
// that a failing function can return its result directly.
bool SetError(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* GetError();

// The contract of every native: true after success (at most the first returned value reaches
// the script), false after reporting the failure through the state.
using NativeFunction = bool (*)(CNativeState* state, int argumentCount, void* privateData);
// The same contract as seen by native modules.
using ModuleNativeFunction = bool (*)(Interfaces::INativeState* state, int argumentCount, void* privateData);

// Runs a module's callback for a native call. The module interface supplies it; until a module
// interface is linked in, the call fails with "Cannot call %s".
bool CallModuleNative(ModuleNativeFunction callback, const char* name, CNativeState* state, int argumentCount,
                      void* privateData);

// A named callable with its type string ("mask").
class ScriptFunction {
public:
    ScriptFunction() = default;
    ScriptFunction(const char* name, const char* mask, NativeFunction native);
    ScriptFunction(const char* name, const char* mask, ModuleNativeFunction module);
    ScriptFunction(const ScriptFunction& other) = default;
    ScriptFunction& operator=(const ScriptFunction& other) = default;
    // Moving leaves the source without name, mask or callbacks.
    ScriptFunction(ScriptFunction&& other) noexcept;
    ScriptFunction& operator=(ScriptFunction&& other) noexcept;

    // Null when the function has none.
    const char* GetName() const { return m_name ? m_name->c_str() : nullptr; }
    const char* GetMask() const { return m_mask ? m_mask->c_str() : nullptr; }
    NativeFunction GetNative() const { return m_native; }
    ModuleNativeFunction GetModuleNative() const { return m_module; }

    bool CanCall() const { return m_native || m_module; }

    // The number of required arguments: the characters of the mask before the first "|" or "*",
    // not counting the method mark "t".
    static int CalcArgumentCount(const char* mask);
    int CalcArgumentCount() const { return CalcArgumentCount(GetMask()); }

    // Runs the native (or the module callback); fails with "Cannot call %s" when neither is set.
    bool Call(CNativeState* state, int argumentCount, void* privateData) const;

private:
    std::optional<std::string> m_name;
    std::optional<std::string> m_mask;
    NativeFunction m_native = nullptr;
    ModuleNativeFunction m_module = nullptr;
};

// One native call: the arguments, the object a method was called on, the calling resource and
// the list of returned values. Argument indices are 0-based; messages count from 1.
class CNativeState {
public:
    // `arguments` is borrowed and may be null (no arguments). Clears the error text.
    CNativeState(CScripting* scripting, CResource* resource, const CArgumentArray* arguments);
    CNativeState(const CNativeState&) = delete;
    CNativeState& operator=(const CNativeState&) = delete;

    CScripting* GetScripting() const { return m_pScripting; }
    CResource* GetResource() const { return m_pResource; }
    const CArgumentArray* GetArguments() const { return m_pArguments; }
    size_t GetArgumentCount() const;
    // Borrowed; null past the end.
    CArgument* GetArgument(size_t index) const;

    void SetThis(CBaseObject* object) { m_pThis = object; }
    CBaseObject* GetThisObject() const { return m_pThis.Get(); }
    // The object a method was called on, when it is of `cls` or derives from it (any object for a
    // null class). Fails with "'this' is null" or "%s expected for 'this'".
    bool GetThis(const ReflectedClass* cls, CBaseObject*& out);
    template <typename T>
    bool GetThis(const ReflectedClass* cls, T*& out);

    // Checks look only at the type id: there are no coercions between strings, numbers and
    // booleans. A missing argument or a null entry fails like a wrong type.
    bool CheckBoolean(size_t index, bool& out);
    bool CheckNumber(size_t index, int8_t& out);
    bool CheckNumber(size_t index, uint8_t& out);
    bool CheckNumber(size_t index, int16_t& out);
    bool CheckNumber(size_t index, uint16_t& out);
    bool CheckNumber(size_t index, int32_t& out);
    bool CheckNumber(size_t index, uint32_t& out);
    bool CheckNumber(size_t index, int64_t& out);
    bool CheckNumber(size_t index, uint64_t& out);
    bool CheckNumber(size_t index, float& out);
    bool CheckNumber(size_t index, double& out);
    // The text stays owned by the argument; `length` (optional) receives its byte count.
    bool CheckString(size_t index, const char*& out, size_t* length = nullptr);
    // A bytes or string value; `data` is null for an empty value.
    bool CheckBytes(size_t index, const uint8_t*& data, size_t& length);
    // A vector value, or an array of exactly two (three) numbers.
    bool CheckVector2D(size_t index, CVector2D& out);
    bool CheckVector3D(size_t index, CVector3D& out);
    bool CheckMatrix4x4(size_t index, CMatrix4x4& out);
    // An instance or element whose object is of `cls` or derives from it. With `allowNull`, null
    // and undefined are accepted and give null.
    bool CheckClass(const ReflectedClass* cls, size_t index, bool allowNull, CBaseObject*& out);
    template <typename T>
    bool CheckClass(const ReflectedClass* cls, size_t index, bool allowNull, T*& out);
    // Any instance or element; `out` is null when the value holds no object.
    bool CheckReferenceable(size_t index, CBaseObject*& out);
    // A function value; `out` is null when the value holds no function.
    bool CheckFunction(size_t index, CFunction*& out);
    // An open script stream object; a closed one fails with "Stream closed".
    bool CheckStream(size_t index, Stream*& out);

    // Reports "Expected %s for argument %d" for the argument at `index`.
    bool ArgumentError(const char* typeWord, size_t index);

    void ReturnNull();
    void ReturnUndefined();
    void ReturnBoolean(bool value);
    void ReturnString(const char* text);
    void ReturnString(const char* text, size_t length);
    void ReturnBytes(const void* data, size_t length);
    void ReturnVector2D(const CVector2D& value);
    void ReturnVector3D(const CVector3D& value);
    void ReturnMatrix4x4(const CMatrix4x4& value);
    // The object's own value; null for a null pointer.
    void ReturnObject(CBaseObject* object);
    // Wraps the stream in a new script object of the root namespace's "Stream" class.
    void ReturnStream(Stream* stream);
    // Appends a clone of the value.
    void Return(const CArgument* value);
    // Appends the value itself.
    void ReturnAndOwn(Strong<CArgument> value);
    // 8- to 32-bit integers give an integer (unsigned 32-bit values bit for bit), 64-bit integers
    // a long integer, float a float and double a double.
    template <typename T>
    void ReturnNumber(T value);

    // Formats the message, stores it as the error text, marks the state failed; returns false.
    bool Error(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool HasError() const { return m_bHasError; }
    CReturnValue& GetReturnValue() { return m_returnValue; }
    const CReturnValue& GetReturnValue() const { return m_returnValue; }

private:
    CArgument* RequireArgument(size_t index, const char* typeWord);
    bool ThisError(const ReflectedClass* cls);
    template <typename T>
    bool CheckInteger(size_t index, T& out);

    CScripting* m_pScripting;
    CResource* m_pResource;
    const CArgumentArray* m_pArguments;
    CReturnValue m_returnValue{1};
    bool m_bHasError = false;
    Weak<CBaseObject> m_pThis;
};

template <typename T>
bool CNativeState::GetThis(const ReflectedClass* cls, T*& out)
{
    CBaseObject* object = nullptr;
    out = nullptr;
    if (!GetThis(cls, object))
        return false;
    out = dynamic_cast<T*>(object);
    if (!out)
        return ThisError(cls);
    return true;
}

template <typename T>
bool CNativeState::CheckClass(const ReflectedClass* cls, size_t index, bool allowNull, T*& out)
{
    CBaseObject* object = nullptr;
    out = nullptr;
    if (!CheckClass(cls, index, allowNull, object))
        return false;
    if (!object)
        return true;
    out = dynamic_cast<T*>(object);
    // A class shared by unrelated native types would otherwise hand out the wrong object.
    if (!out)
        return ArgumentError("Instance", index);
    return true;
}

template <typename T>
void CNativeState::ReturnNumber(T value)
{
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>, "ReturnNumber takes a number");
    if constexpr (std::is_floating_point_v<T>) {
        if constexpr (sizeof(T) <= sizeof(float))
            m_returnValue.AddNumber(static_cast<float>(value));
        else
            m_returnValue.AddNumber(static_cast<double>(value));
    } else if constexpr (sizeof(T) <= sizeof(int32_t)) {
        m_returnValue.AddNumber(static_cast<int32_t>(value));
    } else {
        m_returnValue.AddNumber(static_cast<int64_t>(value));
    }
}

} // namespace Corvane3D
