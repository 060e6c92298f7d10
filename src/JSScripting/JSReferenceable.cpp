#include "JSInternal.h"

namespace Corvane3D {

namespace {

const JSClassOps kReferenceableClassOps = {
    CJSReferenceable::AddProperty, // addProperty
    nullptr,                       // delProperty
    nullptr,                       // enumerate
    nullptr,                       // newEnumerate
    nullptr,                       // resolve
    nullptr,                       // mayResolve
    CJSReferenceable::Finalise,    // finalize
    nullptr,                       // call
    nullptr,                       // construct
    nullptr,                       // trace
};

const CJSClass* ClassRecordOf(JSObject* object)
{
    // Every binding class is the leading member of its CJSClass record.
    return reinterpret_cast<const CJSClass*>(JS::GetClass(object));
}

std::string PropertyKeyText(JSContext* cx, JS::HandleId id)
{
    std::string text;
    if (id.isSymbol()) {
        JS::RootedString description(cx, JS::GetSymbolDescription(JS::RootedSymbol(cx, id.toSymbol())));
        if (description && JSUtil::StringToUTF8(cx, description, text))
            return "Symbol(" + text + ")";
        return "Symbol()";
    }
    JS::RootedValue key(cx);
    if (!JS_IdToValue(cx, id, &key) || !JSUtil::ToString(cx, key, text))
        JS_ClearPendingException(cx);
    return text;
}

} // namespace

const JSClassOps* GetReferenceableClassOps()
{
    return &kReferenceableClassOps;
}

bool IsReferenceableObject(JSObject* object)
{
    return object && JS::GetClass(object)->cOps == &kReferenceableClassOps;
}

CJSReferenceable::CJSReferenceable(CJSScripting* scripting, CJSScriptingClass* cls, JS::HandleObject object,
                                   CBaseObject* native, bool primary)
    : m_pScripting(scripting),
      m_pNative(native),
      m_pObject(object),
      m_pIdentity(object),
      m_bPrimary(primary && native),
      m_pClass(cls)
{
    // A wrapper that is the native object's own record, and a prototype, are held by the engine;
    // any other wrapper lives as long as scripts reach it and keeps its native object meanwhile.
    if (m_bPrimary || !native)
        m_pRoot = std::make_unique<JS::PersistentRootedObject>(scripting->GetContext(), object);
    else
        m_pHold = native;
    ++CJSScripting::m_iUserDataCount;
    scripting->AddWrapper(this);
}

CJSReferenceable::~CJSReferenceable()
{
    if (m_pScripting) {
        m_pScripting->RemoveWrapper(this);
        // A script object that outlives its native object must not find this record again; during
        // a collection the slot is left alone and lookups reject the record as no longer live.
        if (m_pObject && !JS::RuntimeHeapIsCollecting())
            JS::SetReservedSlot(m_pObject, 0, JS::UndefinedValue());
    }
    m_pRoot.reset();
    --CJSScripting::m_iUserDataCount;
}

JSObject* CJSReferenceable::GetObject() const
{
    if (m_pObject)
        JS::ExposeObjectToActiveJS(m_pObject);
    return m_pObject;
}

bool CJSReferenceable::Destruct()
{
    m_pRoot.reset();
    if (!m_pScripting || m_pScripting->IsShuttingDown())
        return false;
    return m_pObject != nullptr;
}

void CJSReferenceable::UpdateWeakPointer(JSTracer* trc)
{
    if (!m_pObject)
        return;
    // A dead object keeps its identity until its finaliser has run.
    if (JS_UpdateWeakPointerAfterGCUnbarriered(trc, &m_pObject))
        m_pIdentity = m_pObject;
}

CJSReferenceable* CJSReferenceable::FromObject(JSObject* object)
{
    if (!IsReferenceableObject(object))
        return nullptr;
    auto* record = JS::GetMaybePtrFromReservedSlot<CJSReferenceable>(object, 0);
    CJSScripting* scripting = ClassRecordOf(object)->m_pScripting;
    if (!record || !scripting || !scripting->IsLiveWrapper(record) || record->m_pIdentity != object)
        return nullptr;
    return record;
}

void CJSReferenceable::Finalise(JS::GCContext*, JSObject* object)
{
    auto* record = JS::GetMaybePtrFromReservedSlot<CJSReferenceable>(object, 0);
    CJSScripting* scripting = ClassRecordOf(object)->m_pScripting;
    if (!record || !scripting || !scripting->IsLiveWrapper(record) || record->m_pIdentity != object)
        return;
    record->m_pObject = nullptr;
    CBaseObject* native = record->m_pNative;
    if (!record->m_bPrimary || !native) {
        std::unique_ptr<CJSReferenceable> owned(record);
        return;
    }
    if (native->GetJSUserData() != record)
        return;
    if (native->GetRefCount() == 0) {
        // The native object waited for its wrapper; this destroys the record with it.
        native->Obliterate();
        return;
    }
    // Native code took the object back meanwhile: it lives on, and gets a new wrapper when it
    // next reaches a script.
    std::unique_ptr<IUserData> taken = native->TakeJSUserData();
}

bool CJSReferenceable::AddProperty(JSContext* cx, JS::HandleObject object, JS::HandleId id, JS::HandleValue)
{
    CJSReferenceable* record = FromObject(object);
    if (!record || !record->m_bSealed)
        return true;
    const std::string key = PropertyKeyText(cx, id);
    return JSUtil::ThrowError(cx, "can't define property \"%s\": Object is not extensible", key.c_str());
}

JSObject* CJSReferenceable::Get(CJSScripting* scripting, CBaseObject* native)
{
    if (!native)
        return nullptr;
    if (auto* record = dynamic_cast<CJSReferenceable*>(native->GetJSUserData())) {
        if (record->m_pScripting == scripting) {
            if (JSObject* object = record->GetObject())
                return object;
        }
    }
    CJSScriptingClass* cls = scripting->GetClass(native->GetReflectedClass());
    if (!cls)
        return nullptr;
    JSContext* cx = scripting->GetContext();
    JSAutoRealm realm(cx, scripting->GetClassGlobal());
    JS::RootedObject prototype(cx, cls->GetPrototype());
    JS::RootedObject object(cx, JS_NewObjectWithGivenProto(cx, cls->GetJSClass(), prototype));
    if (!object)
        return nullptr;
    if (!cls->Set(object, native)) {
        JSUtil::ThrowError(cx, "CJSScriptingClass::Set returned null!");
        return nullptr;
    }
    return object;
}

} // namespace Corvane3D
