#pragma once
// Helpers shared by the libraries.

#include "SqVM.h"

#include <memory>

namespace Squirrel {

struct SQRegFunction {
    const char* name;
    SQFUNCTION f;
    SQInteger nparamscheck;
    const char* typemask;
};

// Registers the natives into the table or class on top of the stack.
void RegisterNatives(HSQUIRRELVM v, const SQRegFunction* funcs);
// Pushes a new class of library objects with its methods; `typetag` tells its instances apart.
void PushLibraryClass(HSQUIRRELVM v, const char& typetag, const SQRegFunction* methods);

inline SQObjectPtr& Arg(HSQUIRRELVM v, SQInteger i) { return v->StackGet(i); }
inline SQInteger ArgCount(HSQUIRRELVM v) { return v->_top - v->_stackbase; }
inline SQInteger PushResult(HSQUIRRELVM v, const SQObject& o) {
    v->Push(SQObjectPtr(o));
    return 1;
}
inline SQInteger PushResult(HSQUIRRELVM v, SQObjectPtr&& o) {
    v->Push(std::move(o));
    return 1;
}
SQInteger ThrowError(HSQUIRRELVM v, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Adds the slot name = value to the table or class on top of the stack.
inline void SetSlot(HSQUIRRELVM v, const char* name, SQObjectPtr value) {
    sq_pushstring(v, name, -1);
    v->Push(std::move(value));
    sq_newslot(v, -3, SQFalse);
}

// Library classes whose instances own a C++ object of type T: the instance's release hook deletes it.
template <typename T>
SQInteger ReleaseOwned(SQUserPointer p, SQInteger) {
    std::unique_ptr<T> owned(static_cast<T*>(p));
    return 1;
}
template <typename T>
void AttachOwned(HSQUIRRELVM v, SQInteger idx, std::unique_ptr<T> object) {
    sq_setinstanceup(v, idx, object.release());
    sq_setreleasehook(v, idx, ReleaseOwned<T>);
}
// The object owned by the instance at idx when its class carries `typetag`; null otherwise.
template <typename T>
T* OwnedAt(HSQUIRRELVM v, SQInteger idx, const char& typetag) {
    SQUserPointer p = nullptr;
    if (SQ_FAILED(sq_getinstanceup(v, idx, &p, const_cast<char*>(&typetag))))
        return nullptr;
    return static_cast<T*>(p);
}
// A constructor runs once per instance: a second call would leak or replace the owned object.
inline bool AlreadyOwning(HSQUIRRELVM v) {
    SQUserPointer existing = nullptr;
    sq_getinstanceup(v, 1, &existing, nullptr);
    return existing != nullptr;
}

// Largest array or blob a script may ask for in one call.
constexpr SQInteger kMaxScriptAllocation = SQInteger(1) << 26;

} // namespace Squirrel
