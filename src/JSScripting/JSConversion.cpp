#include "JSInternal.h"

#include "Engine/ObjectValue.h"
#include "Engine/Reflection.h"
#include "Engine/Scripting.h"

#include <mozilla/FloatingPoint.h>

#include <algorithm>
#include <cstring>

namespace Corvane3D {

namespace {

// The environment whose code a script function belongs to: the owner of the function's realm.
CJSScriptEnvironment* EnvironmentOf(JSObject* object)
{
    JS::Realm* realm = JS::GetObjectRealmOrNull(object);
    return realm ? static_cast<CJSScriptEnvironment*>(JS::GetRealmPrivate(realm)) : nullptr;
}

template <typename T>
void StoreValue(CBaseObject* object, const T& value)
{
    if (auto* holder = dynamic_cast<CObjectValue<T>*>(object))
        holder->Value() = value;
}

} // namespace

bool CJSConverter::CountElement()
{
    if (++m_uiElements <= MaxElements)
        return true;
    return JSUtil::ThrowError(m_cx, "Value too large to convert (more than %zu elements)", MaxElements);
}

bool CJSConverter::AddJSValue(JS::HandleValue value, CArgumentArray& target, unsigned depth)
{
    if (!CountElement())
        return false;
    if (value.isUndefined()) {
        target.AddUndefined();
        return true;
    }
    if (value.isNull()) {
        target.AddNull();
        return true;
    }
    if (value.isInt32()) {
        target.AddNumber(int32_t(value.toInt32()));
        return true;
    }
    if (value.isDouble()) {
        // Whole numbers reach natives as integers however the engine happens to hold them.
        int32_t whole = 0;
        if (mozilla::NumberIsInt32(value.toDouble(), &whole))
            target.AddNumber(whole);
        else
            target.AddNumber(value.toDouble());
        return true;
    }
    if (value.isString()) {
        std::string text;
        if (!JSUtil::StringToUTF8(m_cx, value.toString(), text))
            return false;
        target.AddString(text.data(), text.size());
        return true;
    }
    if (value.isBoolean()) {
        target.AddBoolean(value.toBoolean());
        return true;
    }
    if (value.isBigInt()) {
        int64_t whole = 0;
        if (JS::BigIntFits(value.toBigInt(), &whole))
            target.AddNumber(whole);
        else
            target.AddNumber(JS::BigIntToNumber(value.toBigInt()));
        return true;
    }
    if (!value.isObject()) {
        // Symbols (and anything else without an argument form).
        target.AddUndefined();
        return true;
    }

    JS::RootedObject object(m_cx, &value.toObject());
    if (JS::IsCallable(object)) {
        if (CFunction* native = GetFunctionValueTarget(object)) {
            target.AddAndOwn(MakeStrong<CArgumentFunction>(native));
            return true;
        }
        CJSScriptEnvironment* environment = EnvironmentOf(object);
        auto function = MakeStrong<CJSFunction>(m_pScripting, environment ? environment : m_pEnvironment, object);
        target.AddAndOwn(MakeStrong<CArgumentFunction>(function.Get()));
        return true;
    }
    if (JS::IsArrayBufferObject(object)) {
        size_t length = 0;
        bool shared = false;
        uint8_t* data = nullptr;
        JS::GetArrayBufferLengthAndData(object, &length, &shared, &data);
        target.AddBytes(data, data ? length : 0);
        return true;
    }
    if (IsReferenceableObject(object)) {
        CJSReferenceable* record = CJSReferenceable::FromObject(object);
        if (record && record->GetNative())
            target.AddAndOwn(Reflection::ToArgument(record->GetNative(), m_pScripting->GetScripting()));
        else
            target.AddUndefined();
        return true;
    }
    bool isArray = false;
    if (!JS::IsArrayObject(m_cx, object, &isArray))
        return false;
    if (!isArray) {
        target.AddAndOwn(MakeStrong<CJSArgumentValue>(m_pScripting, object));
        return true;
    }
    if (depth >= MaxArgumentDepth)
        return JSUtil::ThrowError(m_cx, "Value nested too deeply to convert (more than %u levels)", MaxArgumentDepth);
    uint32_t length = 0;
    if (!JS::GetArrayLength(m_cx, object, &length))
        return false;
    if (length > MaxElements - std::min(m_uiElements, MaxElements))
        return JSUtil::ThrowError(m_cx, "Value too large to convert (more than %zu elements)", MaxElements);
    auto array = MakeStrong<CArgumentArray>(length);
    JS::RootedValue element(m_cx);
    for (uint32_t i = 0; i < length; ++i) {
        if (!JS_GetElement(m_cx, object, i, &element) || !AddJSValue(element, *array, depth + 1))
            return false;
    }
    target.AddAndOwn(std::move(array));
    return true;
}

bool CJSConverter::GetJSValue(const CArgument* argument, JS::MutableHandleValue out, unsigned depth)
{
    return ToJSValue(argument, out, depth, false);
}

bool CJSConverter::SetJSReturnValue(const CArgument* argument, JS::MutableHandleValue out)
{
    return ToJSValue(argument, out, 0, true);
}

Strong<CArgumentArray> CJSConverter::ConvertCallArguments(const JS::CallArgs& args, unsigned count)
{
    auto arguments = MakeStrong<CArgumentArray>(count);
    for (unsigned i = 0; i < count; ++i) {
        if (!AddJSValue(args.get(i), *arguments))
            return nullptr;
    }
    return arguments;
}

bool CJSConverter::SetCallResult(const CNativeState& state, JS::MutableHandleValue out)
{
    const CArgument* first = state.GetReturnValue().GetAt(0);
    if (!first) {
        out.setUndefined();
        return true;
    }
    return SetJSReturnValue(first, out);
}

void EnterCallerRealm(JSContext* cx, CJSScriptEnvironment* environment, mozilla::Maybe<JSAutoRealm>& realm)
{
    if (environment && environment->GetGlobal())
        realm.emplace(cx, environment->GetGlobal());
}

bool NativeCallSucceeded(JSContext* cx, CJSScripting* scripting, bool result)
{
    if (JS_IsExceptionPending(cx))
        scripting->HandleError();
    if (!result)
        return JSUtil::ThrowError(cx, "%s", GetError());
    return true;
}

bool CJSConverter::MakeObjectValue(CBaseObject* object, JS::MutableHandleValue out, bool forReturn)
{
    if (object) {
        if (JSObject* wrapper = CJSReferenceable::Get(m_pScripting, object)) {
            out.setObject(*wrapper);
            return true;
        }
        if (JS_IsExceptionPending(m_cx))
            return false;
    }
    if (forReturn)
        out.setNull();
    else
        out.setUndefined();
    return true;
}

bool CJSConverter::MakeValueObject(ReflectedClass* cls, const CArgument* argument, JS::MutableHandleValue out,
                                   bool forReturn)
{
    if (!cls || !m_pScripting->GetClass(cls))
        return MakeObjectValue(nullptr, out, forReturn);
    Strong<CBaseObject> object = Reflection::Construct(m_pScripting->GetScripting(), cls);
    if (!object)
        return JSUtil::ThrowError(m_cx, "%s", GetError());
    if (argument->IsVector2D()) {
        CVector2D vector;
        argument->ToVector2D(vector);
        StoreValue(object, vector);
    } else if (argument->IsVector3D()) {
        CVector3D vector;
        argument->ToVector3D(vector);
        StoreValue(object, vector);
    } else if (argument->IsMatrix4x4()) {
        CMatrix4x4 matrix;
        argument->ToMatrix4x4(matrix);
        StoreValue(object, matrix);
    }
    return MakeObjectValue(object, out, forReturn);
}

bool CJSConverter::MakeFunctionValue(CFunction* function, JS::MutableHandleValue out)
{
    if (!function) {
        out.setNull();
        return true;
    }
    // A script function that went through native code comes back as itself, unless its
    // environment has been torn down: calling it then fails instead of running stopped code.
    if (auto* script = dynamic_cast<CJSFunction*>(function); script && script->GetScripting() == m_pScripting) {
        JSObject* object = script->GetFunctionObject();
        if (object && !(script->GetEnvironment() && script->GetEnvironment()->IsDestroyed())) {
            out.setObject(*object);
            return true;
        }
    }
    JSObject* object = NewFunctionValue(m_cx, function);
    if (!object)
        return false;
    out.setObject(*object);
    return true;
}

bool CJSConverter::ToJSValue(const CArgument* argument, JS::MutableHandleValue out, unsigned depth, bool forReturn)
{
    if (!argument) {
        out.setUndefined();
        return true;
    }
    if (depth > MaxArgumentDepth)
        return JSUtil::ThrowError(m_cx, "Value nested too deeply to convert (more than %u levels)", MaxArgumentDepth);
    const ReflectedNamespace* root = m_pScripting->GetScripting()->GetGlobal();
    switch (argument->GetType()) {
    case ARGUMENT_NIL:
        out.setNull();
        return true;
    case ARGUMENT_BOOLEAN:
        out.setBoolean(argument->ToBoolean());
        return true;
    case ARGUMENT_STRING: {
        size_t length = 0;
        const char* text = argument->ToString(&length);
        JSString* string = JSUtil::NewString(m_cx, text, length);
        if (!string)
            return false;
        out.setString(string);
        return true;
    }
    case ARGUMENT_INTEGER: {
        int32_t value = 0;
        argument->ToNumber(value);
        out.setInt32(value);
        return true;
    }
    case ARGUMENT_FLOAT:
    case ARGUMENT_LONGINTEGER:
    case ARGUMENT_DOUBLE: {
        double value = 0.0;
        argument->ToNumber(value);
        out.set(JS::NumberValue(value));
        return true;
    }
    case ARGUMENT_NETOBJECT:
    case ARGUMENT_OBJECT:
        return MakeObjectValue(argument->ToObject(), out, forReturn);
    case ARGUMENT_VECTOR2D:
        return MakeValueObject(root->GetVector2DClass(), argument, out, forReturn);
    case ARGUMENT_VECTOR3D:
        return MakeValueObject(root->GetVector3DClass(), argument, out, forReturn);
    case ARGUMENT_MATRIX4X4:
        if (forReturn)
            return MakeValueObject(root->GetMatrix4x4Class(), argument, out, forReturn);
        out.setUndefined();
        return true;
    case ARGUMENT_UNDEFINED:
        out.setUndefined();
        return true;
    case ARGUMENT_JSVALUE: {
        auto* held = dynamic_cast<const CJSArgumentValue*>(argument);
        JSObject* object = held && held->GetScripting() == m_pScripting ? held->GetObject() : nullptr;
        if (forReturn || !object)
            out.set(forReturn ? JS::NullValue() : JS::UndefinedValue());
        else
            out.setObject(*object);
        return true;
    }
    case ARGUMENT_ARRAY: {
        auto* array = static_cast<const CArgumentArray*>(argument);
        JS::RootedObject object(m_cx, JS::NewArrayObject(m_cx, array->GetArrayCount()));
        if (!object)
            return false;
        JS::RootedValue element(m_cx);
        for (size_t i = 0; i < array->GetArrayCount(); ++i) {
            // Defined, not assigned: setters a script put on Array.prototype never run here.
            if (!ToJSValue(array->GetAt(i), &element, depth + 1, false) ||
                !JS_DefineElement(m_cx, object, uint32_t(i), element, JSPROP_ENUMERATE))
                return false;
        }
        out.setObject(*object);
        return true;
    }
    case ARGUMENT_MAP: {
        auto* map = static_cast<const CArgumentMap*>(argument);
        JS::RootedObject object(m_cx, JS_NewPlainObject(m_cx));
        if (!object)
            return false;
        JS::RootedValue element(m_cx);
        JS::RootedString key(m_cx);
        JS::RootedId id(m_cx);
        for (const auto& [name, value] : map->GetEntries()) {
            key = JSUtil::NewString(m_cx, name.data(), name.size());
            // Defined as own data properties: a key such as "__proto__" from outside stays a key.
            if (!key || !JS_StringToId(m_cx, key, &id) || !ToJSValue(value.Get(), &element, depth + 1, false) ||
                !JS_DefinePropertyById(m_cx, object, id, element, JSPROP_ENUMERATE))
                return false;
        }
        out.setObject(*object);
        return true;
    }
    case ARGUMENT_FUNCTION:
        return MakeFunctionValue(argument->ToFunction(), out);
    case ARGUMENT_BYTES: {
        size_t length = 0;
        const uint8_t* data = argument->ToBytes(&length);
        JS::RootedObject buffer(m_cx, JS::NewArrayBuffer(m_cx, length));
        if (!buffer)
            return false;
        if (length > 0 && data) {
            bool shared = false;
            JS::AutoCheckCannotGC noGC;
            std::memcpy(JS::GetArrayBufferData(buffer, &shared, noGC), data, length);
        }
        out.setObject(*buffer);
        return true;
    }
    default:
        // Tables, four-component vectors, other engines' references and unknown types.
        out.set(forReturn ? JS::NullValue() : JS::UndefinedValue());
        return true;
    }
}

} // namespace Corvane3D
