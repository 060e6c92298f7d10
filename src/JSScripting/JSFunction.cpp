#include "JSInternal.h"

namespace Corvane3D {

namespace {

// Holds a reference to the native function behind a script function value; the reference goes
// when the script function is collected.
void FunctionHolderFinalise(JS::GCContext*, JSObject* object)
{
    if (auto* function = JS::GetMaybePtrFromReservedSlot<CFunction>(object, 0))
        function->Release();
}

const JSClassOps kFunctionHolderClassOps = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, FunctionHolderFinalise, nullptr, nullptr, nullptr,
};

const JSClass kFunctionHolderClass = {
    "NativeFunction",
    JSCLASS_HAS_RESERVED_SLOTS(1) | JSCLASS_FOREGROUND_FINALIZE,
    &kFunctionHolderClassOps,
    nullptr,
    nullptr,
    nullptr,
};

bool MethodFunctionValue(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    CJSScripting* scripting = GetEngine(cx);
    CJSScriptEnvironment* environment = scripting->GetCurrentEnvironment();
    mozilla::Maybe<JSAutoRealm> realm;
    EnterCallerRealm(cx, environment, realm);
    CFunction* function = GetFunctionValueTarget(&args.callee());
    if (auto* script = dynamic_cast<CJSFunction*>(function); script && script->GetEnvironment() &&
                                                             script->GetEnvironment()->IsDestroyed())
        return JSUtil::ThrowError(cx, "The script that owns this function has stopped");
    CJSConverter converter(cx, scripting, environment);
    Strong<CArgumentArray> arguments = converter.ConvertCallArguments(args, args.length());
    if (!arguments)
        return false;
    CNativeState state(scripting->GetScripting(), environment ? environment->m_pResource : nullptr, arguments);
    const bool result = scripting->GetFunctionTrampoline().Call(&state, int(arguments->GetArrayCount()), function);
    if (!NativeCallSucceeded(cx, scripting, result))
        return false;
    return converter.SetCallResult(state, args.rval());
}

} // namespace

JSObject* NewFunctionValue(JSContext* cx, CFunction* function)
{
    JS::RootedObject holder(cx, JS_NewObject(cx, &kFunctionHolderClass));
    if (!holder)
        return nullptr;
    function->AddRef();
    JS::SetReservedSlot(holder, 0, JS::PrivateValue(function));
    JSFunction* callable = js::NewFunctionWithReserved(cx, MethodFunctionValue, 0, 0, nullptr);
    if (!callable)
        return nullptr;
    JSObject* object = JS_GetFunctionObject(callable);
    js::SetFunctionNativeReserved(object, 0, JS::ObjectValue(*holder));
    return object;
}

CFunction* GetFunctionValueTarget(JSObject* function)
{
    if (!function || !JS_ObjectIsFunction(function) || !JS_IsNativeFunction(function, MethodFunctionValue))
        return nullptr;
    const JS::Value& holder = js::GetFunctionNativeReserved(function, 0);
    if (!holder.isObject())
        return nullptr;
    return JS::GetMaybePtrFromReservedSlot<CFunction>(&holder.toObject(), 0);
}

CJSRoot::CJSRoot(CJSScripting* scripting, JS::HandleObject object)
    : m_pScripting(scripting),
      m_pObject(std::make_unique<JS::PersistentRootedObject>(scripting->GetContext(), object))
{
    m_pScripting->AddRootHolder(this);
}

CJSRoot::~CJSRoot()
{
    if (m_pScripting)
        m_pScripting->RemoveRootHolder(this);
    m_pObject.reset();
}

void CJSRoot::Unroot()
{
    m_pObject.reset();
    m_pScripting = nullptr;
}

CJSFunction::CJSFunction(CJSScripting* scripting, CJSScriptEnvironment* environment, JS::HandleObject function)
    : m_pEnvironment(environment), m_Function(scripting, function)
{
}

bool CJSFunction::Call(const CArgumentArray& arguments, CReturnValue* results)
{
    if (!m_Function.GetScripting() || !m_Function.GetObject())
        return SetError("The script engine of this function has shut down");
    // A stopped resource's functions must not run in its torn-down environment.
    if (m_pEnvironment && m_pEnvironment->IsDestroyed())
        return SetError("The script that owns this function has stopped");
    CJSScripting* scripting = m_Function.GetScripting();
    JSContext* cx = scripting->GetContext();
    // The call may drop the last other reference to this function (a handler removing itself).
    Strong<CJSFunction> hold(this);
    CJSEntry entry(scripting, m_pEnvironment, m_Function.GetObject());
    CJSConverter converter(cx, scripting, m_pEnvironment);
    JS::RootedValueVector values(cx);
    JS::RootedValue value(cx);
    for (size_t i = 0; i < arguments.GetArrayCount(); ++i) {
        if (!converter.GetJSValue(arguments.GetAt(i), &value) || !values.append(value)) {
            scripting->HandleError();
            return SetError("The arguments could not be passed to the script function");
        }
    }
    // read again: converting the arguments may have moved the object
    JS::RootedValue callee(cx, JS::ObjectValue(*m_Function.GetObject()));
    JS::RootedValue result(cx);
    bool ok = JS::Call(cx, JS::NullHandleValue, callee, values, &result);
    if (ok && results)
        ok = converter.AddJSValue(result, *results);
    if (!ok) {
        if (JS_IsExceptionPending(cx)) {
            scripting->HandleError();
        } else if (Context* log = GetContext()) {
            log->LogError("A script function was terminated");
        }
        return SetError("The script function failed");
    }
    return true;
}

CJSArgumentValue::CJSArgumentValue(CJSScripting* scripting, JS::HandleObject object) : m_Object(scripting, object) {}

Strong<CArgument> CJSArgumentValue::Clone() const
{
    CJSScripting* scripting = m_Object.GetScripting();
    if (!scripting || !m_Object.GetObject())
        return MakeStrong<CArgument>(ARGUMENT_UNDEFINED);
    JS::RootedObject object(scripting->GetContext(), m_Object.GetObject());
    return MakeStrong<CJSArgumentValue>(scripting, object);
}

} // namespace Corvane3D
