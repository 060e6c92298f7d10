#pragma once
// The shared state: interned strings, the list of collectable objects, the constant and registry tables,
// the default delegates of every type and the host's callbacks. One per sq_open.

#include "SqClass.h"
#include "SqFunction.h"
#include "SqObject.h"

#include <unordered_map>

namespace Squirrel {

class CSqVM;

class CSqStringTable {
public:
    CSqStringTable();
    ~CSqStringTable();
    CSqString* Add(CSqSharedState* ss, const char* s, SQInteger len);
    void Remove(CSqString* s);
    size_t Count() const { return _count; }

private:
    void Resize(size_t n);
    std::vector<CSqString*> _buckets;
    size_t _count = 0;
};

SQHash HashString(const char* s, size_t len);

class CSqSharedState {
public:
    CSqSharedState();
    ~CSqSharedState();
    void Init(CSqVM* mainvm);

    CSqString* String(std::string_view s) { return _strings.Add(this, s.data(), static_cast<SQInteger>(s.size())); }
    SQObjectPtr Str(std::string_view s) { return SQObjectPtr(String(s)); }

    // Cycle collection: everything not reachable from the roots is finalised (or handed back).
    SQInteger CollectGarbage(CSqVM* current);
    SQObjectPtr ResurrectUnreachable(CSqVM* current);
    void MarkRoots(CSqGC& gc, CSqVM* current);
    // The collectables no root reaches, after a full mark.
    std::vector<CSqCollectable*> FindGarbage(CSqVM* current);
    // Releases everything at close, reachable or not.
    void FinalizeAll();

    void AddRef(const SQObject& o);
    bool Release(const SQObject& o);
    SQUnsignedInteger RefCountOf(const SQObject& o) const;

    CSqStringTable _strings;
    CSqCollectable* _gcHead = nullptr;
    uint32_t _gcMark = 1;

    // Deferred frees (see ReleaseZero).
    bool _freeing = false;
    std::vector<CSqRefCounted*> _pendingFree;

    struct SQRefEntry {
        SQObjectPtr obj;
        SQUnsignedInteger count = 0;
    };
    std::unordered_map<CSqRefCounted*, SQRefEntry> _refs;

    SQObjectPtr _mainvm;
    SQObjectPtr _registry;
    SQObjectPtr _consts;
    SQObjectPtr _metamethodnames[MT_LAST];
    SQObjectPtr _metamethodsmap; // name -> index
    SQObjectPtr _constructorname;

    // The delegate every value of type `t` falls back on; null for types without one.
    const SQObjectPtr* DefaultDelegate(SQObjectType t) const;
    SQObjectPtr _table_default_delegate;
    SQObjectPtr _array_default_delegate;
    SQObjectPtr _string_default_delegate;
    SQObjectPtr _number_default_delegate;
    SQObjectPtr _generator_default_delegate;
    SQObjectPtr _closure_default_delegate;
    SQObjectPtr _thread_default_delegate;
    SQObjectPtr _class_default_delegate;
    SQObjectPtr _instance_default_delegate;
    SQObjectPtr _weakref_default_delegate;

    SQPRINTFUNCTION _printfunc = nullptr;
    SQPRINTFUNCTION _errorfunc = nullptr;
    SQCOMPILERERROR _compilererrorhandler = nullptr;
    SQUserPointer _foreignptr = nullptr;
    bool _debuginfo = true;
    bool _notifyallexceptions = false;
    bool _stdinEnabled = false;
    // C++ nesting of calls into script code across every machine of this state; bounds native recursion.
    int32_t _nativeDepth = 0;
    uint64_t _randState = 1;
    std::string _scratch;
    bool _closing = false;
};

inline SQObjectPtr MakeWeakRefObj(const SQObject& o) {
    if (!IsRefCounted(o._type))
        return SQObjectPtr(o);
    return SQObjectPtr(o._unVal.pRefCounted->GetWeakRef(o._type));
}

} // namespace Squirrel
