#include "JSInternal.h"

#include "Engine/Assert.h"
#include "Engine/Scripting.h"

#include <string>

namespace Corvane3D {

const JSClassOps* GetReferenceableClassOps();

namespace {

enum class eArguments { All, None, First };

std::string CalleeName(JSContext* cx, const JS::CallArgs& args)
{
    std::string name;
    if (JSFunction* function = JS_GetObjectFunction(&args.callee())) {
        JS::RootedString id(cx, JS_GetFunctionId(function));
        if (id && !JSUtil::StringToUTF8(cx, id, name))
            JS_ClearPendingException(cx);
    }
    return name;
}

// The native call protocol: the script arguments become argument values, the native runs with
// the calling environment's resource (and, for methods, the receiver's native object), and its
// first result becomes the script's result. Failures surface as script errors.
bool CallReflected(JSContext* cx, const JS::CallArgs& args, const ScriptFunction& function, void* privateData,
                   bool thisCall, eArguments passed)
{
    CJSScripting* scripting = GetEngine(cx);
    CJSScriptEnvironment* environment = scripting->GetCurrentEnvironment();
    mozilla::Maybe<JSAutoRealm> realm;
    EnterCallerRealm(cx, environment, realm);

    const unsigned count = passed == eArguments::All ? args.length() : passed == eArguments::First ? 1 : 0;
    CJSConverter converter(cx, scripting, environment);
    Strong<CArgumentArray> arguments = converter.ConvertCallArguments(args, count);
    if (!arguments)
        return false;
    CNativeState state(scripting->GetScripting(), environment ? environment->m_pResource : nullptr, arguments);
    // The receiver stays alive for the call even if the native drops the last other reference.
    Strong<CBaseObject> self;
    if (thisCall) {
        CJSReferenceable* record =
            args.thisv().isObject() ? CJSReferenceable::FromObject(&args.thisv().toObject()) : nullptr;
        if (!record || !record->GetNative()) {
            const std::string name = CalleeName(cx, args);
            return JSUtil::ThrowError(cx, "'%s' called on an object that does not implement interface %s.",
                                      name.c_str(), scripting->GetRootClass()->GetName());
        }
        self = record->GetNative();
        state.SetThis(self);
    }
    const bool result = function.Call(&state, int(arguments->GetArrayCount()), privateData);
    if (result == state.HasError())
        ReportAssertion(__FILE__, __PRETTY_FUNCTION__, __LINE__, "bResult != State.m_bHasError");
    if (!NativeCallSucceeded(cx, scripting, result))
        return false;
    return converter.SetCallResult(state, args.rval());
}

const ReflectedFunction* FunctionOf(const JS::CallArgs& args)
{
    return static_cast<const ReflectedFunction*>(js::GetFunctionNativeReserved(&args.callee(), 0).toPrivate());
}

const ReflectedProperty* PropertyOf(const JS::CallArgs& args)
{
    return static_cast<const ReflectedProperty*>(js::GetFunctionNativeReserved(&args.callee(), 0).toPrivate());
}

// Reflected functions and property accessors; `ThisCall` for those of instances (not of the class).
template <bool ThisCall>
bool MethodFunction(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    const ReflectedFunction* function = FunctionOf(args);
    return CallReflected(cx, args, function->GetFunction(), function->GetPrivate(), ThisCall, eArguments::All);
}

template <bool ThisCall>
bool MethodGet(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    const ReflectedProperty* property = PropertyOf(args);
    return CallReflected(cx, args, property->GetGetter(), property->GetPrivate(), ThisCall, eArguments::None);
}

template <bool ThisCall>
bool MethodSet(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    const ReflectedProperty* property = PropertyOf(args);
    if (!CallReflected(cx, args, property->GetSetter(), property->GetPrivate(), ThisCall, eArguments::First))
        return false;
    args.rval().setUndefined();
    return true;
}

// `new Class(...)`, also reached through `super(...)` from a script class that extends it.
bool MethodConstruct(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    CJSScripting* scripting = GetEngine(cx);
    auto* cls = static_cast<CJSScriptingClass*>(js::GetFunctionNativeReserved(&args.callee(), 0).toPrivate());
    ReflectedClass* reflected = cls ? cls->GetReflectedClass() : nullptr;
    if (!reflected)
        return JSUtil::ThrowError(cx, "Illegal constructor.");
    if (!args.isConstructing())
        return JSUtil::ThrowError(cx, "Constructor %s requires 'new'", reflected->GetName());
    const ReflectedClass::Hook& constructor = reflected->GetConstructor();
    if (!constructor.CanCall())
        return JSUtil::ThrowError(cx, "Illegal constructor.");
    const bool derived = &args.newTarget().toObject() != &args.callee();
    JS::RootedObject object(cx, JS_NewObjectForConstructor(cx, cls->GetJSClass(), args));
    if (!object)
        return false;

    CJSScriptEnvironment* environment = scripting->GetCurrentEnvironment();
    CJSConverter converter(cx, scripting, environment);
    Strong<CArgumentArray> arguments = converter.ConvertCallArguments(args, args.length());
    if (!arguments)
        return false;
    CNativeState state(scripting->GetScripting(), environment ? environment->m_pResource : nullptr, arguments);
    const bool result = constructor.m_Function.Call(&state, int(arguments->GetArrayCount()), constructor.m_pPrivate);
    if (!NativeCallSucceeded(cx, scripting, result))
        return false;
    const CArgument* first = state.GetReturnValue().GetAt(0);
    CBaseObject* native = first && first->IsObject() ? first->ToObject() : nullptr;
    CJSScriptingClass* binding = native ? scripting->GetClass(native->GetReflectedClass()) : nullptr;
    if (!binding)
        return JSUtil::ThrowError(cx, "Constructor failed!");
    CJSReferenceable* record = binding->Set(object, native);
    if (!record)
        return JSUtil::ThrowError(cx, "CJSScriptingClass::Set returned null!");
    // Instances of script subclasses take the properties their own class gives them.
    if (derived)
        record->SetSealed(false);
    args.rval().setObject(*object);
    return true;
}

JSObject* NewMemberFunction(JSContext* cx, JSNative native, unsigned arity, const std::string& name,
                            const void* member)
{
    JSFunction* function = js::NewFunctionWithReserved(cx, native, arity, 0, name.c_str());
    if (!function)
        return nullptr;
    JSObject* object = JS_GetFunctionObject(function);
    js::SetFunctionNativeReserved(object, 0, JS::PrivateValue(const_cast<void*>(member)));
    return object;
}

} // namespace

CJSScriptingClass::CJSScriptingClass(CJSScripting* scripting, ReflectedClass* reflected, CJSClass* record)
    : m_pScripting(scripting), m_pReflected(reflected), m_pRecord(record)
{
    m_pRecord->m_pScripting = scripting;
    m_pRecord->m_Class.name = m_pRecord->m_szName;
    m_pRecord->m_Class.flags = JSCLASS_HAS_RESERVED_SLOTS(1) | JSCLASS_FOREGROUND_FINALIZE;
    m_pRecord->m_Class.cOps = GetReferenceableClassOps();
}

CJSScriptingClass::~CJSScriptingClass()
{
    Detach();
}

JSObject* CJSScriptingClass::GetPrototype() const
{
    return m_pPrototype ? m_pPrototype->GetObject() : nullptr;
}

JSObject* CJSScriptingClass::GetConstructor() const
{
    return m_pConstructor ? m_pConstructor->get() : nullptr;
}

void CJSScriptingClass::Detach()
{
    if (m_ppBinding) {
        *m_ppBinding = nullptr;
        m_ppBinding = nullptr;
    }
    m_pReflected = nullptr;
}

void CJSScriptingClass::Unroot()
{
    m_pConstructor.reset();
}

void CJSScriptingClass::OnBindingCleared(void** data)
{
    if (auto* cls = static_cast<CJSScriptingClass*>(*data)) {
        cls->m_ppBinding = nullptr;
        cls->m_pReflected = nullptr;
    }
    *data = nullptr;
}

bool CJSScriptingClass::Initialise(CJSScriptingClass* parent)
{
    JSContext* cx = m_pScripting->GetContext();
    JS::RootedObject parentPrototype(cx);
    if (parent) {
        parentPrototype = parent->GetPrototype();
        if (!parentPrototype) {
            JS_ReportErrorASCII(cx, "no parent prototype");
            return false;
        }
    } else {
        parentPrototype = JS::GetRealmObjectPrototype(cx);
        if (!parentPrototype)
            return false;
    }
    JS::RootedObject prototype(cx, JS_NewObjectWithGivenProto(cx, GetJSClass(), parentPrototype));
    if (!prototype)
        return false;
    // The prototype object owns its record; its finaliser frees it.
    auto record = std::make_unique<CJSReferenceable>(m_pScripting, this, prototype, nullptr, false);
    m_pPrototype = record.get();
    JS::SetReservedSlot(prototype, 0, JS::PrivateValue(record.release()));
    // Open while the class is being defined.
    m_pPrototype->SetSealed(false);

    JSFunction* function = js::NewFunctionWithReserved(cx, MethodConstruct, 0, JSFUN_CONSTRUCTOR, GetName());
    if (!function)
        return false;
    JS::RootedObject constructor(cx, JS_GetFunctionObject(function));
    js::SetFunctionNativeReserved(constructor, 0, JS::PrivateValue(this));
    if (!JS_LinkConstructorAndPrototype(cx, constructor, prototype))
        return false;
    m_pConstructor = std::make_unique<JS::PersistentRootedObject>(cx, constructor);

    const bool registered = RegisterMembers();
    m_pPrototype->SetSealed(true);
    if (!registered)
        return false;
    // Prototypes and constructors are shared by every environment: frozen, no script can change
    // what another script sees.
    return JS_FreezeObject(cx, prototype) && JS_FreezeObject(cx, constructor);
}

bool CJSScriptingClass::RegisterMembers()
{
    if (!m_pReflected)
        return true;
    JSContext* cx = m_pScripting->GetContext();
    JS::RootedObject prototype(cx, GetPrototype());
    for (const auto& function : m_pReflected->GetFunctions()) {
        if (!JSUtil::RegisterJSFunction(cx, prototype, function.get(), false))
            return false;
    }
    for (const auto& property : m_pReflected->GetProperties()) {
        if (!JSUtil::RegisterJSProperty(cx, prototype, property.get(), property->GetName(), false))
            return false;
    }
    // Vectors read and write their components by index as well.
    const ReflectedNamespace* root = m_pScripting->GetScripting()->GetGlobal();
    const char* const* components = nullptr;
    static constexpr const char* kTwo[] = {"x", "y", nullptr};
    static constexpr const char* kThree[] = {"x", "y", "z", nullptr};
    if (m_pReflected == root->GetVector2DClass())
        components = kTwo;
    else if (m_pReflected == root->GetVector3DClass())
        components = kThree;
    for (size_t i = 0; components && components[i]; ++i) {
        const ReflectedProperty* property = m_pReflected->GetProperty(components[i]);
        if (property && !JSUtil::RegisterJSProperty(cx, prototype, property, std::to_string(i).c_str(), false))
            return false;
    }
    return true;
}

CJSReferenceable* CJSScriptingClass::Set(JS::HandleObject object, CBaseObject* native)
{
    if (!object || !native)
        return nullptr;
    const bool primary = native->GetJSUserData() == nullptr;
    auto record = std::make_unique<CJSReferenceable>(m_pScripting, this, object, native, primary);
    CJSReferenceable* raw = record.get();
    JS::SetReservedSlot(object, 0, JS::PrivateValue(raw));
    if (primary)
        native->SetJSUserData(std::move(record));
    else
        record.release(); // owned by the script object; its finaliser frees it
    return raw;
}

bool CJSScriptingClass::DefineGlobals(JS::HandleObject target)
{
    JSContext* cx = m_pScripting->GetContext();
    JS::RootedObject constructor(cx, GetConstructor());
    if (!constructor || !m_pReflected) {
        JS_ReportErrorASCII(cx, "Class %s is not defined", GetName());
        return false;
    }
    return JS_DefineProperty(cx, target, m_pReflected->GetName(), constructor, 0);
}

namespace JSUtil {

unsigned GetArity(const ScriptFunction& function)
{
    return unsigned(ScriptFunction::CalcArgumentCount(function.GetMask()));
}

bool RegisterJSFunction(JSContext* cx, JS::HandleObject target, const ReflectedFunction* function, bool isStatic)
{
    const std::string name = function->GetName() ? function->GetName() : "";
    JS::RootedObject object(cx, NewMemberFunction(cx, isStatic ? MethodFunction<false> : MethodFunction<true>,
                                                  GetArity(function->GetFunction()), name, function));
    if (!object || !JS_DefineProperty(cx, target, name.c_str(), object, JSPROP_READONLY))
        return false;
    return isStatic || JS_FreezeObject(cx, object);
}

bool RegisterJSProperty(JSContext* cx, JS::HandleObject target, const ReflectedProperty* property, const char* name,
                        bool isStatic)
{
    JS::RootedObject getter(cx, NewMemberFunction(cx, isStatic ? MethodGet<false> : MethodGet<true>, 0,
                                                  std::string("get ") + name, property));
    if (!getter || (!isStatic && !JS_FreezeObject(cx, getter)))
        return false;
    JS::RootedObject setter(cx);
    if (property->GetSetter().GetNative() || property->GetSetter().GetModuleNative()) {
        setter = NewMemberFunction(cx, isStatic ? MethodSet<false> : MethodSet<true>, 1, std::string("set ") + name,
                                   property);
        if (!setter || (!isStatic && !JS_FreezeObject(cx, setter)))
            return false;
    }
    return JS_DefineProperty(cx, target, name, getter, setter, 0);
}

bool DefineNamespace(JSContext* cx, CJSScripting* scripting, ReflectedNamespace* ns, JS::HandleObject target)
{
    for (const auto& cls : ns->GetClasses()) {
        CJSScriptingClass* binding = scripting->GetClass(cls.get());
        if (!binding) {
            JS_ReportErrorASCII(cx, "Class %s is not defined", cls->GetName());
            return false;
        }
        if (!binding->DefineGlobals(target))
            return false;
    }
    for (const auto& function : ns->GetFunctions()) {
        if (!RegisterJSFunction(cx, target, function.get(), true))
            return false;
    }
    for (const auto& property : ns->GetProperties()) {
        if (!RegisterJSProperty(cx, target, property.get(), property->GetName(), true))
            return false;
    }
    for (const auto& child : ns->GetNamespaces()) {
        JS::RootedObject object(cx, JS_NewPlainObject(cx));
        if (!object || !JS_DefineProperty(cx, target, child->GetName(), object, 0))
            return false;
        if (child->GetAlias() && !JS_DefineProperty(cx, target, child->GetAlias(), object, 0))
            return false;
        if (!DefineNamespace(cx, scripting, child.get(), object))
            return false;
    }
    return true;
}

} // namespace JSUtil
} // namespace Corvane3D
