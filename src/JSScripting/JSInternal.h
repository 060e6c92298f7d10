#pragma once
// The binding's own classes: engine class records, reflected classes made into JavaScript
// classes, the records that tie a JavaScript object to a native one, script functions held by
// native code, opaque script values, the promise job queue, and the value conversions.

#include "JSScripting/JSScriptEnvironment.h"
#include "JSScripting/JSScripting.h"

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneNative.h"
#include "Engine/Function.h"

#include <jsapi.h>
#include <jsfriendapi.h>
#include <js/Array.h>
#include <js/ArrayBuffer.h>
#include <js/BigInt.h>
#include <js/CallAndConstruct.h>
#include <js/CharacterEncoding.h>
#include <js/CompilationAndEvaluation.h>
#include <js/Context.h>
#include <js/Conversions.h>
#include <js/ErrorReport.h>
#include <js/Exception.h>
#include <js/GCAPI.h>
#include <js/Initialization.h>
#include <js/Interrupt.h>
#include <js/Object.h>
#include <js/Promise.h>
#include <js/PropertyAndElement.h>
#include <js/Realm.h>
#include <js/RealmOptions.h>
#include <js/SourceText.h>
#include <js/Stack.h>
#include <js/String.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Corvane3D {

// An engine class description with the way back to the engine that made it. The engine sees only
// the leading JSClass; finalisers and hooks find the rest from it.
struct CJSClass {
    JSClass m_Class{};
    CJSScripting* m_pScripting = nullptr;
    // Engine class names are cut to 63 characters.
    char m_szName[64] = {};
};

// The class of every global object.
const JSClass& GetGlobalClass();

// Whether the object is one of the binding's wrappers or prototypes.
bool IsReferenceableObject(JSObject* object);
CJSScripting* GetEngine(JSContext* cx);

// One reflected class as a JavaScript class: its engine class record, its prototype (shared by
// every environment) and its constructor.
class CJSScriptingClass {
public:
    CJSScriptingClass(CJSScripting* scripting, ReflectedClass* reflected, CJSClass* record);
    ~CJSScriptingClass();
    CJSScriptingClass(const CJSScriptingClass&) = delete;
    CJSScriptingClass& operator=(const CJSScriptingClass&) = delete;

    // Makes the prototype (its parent's prototype as prototype) and the constructor.
    bool Initialise(CJSScriptingClass* parent);
    // Binds a script object to a native object; null when either is missing.
    CJSReferenceable* Set(JS::HandleObject object, CBaseObject* native);
    // Publishes the constructor on `target` under the class name.
    bool DefineGlobals(JS::HandleObject target);

    const char* GetName() const { return m_pRecord->m_szName; }
    ReflectedClass* GetReflectedClass() const { return m_pReflected; }
    const JSClass* GetJSClass() const { return &m_pRecord->m_Class; }
    JSObject* GetPrototype() const;
    JSObject* GetConstructor() const;
    // The slot in the reflected class that points back here; cleared by whichever side goes first.
    void SetBindingSlot(void** slot) { m_ppBinding = slot; }
    void Detach();
    void Unroot();

    // Deleter of the reflected class's per-engine entry.
    static void OnBindingCleared(void** data);

private:
    bool RegisterMembers();

    CJSScripting* m_pScripting;
    ReflectedClass* m_pReflected;
    CJSClass* m_pRecord;
    // The prototype's record (no native object); freed by the prototype's finaliser.
    CJSReferenceable* m_pPrototype = nullptr;
    std::unique_ptr<JS::PersistentRootedObject> m_pConstructor;
    void** m_ppBinding = nullptr;
};

// Ties one JavaScript object to one native object (or to none, for prototypes). The record that
// is the native object's JavaScript user data keeps the script object rooted while the native
// object is referenced, and vetoes the native object's destruction while the script object lives.
class CJSReferenceable final : public IUserData {
public:
    // `native` may be null. `primary`: the record becomes the native object's user data.
    CJSReferenceable(CJSScripting* scripting, CJSScriptingClass* cls, JS::HandleObject object, CBaseObject* native,
                     bool primary);
    ~CJSReferenceable() override;
    CJSReferenceable(const CJSReferenceable&) = delete;
    CJSReferenceable& operator=(const CJSReferenceable&) = delete;

    // The native object's count reached zero: drop the hold on the script object; true while the
    // script object still exists (the finaliser then finishes the native object).
    bool Destruct() override;

    // The live record of a script object, or null (not a wrapper, or its native side is gone).
    static CJSReferenceable* FromObject(JSObject* object);
    // The script object for a native object: its existing wrapper or a new one; null (no
    // exception) when the object's class has no binding.
    static JSObject* Get(CJSScripting* scripting, CBaseObject* native);
    static void Finalise(JS::GCContext* gcx, JSObject* object);
    static bool AddProperty(JSContext* cx, JS::HandleObject object, JS::HandleId id, JS::HandleValue value);

    CBaseObject* GetNative() const { return m_pNative; }
    CJSScriptingClass* GetClass() const { return m_pClass; }
    // The script object while it exists (weak); exposed to the collector as in use.
    JSObject* GetObject() const;
    bool IsSealed() const { return m_bSealed; }
    void SetSealed(bool sealed) { m_bSealed = sealed; }
    bool IsPrimary() const { return m_bPrimary; }

    // After a collection: follows a moved script object, forgets a dead one.
    void UpdateWeakPointer(JSTracer* trc);
    // Drops the strong hold (engine shutdown).
    void Unroot() { m_pRoot.reset(); }
    // The engine is gone; the record only waits for its native object.
    void Detach() { m_pScripting = nullptr; }

private:
    CJSScripting* m_pScripting;
    CBaseObject* m_pNative;
    // Only a record that is not the native object's user data keeps the native object alive.
    Strong<CBaseObject> m_pHold;
    std::unique_ptr<JS::PersistentRootedObject> m_pRoot;
    // Weak: nulled after a collection that found the object dead, before its finaliser runs.
    JSObject* m_pObject;
    // The object's address, kept when the weak pointer is nulled so that the finaliser and
    // slot lookups can tell that a record really belongs to the object in hand.
    JSObject* m_pIdentity;
    bool m_bSealed = true;
    bool m_bPrimary;
    CJSScriptingClass* m_pClass;
};

// A script object kept alive for native code. The engine drops every such hold when it shuts
// down; from then on the object is null and the engine gone.
class CJSRoot final : public IJSRootHolder {
public:
    CJSRoot(CJSScripting* scripting, JS::HandleObject object);
    ~CJSRoot();
    CJSRoot(const CJSRoot&) = delete;
    CJSRoot& operator=(const CJSRoot&) = delete;

    void Unroot() override;
    JSObject* GetObject() const { return m_pObject ? m_pObject->get() : nullptr; }
    CJSScripting* GetScripting() const { return m_pScripting; }

private:
    CJSScripting* m_pScripting;
    std::unique_ptr<JS::PersistentRootedObject> m_pObject;
};

// A JavaScript function held by native code (event handlers, timers, commands).
class CJSFunction final : public CFunction {
public:
    CJSFunction(CJSScripting* scripting, CJSScriptEnvironment* environment, JS::HandleObject function);

    bool Call(const CArgumentArray& arguments, CReturnValue* results) override;

    JSObject* GetFunctionObject() const { return m_Function.GetObject(); }
    CJSScriptEnvironment* GetEnvironment() const { return m_pEnvironment.Get(); }
    CJSScripting* GetScripting() const { return m_Function.GetScripting(); }

protected:
    ~CJSFunction() override = default;

private:
    Strong<CJSScriptEnvironment> m_pEnvironment;
    CJSRoot m_Function;
};

// A script object carried opaquely through native code.
class CJSArgumentValue final : public CArgumentJSValue {
public:
    CJSArgumentValue(CJSScripting* scripting, JS::HandleObject object);

    Strong<CArgument> Clone() const override;

    JSObject* GetObject() const { return m_Object.GetObject(); }
    CJSScripting* GetScripting() const { return m_Object.GetScripting(); }

protected:
    ~CJSArgumentValue() override = default;

private:
    CJSRoot m_Object;
};

// Promise reactions queued by the engine and run when the outermost entry from native code ends.
class CJSJobQueue final : public JS::JobQueue {
public:
    explicit CJSJobQueue(CJSScripting* scripting) : m_pScripting(scripting) {}

    JSObject* getIncumbentGlobal(JSContext* cx) override;
    bool enqueuePromiseJob(JSContext* cx, JS::HandleObject promise, JS::HandleObject job,
                           JS::HandleObject allocationSite, JS::HandleObject incumbentGlobal) override;
    void runJobs(JSContext* cx) override;
    bool empty() const override { return m_Jobs.empty(); }

    // Runs jobs until the queue is empty or `timeLimitMs` has passed; false when it gave up (the
    // rest of the queue is dropped).
    bool Drain(JSContext* cx, uint32_t timeLimitMs, size_t& dropped);
    void Clear() { m_Jobs.clear(); }

private:
    js::UniquePtr<SavedJobQueue> saveJobQueue(JSContext* cx) override;

    class CSavedQueue;

    CJSScripting* m_pScripting;
    std::deque<std::unique_ptr<JS::PersistentRootedObject>> m_Jobs;
};

// Stops script code that runs too long: while an outermost entry runs past its limit, a thread of
// its own keeps asking the engine to interrupt, and the interrupt handler then ends the script.
class CJSWatchdog {
public:
    explicit CJSWatchdog(JSContext* cx);
    ~CJSWatchdog();
    CJSWatchdog(const CJSWatchdog&) = delete;
    CJSWatchdog& operator=(const CJSWatchdog&) = delete;

    // The outermost entry starts (limit 0: no limit) and ends; main thread only.
    void Begin(uint32_t limitMs);
    void End();
    // Whether the running entry has passed its limit.
    bool HasExpired();

private:
    void Main();

    using Clock = std::chrono::steady_clock;
    JSContext* m_pContext;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    bool m_bStop = false;
    bool m_bRunning = false;
    Clock::time_point m_Deadline;
    std::thread m_Thread;
};

// One entry from native code into script code: the environment is current for natives, its realm
// is entered, and promise jobs run when the outermost entry ends.
class CJSEntry {
public:
    CJSEntry(CJSScripting* scripting, CJSScriptEnvironment* environment, JSObject* realmObject);
    ~CJSEntry();
    CJSEntry(const CJSEntry&) = delete;
    CJSEntry& operator=(const CJSEntry&) = delete;

private:
    CJSScripting* m_pScripting;
    CJSScriptEnvironment* m_pEnvironment;
    mozilla::Maybe<JSAutoRealm> m_Realm;
};

namespace JSUtil {

// UTF-8 of a string, lossless and with its length (strings may hold NUL).
bool StringToUTF8(JSContext* cx, JSString* string, std::string& out);
// UTF-8 of any value through the language's ToString; false with an exception pending.
bool ToString(JSContext* cx, JS::HandleValue value, std::string& out);
// A string from UTF-8; malformed sequences from outside become U+FFFD instead of failing.
JSString* NewString(JSContext* cx, const char* text, size_t length);
// Raises an error in the realm of the current environment, so scripts can test it with their
// own Error constructor.
bool ThrowError(JSContext* cx, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Logs an exception value with its file and line, when it names one.
void ReportException(JSContext* cx, const JS::ExceptionStack& exception);

// The argument count a function publishes: its required arguments.
unsigned GetArity(const ScriptFunction& function);
bool RegisterJSFunction(JSContext* cx, JS::HandleObject target, const ReflectedFunction* function, bool isStatic);
bool RegisterJSProperty(JSContext* cx, JS::HandleObject target, const ReflectedProperty* property, const char* name,
                        bool isStatic);
bool DefineNamespace(JSContext* cx, CJSScripting* scripting, ReflectedNamespace* ns, JS::HandleObject target);

} // namespace JSUtil

// Value conversions between script values and argument values. Containers are followed to the
// argument nesting limit, and a whole conversion visits a bounded number of elements, so cyclic or
// enormous script arrays fail with an error instead of exhausting the stack or the memory.
class CJSConverter {
public:
    static constexpr size_t MaxElements = 1u << 20;

    CJSConverter(JSContext* cx, CJSScripting* scripting, CJSScriptEnvironment* environment)
        : m_cx(cx), m_pScripting(scripting), m_pEnvironment(environment)
    {
    }

    // Appends the argument form of a script value; false with an exception pending.
    bool AddJSValue(JS::HandleValue value, CArgumentArray& target, unsigned depth = 0);
    // The script value of an argument for script callbacks; false with an exception pending.
    bool GetJSValue(const CArgument* argument, JS::MutableHandleValue out, unsigned depth = 0);
    // The script value of a native's result (differs from GetJSValue for a few types).
    bool SetJSReturnValue(const CArgument* argument, JS::MutableHandleValue out);
    // The first `count` arguments of a call from script code as argument values; null with an
    // exception pending.
    Strong<CArgumentArray> ConvertCallArguments(const JS::CallArgs& args, unsigned count);
    // A native's first result as the value of the script's call; undefined when it returned nothing.
    bool SetCallResult(const CNativeState& state, JS::MutableHandleValue out);

private:
    bool ToJSValue(const CArgument* argument, JS::MutableHandleValue out, unsigned depth, bool forReturn);
    bool MakeObjectValue(CBaseObject* object, JS::MutableHandleValue out, bool forReturn);
    bool MakeValueObject(ReflectedClass* cls, const CArgument* argument, JS::MutableHandleValue out, bool forReturn);
    bool MakeFunctionValue(CFunction* function, JS::MutableHandleValue out);
    bool CountElement();

    JSContext* m_cx;
    CJSScripting* m_pScripting;
    CJSScriptEnvironment* m_pEnvironment;
    size_t m_uiElements = 0;
};

// Values and errors of a call from script code are made in the calling environment's realm, even for
// methods of the shared classes.
void EnterCallerRealm(JSContext* cx, CJSScriptEnvironment* environment, mozilla::Maybe<JSAutoRealm>& realm);
// After a native ran for script code: errors left pending by script code the native ran are reported
// (none may leak into this call), and a failed native becomes a script error with its message.
bool NativeCallSucceeded(JSContext* cx, CJSScripting* scripting, bool result);

// A script function that calls a native CFunction (and keeps it alive while the function lives).
JSObject* NewFunctionValue(JSContext* cx, CFunction* function);
// The CFunction behind such a function value, or null.
CFunction* GetFunctionValueTarget(JSObject* function);

} // namespace Corvane3D
