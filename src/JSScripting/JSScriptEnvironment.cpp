#include "JSInternal.h"

#include "Engine/TextStream.h"

#include <cstring>

namespace Corvane3D {

namespace {

// Cooperative threads built on generators: a generator function started with thread.create runs
// until it yields a delay (yield* thread.wait(ms)), and continues from a timer after it.
constexpr const char kThreadPrelude[] = R"JS("use strict";
{
    const step = (routine) => {
        const next = routine.next();
        if (!next.done)
            setTimeout(step, next.value, routine);
    };
    global.thread = {
        create: (generatorFunction) => step(generatorFunction()),
        wait: (milliseconds) => [milliseconds],
    };
}
)JS";

bool ConsoleWrite(JSContext* cx, unsigned argc, JS::Value* vp, int level)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    std::string text;
    if (!JSUtil::ToString(cx, args.get(0), text))
        return false;
    if (Context* log = GetContext()) {
        if (level == LOG_WARN)
            log->LogWarn("%s", text.c_str());
        else if (level == LOG_ERROR)
            log->LogError("%s", text.c_str());
        else
            log->Log("%s", text.c_str());
    }
    args.rval().setUndefined();
    return true;
}

bool ConsoleLog(JSContext* cx, unsigned argc, JS::Value* vp)
{
    return ConsoleWrite(cx, argc, vp, LOG_INFO);
}

bool ConsoleWarn(JSContext* cx, unsigned argc, JS::Value* vp)
{
    return ConsoleWrite(cx, argc, vp, LOG_WARN);
}

bool ConsoleError(JSContext* cx, unsigned argc, JS::Value* vp)
{
    return ConsoleWrite(cx, argc, vp, LOG_ERROR);
}

bool ConsoleAssert(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    const bool condition = JS::ToBoolean(args.get(0));
    std::string message;
    if (!JSUtil::ToString(cx, args.get(1), message))
        return false;
    if (!condition) {
        if (Context* log = GetContext())
            log->LogError("%s", message.c_str());
    }
    args.rval().setUndefined();
    return true;
}

bool CollectGarbageNative(JSContext* cx, unsigned argc, JS::Value* vp)
{
    JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
    JS_GC(cx);
    args.rval().setUndefined();
    return true;
}

} // namespace

CJSScriptEnvironment::CJSScriptEnvironment(CJSScripting* scripting) : m_pScripting(scripting)
{
    m_pScripting->AddEnvironment(this);
    m_pScripting->AddRootHolder(this);
}

CJSScriptEnvironment::~CJSScriptEnvironment()
{
    if (m_pScripting) {
        m_pScripting->RemoveEnvironment(this);
        m_pScripting->RemoveRootHolder(this);
    }
    m_pGlobal.reset();
}

JSObject* CJSScriptEnvironment::GetGlobal() const
{
    return m_pGlobal ? m_pGlobal->get() : nullptr;
}

void CJSScriptEnvironment::Unroot()
{
    m_pGlobal.reset();
    m_bDestroyed = true;
}

bool CJSScriptEnvironment::Initialise()
{
    JSContext* cx = m_pScripting->GetContext();
    JS::RealmOptions options;
    // Every environment shares the class realm's compartment, so the shared prototypes and the
    // wrappers of native objects are reached directly, without cross-compartment wrappers.
    options.creationOptions().setExistingCompartment(m_pScripting->GetClassGlobal());
    JS::RootedObject global(cx,
                            JS_NewGlobalObject(cx, &GetGlobalClass(), nullptr, JS::DontFireOnNewGlobalHook, options));
    if (!global) {
        m_pScripting->HandleError();
        m_bDestroyed = true;
        return false;
    }
    // The realm holds a reference until the engine collects it.
    JS::SetRealmPrivate(JS::GetObjectRealmOrNull(global), static_cast<CJSScriptEnvironment*>(this));
    AddRef();
    m_pGlobal = std::make_unique<JS::PersistentRootedObject>(cx, global);
    {
        JSAutoRealm realm(cx, global);
        if (!DefineGlobals()) {
            m_pScripting->HandleError();
            m_pGlobal.reset();
            m_bDestroyed = true;
            return false;
        }
    }
    JS_FireOnNewGlobalObject(cx, global);
    if (!DoText(kThreadPrelude, sizeof(kThreadPrelude) - 1, "builtin")) {
        m_pGlobal.reset();
        m_bDestroyed = true;
        return false;
    }
    return true;
}

bool CJSScriptEnvironment::DefineGlobals()
{
    JSContext* cx = m_pScripting->GetContext();
    JS::RootedObject global(cx, GetGlobal());
    if (!JS_DefineProperty(cx, global, "global", global, 0) || !JS::InitRealmStandardClasses(cx) ||
        !JS_InitReflectParse(cx, global) ||
        !JS_DefineFunction(cx, global, "collectGarbage", CollectGarbageNative, 0, 0))
        return false;
    JS::RootedObject console(cx, JS_NewPlainObject(cx));
    if (!console || !JS_DefineProperty(cx, global, "console", console, 0) ||
        !JS_DefineFunction(cx, console, "assert", ConsoleAssert, 2, 0) ||
        !JS_DefineFunction(cx, console, "log", ConsoleLog, 1, 0) ||
        !JS_DefineFunction(cx, console, "info", ConsoleLog, 1, 0) ||
        !JS_DefineFunction(cx, console, "warn", ConsoleWarn, 1, 0) ||
        !JS_DefineFunction(cx, console, "error", ConsoleError, 1, 0))
        return false;
    return JSUtil::DefineNamespace(cx, m_pScripting, m_pScripting->GetScripting()->GetGlobal(), global);
}

void CJSScriptEnvironment::Destroy()
{
    m_bDestroyed = true;
    m_pGlobal.reset();
    if (m_bReleased)
        return;
    m_bReleased = true;
    Release();
}

bool CJSScriptEnvironment::DoFile(Stream* stream, const char* name)
{
    if (!stream)
        return false;
    CTextReader reader(stream);
    size_t length = 0;
    const char* text = reader.LoadText(&length);
    return DoText(text ? text : "", text ? length : 0, name);
}

bool CJSScriptEnvironment::DoText(const char* text, size_t length, const char* name, CReturnValue* result)
{
    if (m_bDestroyed || !m_pScripting || !GetGlobal())
        return false;
    CJSScripting* scripting = m_pScripting;
    JSContext* cx = scripting->GetContext();
    // The script may destroy its own environment; it stays valid until the entry ends.
    Strong<CJSScriptEnvironment> hold(this);
    CJSEntry entry(scripting, this, GetGlobal());
    JS::CompileOptions options(cx);
    options.setFileAndLine(name ? name : "", 1);
    JS::SourceText<mozilla::Utf8Unit> source;
    if (!source.init(cx, text ? text : "", text ? length : 0, JS::SourceOwnership::Borrowed)) {
        scripting->HandleError();
        return false;
    }
    JS::RootedValue value(cx);
    bool ok = JS::Evaluate(cx, options, source, &value);
    if (ok && result) {
        CJSConverter converter(cx, scripting, this);
        ok = converter.AddJSValue(value, *result);
    }
    if (!ok) {
        if (JS_IsExceptionPending(cx)) {
            scripting->HandleError();
        } else if (Context* log = GetContext()) {
            log->LogError("The script %s was terminated", name ? name : "");
        }
    }
    return ok;
}

} // namespace Corvane3D
