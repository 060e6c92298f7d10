#pragma once
// Helpers shared by the libraries.

#include "SqVM.h"

namespace Squirrel {

struct SQRegFunction {
    const char* name;
    SQFUNCTION f;
    SQInteger nparamscheck;
    const char* typemask;
};

// Registers the natives into the table or class on top of the stack.
void RegisterNatives(HSQUIRRELVM v, const SQRegFunction* funcs);

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

// Largest array or blob a script may ask for in one call.
constexpr SQInteger kMaxScriptAllocation = SQInteger(1) << 26;

} // namespace Squirrel
