// The embedding interface: thin wrappers that check their stack arguments and call into the machine.

#include "SqCompiler.h"
#include "SqVM.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace Squirrel;

namespace Squirrel {
void RegisterBaseLibrary(CSqVM* v);
void CreateDefaultDelegates(CSqVM* v);
} // namespace Squirrel

namespace {

constexpr size_t kMaxSourceLength = size_t(64) << 20;
constexpr SQInteger kMaxArrayApiSize = SQInteger(1) << 26;

SQRESULT Fail(HSQUIRRELVM v, const char* msg) {
    v->RaiseError("%s", msg);
    return SQ_ERROR;
}

bool IsCallable(const SQObject& o) { return o._type == OT_CLOSURE || o._type == OT_NATIVECLOSURE; }

// The value at idx when it has type `t`, held in `hold` while the call changes the stack; null with `error`
// raised otherwise.
SQObjectPtr* TypedAt(HSQUIRRELVM v, SQInteger idx, SQObjectType t, const char* error, SQObjectPtr& hold) {
    hold = v->StackGet(idx);
    if (hold._type == t)
        return &hold;
    Fail(v, error);
    return nullptr;
}
std::vector<SQObjectPtr>* ArrayAt(HSQUIRRELVM v, SQInteger idx, SQObjectPtr& hold) {
    return TypedAt(v, idx, OT_ARRAY, "array expected", hold) ? &AsArray(hold)->_values : nullptr;
}
CSqClass* ClassAt(HSQUIRRELVM v, SQInteger idx, SQObjectPtr& hold) {
    return TypedAt(v, idx, OT_CLASS, "class expected", hold) ? AsClass(hold) : nullptr;
}

// Reads the value at idx into *out when it has type `t`; the getters fail quietly, without an error.
template <typename T, typename F>
SQRESULT ReadTyped(HSQUIRRELVM v, SQInteger idx, SQObjectType t, T* out, F read) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (o._type != t)
        return SQ_ERROR;
    *out = read(o);
    return SQ_OK;
}

// A machine operation on the value at idx whose result is pushed (typeof, tostring, clone).
SQRESULT PushOperation(HSQUIRRELVM v, SQInteger idx, bool (CSqVM::*op)(SQObjectPtr, SQObjectPtr&)) {
    SQObjectPtr res;
    if (!(v->*op)(v->StackGet(idx), res))
        return SQ_ERROR;
    v->Push(res);
    return SQ_OK;
}

} // namespace

// ---------------------------------------------------------------- machines

HSQUIRRELVM sq_open(SQInteger initialstacksize) {
    auto ss = std::make_unique<CSqSharedState>();
    CSqVM* vm = new CSqVM(ss.get());
    ss->Init(vm);
    vm->Init(nullptr, initialstacksize);
    CreateDefaultDelegates(vm);
    RegisterBaseLibrary(vm);
    ss.release(); // owned by the main machine from here on, freed by sq_close
    return vm;
}

HSQUIRRELVM sq_newthread(HSQUIRRELVM friendvm, SQInteger initialstacksize) {
    CSqVM* t = new CSqVM(friendvm->_ss);
    SQObjectPtr obj(t);
    t->Init(friendvm, initialstacksize);
    friendvm->Push(obj);
    return t;
}

void sq_seterrorhandler(HSQUIRRELVM v) {
    SQObjectPtr o = v->Top();
    if (IsCallable(o) || o._type == OT_NULL)
        v->_errorhandler = o;
    v->Pop();
}

void sq_close(HSQUIRRELVM v) {
    std::unique_ptr<CSqSharedState> ss(v->_ss);
    ss->FinalizeAll();
}

void sq_setforeignptr(HSQUIRRELVM v, SQUserPointer p) { v->_foreignptr = p; }
SQUserPointer sq_getforeignptr(HSQUIRRELVM v) { return v->_foreignptr; }
void sq_setsharedforeignptr(HSQUIRRELVM v, SQUserPointer p) { v->_ss->_foreignptr = p; }
SQUserPointer sq_getsharedforeignptr(HSQUIRRELVM v) { return v->_ss->_foreignptr; }

void sq_setprintfunc(HSQUIRRELVM v, SQPRINTFUNCTION printfunc, SQPRINTFUNCTION errfunc) {
    v->_ss->_printfunc = printfunc;
    v->_ss->_errorfunc = errfunc;
}
SQPRINTFUNCTION sq_getprintfunc(HSQUIRRELVM v) { return v->_ss->_printfunc; }
SQPRINTFUNCTION sq_geterrorfunc(HSQUIRRELVM v) { return v->_ss->_errorfunc; }

SQRESULT sq_suspendvm(HSQUIRRELVM v) {
    if (!v->CanSuspend())
        return Fail(v, "cannot suspend through native calls or outside a thread");
    return SQ_SUSPEND_FLAG;
}

SQRESULT sq_wakeupvm(HSQUIRRELVM v, SQBool resumedret, SQBool retval, SQBool raiseerror, SQBool throwerror) {
    SQObjectPtr value;
    if (resumedret || throwerror) {
        value = v->Top();
        v->Pop();
    }
    SQObjectPtr res;
    if (!v->Wakeup(value, res, raiseerror != 0, throwerror != 0))
        return SQ_ERROR;
    if (retval)
        v->Push(res);
    return SQ_OK;
}

SQInteger sq_getvmstate(HSQUIRRELVM v) { return v->State(); }
SQInteger sq_getversion() { return 320; }
void sq_setmaxcalldepth(HSQUIRRELVM v, SQInteger depth) { v->_maxCallDepth = depth < 1 ? 1 : depth; }

// ---------------------------------------------------------------- compiler

SQRESULT sq_compile(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer p, const SQChar* sourcename,
                    SQBool raiseerror) {
    std::string src;
    int bad = -1;
    const char* name = sourcename ? sourcename : "unnamedbuffer";
    for (;;) {
        SQInteger c = read(p);
        if (c == 0)
            break;
        if (c < 0 || c > 255) {
            bad = static_cast<int>(src.size());
            break;
        }
        if (src.size() >= kMaxSourceLength) {
            v->RaiseError("source too long");
            if (raiseerror && v->_ss->_compilererrorhandler)
                v->_ss->_compilererrorhandler(v, "source too long", name, 0, 0);
            return SQ_ERROR;
        }
        src.push_back(static_cast<char>(c));
    }
    SQObjectPtr proto;
    SQCompileError err;
    if (!CompileToProto(v, src, bad, name, proto, err)) {
        v->_lasterror = v->_ss->Str(err.message);
        if (raiseerror && v->_ss->_compilererrorhandler)
            v->_ss->_compilererrorhandler(v, err.message.c_str(), name, err.line, err.col);
        return SQ_ERROR;
    }
    CSqWeakRef* root = v->_roottable._type == OT_TABLE ? AsTable(v->_roottable)->GetWeakRef(OT_TABLE) : nullptr;
    CSqClosure* cl = CSqClosure::Create(v->_ss, proto._unVal.pFunctionProto, root);
    v->Push(SQObjectPtr(cl));
    return SQ_OK;
}

namespace {
struct SQBufferReader {
    const SQChar* s;
    SQInteger size;
    SQInteger pos;
};
SQInteger BufferRead(SQUserPointer p) {
    auto* r = static_cast<SQBufferReader*>(p);
    if (r->pos >= r->size)
        return 0;
    return static_cast<unsigned char>(r->s[r->pos++]);
}
} // namespace

SQRESULT sq_compilebuffer(HSQUIRRELVM v, const SQChar* s, SQInteger size, const SQChar* sourcename,
                          SQBool raiseerror) {
    SQBufferReader r{s, size < 0 ? 0 : size, 0};
    return sq_compile(v, BufferRead, &r, sourcename, raiseerror);
}

void sq_enabledebuginfo(HSQUIRRELVM v, SQBool enable) { v->_ss->_debuginfo = enable != 0; }
void sq_notifyallexceptions(HSQUIRRELVM v, SQBool enable) { v->_ss->_notifyallexceptions = enable != 0; }
void sq_setcompilererrorhandler(HSQUIRRELVM v, SQCOMPILERERROR f) { v->_ss->_compilererrorhandler = f; }

// ---------------------------------------------------------------- stack

void sq_push(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    v->Push(o);
}
void sq_pop(HSQUIRRELVM v, SQInteger nelemstopop) { v->Pop(nelemstopop); }
void sq_poptop(HSQUIRRELVM v) { v->Pop(); }
void sq_remove(HSQUIRRELVM v, SQInteger idx) { v->Remove(idx); }
SQInteger sq_gettop(HSQUIRRELVM v) { return v->_top - v->_stackbase; }

void sq_settop(HSQUIRRELVM v, SQInteger newtop) {
    if (newtop < 0)
        newtop = 0;
    SQInteger abs = v->_stackbase + newtop;
    if (abs > v->_top) {
        if (!v->EnsureStack(abs))
            return;
        while (v->_top < abs)
            v->_stack[static_cast<size_t>(v->_top++)].Null();
    } else {
        v->Pop(v->_top - abs);
    }
}

SQRESULT sq_reservestack(HSQUIRRELVM v, SQInteger nsize) {
    if (!v->EnsureStack(v->_top + nsize))
        return Fail(v, "stack overflow");
    return SQ_OK;
}

SQInteger sq_cmp(HSQUIRRELVM v) {
    int r = 0;
    if (!v->Compare(v->StackGet(-2), v->StackGet(-1), r))
        return 0;
    return r == 2 ? 1 : r;
}

void sq_move(HSQUIRRELVM dest, HSQUIRRELVM src, SQInteger idx) {
    SQObjectPtr o = src->StackGet(idx);
    dest->Push(o);
}

// ---------------------------------------------------------------- values

SQUserPointer sq_newuserdata(HSQUIRRELVM v, SQUnsignedInteger size) {
    CSqUserData* ud = CSqUserData::Create(v->_ss, static_cast<SQInteger>(size));
    v->Push(SQObjectPtr(ud));
    return ud->Data();
}

void sq_newtable(HSQUIRRELVM v) { v->Push(SQObjectPtr(CSqTable::Create(v->_ss, 0))); }
void sq_newtableex(HSQUIRRELVM v, SQInteger initialcapacity) {
    v->Push(SQObjectPtr(CSqTable::Create(v->_ss, initialcapacity)));
}

void sq_newarray(HSQUIRRELVM v, SQInteger size) {
    if (size < 0)
        size = 0;
    if (size > kMaxArrayApiSize)
        size = kMaxArrayApiSize;
    v->Push(SQObjectPtr(CSqArray::Create(v->_ss, size)));
}

void sq_newclosure(HSQUIRRELVM v, SQFUNCTION func, SQUnsignedInteger nfreevars) {
    SQInteger n = static_cast<SQInteger>(nfreevars);
    if (n > sq_gettop(v))
        n = sq_gettop(v);
    CSqNativeClosure* nc = CSqNativeClosure::Create(v->_ss, func, n);
    SQObjectPtr obj(nc);
    for (SQInteger i = 0; i < n; ++i)
        nc->_outervalues[static_cast<size_t>(i)] = v->StackGet(-n + i);
    v->Pop(n);
    v->Push(obj);
}

SQRESULT sq_setparamscheck(HSQUIRRELVM v, SQInteger nparamscheck, const SQChar* typemask) {
    SQObjectPtr& o = v->StackGet(-1);
    if (o._type != OT_NATIVECLOSURE)
        return Fail(v, "native closure expected");
    CSqNativeClosure* nc = AsNative(o);
    std::vector<SQUnsignedInteger32> checks;
    if (typemask) {
        SQUnsignedInteger32 mask = 0;
        for (const char* p = typemask;; ++p) {
            char c = *p;
            if (c == 0 || c == '|') {
                if (c == '|' && (p[1] == 0 || p[1] == '|'))
                    return Fail(v, "invalid typemask");
                if (c == 0) {
                    if (mask)
                        checks.push_back(mask);
                    break;
                }
                continue;
            }
            SQUnsignedInteger32 bit;
            switch (c) {
            case 'o': bit = _RT_NULL; break;
            case 'i': bit = _RT_INTEGER; break;
            case 'f': bit = _RT_FLOAT; break;
            case 'n': bit = _RT_INTEGER | _RT_FLOAT; break;
            case 's': bit = _RT_STRING; break;
            case 't': bit = _RT_TABLE; break;
            case 'a': bit = _RT_ARRAY; break;
            case 'u': bit = _RT_USERDATA; break;
            case 'c': bit = _RT_CLOSURE | _RT_NATIVECLOSURE; break;
            case 'b': bit = _RT_BOOL; break;
            case 'g': bit = _RT_GENERATOR; break;
            case 'p': bit = _RT_USERPOINTER; break;
            case 'v': bit = _RT_THREAD; break;
            case 'x': bit = _RT_INSTANCE; break;
            case 'y': bit = _RT_CLASS; break;
            case 'r': bit = _RT_WEAKREF; break;
            case '.': bit = 0xFFFFFFFFu; break;
            case ' ': continue;
            default: return Fail(v, "invalid typemask");
            }
            mask |= bit;
            if (p[1] != '|') {
                checks.push_back(mask);
                mask = 0;
            }
        }
    }
    if (nparamscheck == SQ_MATCHTYPEMASKSTRING)
        nparamscheck = static_cast<SQInteger>(checks.size());
    nc->_typecheck = std::move(checks);
    nc->_nparamscheck = nparamscheck;
    return SQ_OK;
}

SQRESULT sq_bindenv(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    SQObjectPtr env = v->StackGet(-1);
    if (!IsCallable(o))
        return Fail(v, "the target is not a closure");
    if (!IsRefCounted(env._type) || env._type == OT_STRING)
        return Fail(v, "invalid environment");
    SQObjectPtr weak = MakeWeakRefObj(env);
    SQObjectPtr result;
    if (o._type == OT_CLOSURE) {
        CSqClosure* c = AsClosure(o)->Clone();
        result = SQObjectPtr(c);
        c->_env = weak;
    } else {
        CSqNativeClosure* c = AsNative(o)->Clone();
        result = SQObjectPtr(c);
        c->_env = weak;
    }
    v->Pop();
    v->Push(result);
    return SQ_OK;
}

SQRESULT sq_setclosureroot(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    SQObjectPtr root = v->StackGet(-1);
    if (o._type != OT_CLOSURE || root._type != OT_TABLE)
        return Fail(v, "invalid type");
    AsClosure(o)->_root = MakeWeakRefObj(root);
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_getclosureroot(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    if (o._type != OT_CLOSURE)
        return Fail(v, "invalid type");
    const SQObjectPtr& r = AsClosure(o)->_root;
    if (r._type == OT_WEAKREF)
        v->Push(r._unVal.pWeakRef->_obj);
    else
        v->Push(v->_roottable);
    return SQ_OK;
}

void sq_pushstring(HSQUIRRELVM v, const SQChar* s, SQInteger len) {
    if (!s) {
        v->Push(SQObjectPtr());
        return;
    }
    if (len < 0)
        len = static_cast<SQInteger>(std::strlen(s));
    v->Push(SQObjectPtr(CSqString::Create(v->_ss, s, len)));
}
void sq_pushfloat(HSQUIRRELVM v, SQFloat f) { v->Push(SQObjectPtr::Float(f)); }
void sq_pushinteger(HSQUIRRELVM v, SQInteger n) { v->Push(SQObjectPtr::Integer(n)); }
void sq_pushbool(HSQUIRRELVM v, SQBool b) { v->Push(SQObjectPtr::Bool(b != 0)); }
void sq_pushuserpointer(HSQUIRRELVM v, SQUserPointer p) { v->Push(SQObjectPtr::UserPointer(p)); }
void sq_pushnull(HSQUIRRELVM v) { v->Push(SQObjectPtr()); }
void sq_pushthread(HSQUIRRELVM v, HSQUIRRELVM thread) { v->Push(SQObjectPtr(thread)); }

SQObjectType sq_gettype(HSQUIRRELVM v, SQInteger idx) { return v->StackGet(idx)._type; }

SQRESULT sq_typeof(HSQUIRRELVM v, SQInteger idx) { return PushOperation(v, idx, &CSqVM::TypeOf); }

SQInteger sq_getsize(HSQUIRRELVM v, SQInteger idx) {
    const SQObjectPtr& o = v->StackGet(idx);
    switch (o._type) {
    case OT_STRING: return AsString(o)->_len;
    case OT_TABLE: return AsTable(o)->Count();
    case OT_ARRAY: return AsArray(o)->Size();
    case OT_USERDATA: return o._unVal.pUserData->_size;
    case OT_INSTANCE: return AsInstance(o)->_udsize;
    case OT_CLASS: return AsClass(o)->_udsize;
    default: return Fail(v, "type not supported");
    }
}

SQHash sq_gethash(HSQUIRRELVM v, SQInteger idx) { return HashKey(v->StackGet(idx)); }

SQRESULT sq_getbase(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    v->Push(c->_base);
    return SQ_OK;
}

SQBool sq_instanceof(HSQUIRRELVM v) {
    bool r = false;
    if (!v->InstanceOf(v->StackGet(-2), v->StackGet(-1), r))
        return SQFalse;
    return r ? SQTrue : SQFalse;
}

SQRESULT sq_tostring(HSQUIRRELVM v, SQInteger idx) { return PushOperation(v, idx, &CSqVM::ToString); }

void sq_tobool(HSQUIRRELVM v, SQInteger idx, SQBool* b) { *b = IsFalse(v->StackGet(idx)) ? SQFalse : SQTrue; }

SQRESULT sq_getstring(HSQUIRRELVM v, SQInteger idx, const SQChar** c) {
    return ReadTyped(v, idx, OT_STRING, c, [](const SQObject& o) { return StrOf(o); });
}

SQRESULT sq_getstringandsize(HSQUIRRELVM v, SQInteger idx, const SQChar** c, SQInteger* size) {
    if (SQ_FAILED(sq_getstring(v, idx, c)))
        return SQ_ERROR;
    *size = AsString(v->StackGet(idx))->_len;
    return SQ_OK;
}

SQRESULT sq_getinteger(HSQUIRRELVM v, SQInteger idx, SQInteger* i) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (IsNumeric(o)) {
        *i = ToInteger(o);
        return SQ_OK;
    }
    if (o._type == OT_BOOL) {
        *i = AsInt(o);
        return SQ_OK;
    }
    return SQ_ERROR;
}

SQRESULT sq_getfloat(HSQUIRRELVM v, SQInteger idx, SQFloat* f) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (!IsNumeric(o))
        return SQ_ERROR;
    *f = ToFloat(o);
    return SQ_OK;
}

SQRESULT sq_getbool(HSQUIRRELVM v, SQInteger idx, SQBool* b) {
    return ReadTyped(v, idx, OT_BOOL, b, [](const SQObject& o) { return AsInt(o) ? SQTrue : SQFalse; });
}

SQRESULT sq_getthread(HSQUIRRELVM v, SQInteger idx, HSQUIRRELVM* thread) {
    return ReadTyped(v, idx, OT_THREAD, thread, [](const SQObject& o) { return AsThread(o); });
}

SQRESULT sq_getuserpointer(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p) {
    return ReadTyped(v, idx, OT_USERPOINTER, p, [](const SQObject& o) { return o._unVal.pUserPointer; });
}

SQRESULT sq_getuserdata(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer* typetag) {
    if (SQ_FAILED(ReadTyped(v, idx, OT_USERDATA, p, [](const SQObject& o) { return o._unVal.pUserData->Data(); })))
        return SQ_ERROR;
    if (typetag)
        *typetag = v->StackGet(idx)._unVal.pUserData->_typetag;
    return SQ_OK;
}

namespace {
// Where user data, a class or an instance (its class) keeps its type tag; null for other values.
SQUserPointer* TypeTagSlot(const SQObject& o) {
    switch (o._type) {
    case OT_USERDATA: return &o._unVal.pUserData->_typetag;
    case OT_CLASS: return &o._unVal.pClass->_typetag;
    case OT_INSTANCE: return &o._unVal.pInstance->Class()->_typetag;
    default: return nullptr;
    }
}

// Where user data, a class or an instance keeps its release hook; null for other values.
SQRELEASEHOOK* ReleaseHookSlot(const SQObject& o) {
    switch (o._type) {
    case OT_USERDATA: return &o._unVal.pUserData->_hook;
    case OT_INSTANCE: return &AsInstance(o)->_hook;
    case OT_CLASS: return &AsClass(o)->_hook;
    default: return nullptr;
    }
}
} // namespace

SQRESULT sq_settypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer typetag) {
    const SQObjectPtr& o = v->StackGet(idx);
    // an instance's tag is its class's, set on the class
    SQUserPointer* slot = o._type == OT_INSTANCE ? nullptr : TypeTagSlot(o);
    if (!slot)
        return Fail(v, "invalid object type");
    *slot = typetag;
    return SQ_OK;
}

SQRESULT sq_getobjtypetag(const HSQOBJECT* o, SQUserPointer* typetag) {
    SQUserPointer* slot = TypeTagSlot(*o);
    if (!slot)
        return SQ_ERROR;
    *typetag = *slot;
    return SQ_OK;
}

SQRESULT sq_gettypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer* typetag) {
    if (SQ_FAILED(sq_getobjtypetag(&v->StackGet(idx), typetag)))
        return Fail(v, "invalid object type");
    return SQ_OK;
}

void sq_setreleasehook(HSQUIRRELVM v, SQInteger idx, SQRELEASEHOOK hook) {
    if (SQRELEASEHOOK* slot = ReleaseHookSlot(v->StackGet(idx)))
        *slot = hook;
}

SQRELEASEHOOK sq_getreleasehook(HSQUIRRELVM v, SQInteger idx) {
    SQRELEASEHOOK* slot = ReleaseHookSlot(v->StackGet(idx));
    return slot ? *slot : nullptr;
}

SQRESULT sq_getclosureinfo(HSQUIRRELVM v, SQInteger idx, SQInteger* nparams, SQInteger* nfreevars) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (o._type == OT_CLOSURE) {
        CSqClosure* c = AsClosure(o);
        *nparams = c->Proto()->_nparams;
        *nfreevars = static_cast<SQInteger>(c->_outervalues.size());
        return SQ_OK;
    }
    if (o._type == OT_NATIVECLOSURE) {
        *nparams = AsNative(o)->_nparamscheck;
        *nfreevars = static_cast<SQInteger>(AsNative(o)->_outervalues.size());
        return SQ_OK;
    }
    return Fail(v, "closure expected");
}

SQRESULT sq_getclosurename(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    if (o._type == OT_CLOSURE)
        v->Push(AsClosure(o)->Proto()->_name);
    else if (o._type == OT_NATIVECLOSURE)
        v->Push(AsNative(o)->_name);
    else
        return Fail(v, "closure expected");
    return SQ_OK;
}

SQRESULT sq_setnativeclosurename(HSQUIRRELVM v, SQInteger idx, const SQChar* name) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (o._type != OT_NATIVECLOSURE)
        return Fail(v, "native closure expected");
    AsNative(o)->_name = v->_ss->Str(name ? name : "");
    return SQ_OK;
}

SQRESULT sq_getfunctioninfo(HSQUIRRELVM v, SQInteger level, SQFunctionInfo* fi) {
    const SQCallInfo* ci = v->FrameAt(level);
    if (!ci || !ci->_closure)
        return SQ_ERROR;
    CSqFunctionProto* p = ci->_closure->Proto();
    fi->funcid = p;
    fi->name = p->_name._type == OT_STRING ? StrOf(p->_name) : "unknown";
    fi->source = p->_sourcename._type == OT_STRING ? StrOf(p->_sourcename) : "unknown";
    fi->line = p->_line;
    return SQ_OK;
}

SQRESULT sq_setinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer p) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (o._type != OT_INSTANCE)
        return Fail(v, "the object is not a class instance");
    AsInstance(o)->_userpointer = p;
    return SQ_OK;
}

SQRESULT sq_getinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer typetag) {
    const SQObjectPtr& o = v->StackGet(idx);
    if (o._type != OT_INSTANCE)
        return Fail(v, "the object is not a class instance");
    CSqInstance* inst = AsInstance(o);
    if (typetag) {
        bool found = false;
        for (CSqClass* c = inst->Class(); c; c = c->Base()) {
            if (c->_typetag == typetag) {
                found = true;
                break;
            }
        }
        if (!found)
            return Fail(v, "invalid type tag");
    }
    *p = inst->_userpointer;
    return SQ_OK;
}

SQRESULT sq_setclassudsize(HSQUIRRELVM v, SQInteger idx, SQInteger udsize) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    if (c->_locked)
        return Fail(v, "the class is locked");
    c->_udsize = udsize < 0 ? 0 : udsize;
    return SQ_OK;
}

SQRESULT sq_newclass(HSQUIRRELVM v, SQBool hasbase) {
    CSqClass* base = nullptr;
    SQObjectPtr baseobj;
    if (hasbase) {
        baseobj = v->Top();
        if (baseobj._type != OT_CLASS)
            return Fail(v, "invalid base type");
        base = AsClass(baseobj);
        v->Pop();
    }
    v->Push(SQObjectPtr(CSqClass::Create(v->_ss, base)));
    return SQ_OK;
}

SQRESULT sq_createinstance(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    v->Push(SQObjectPtr(c->CreateInstance()));
    return SQ_OK;
}

SQRESULT sq_setattributes(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    SQObjectPtr key = v->StackGet(-2);
    SQObjectPtr val = v->StackGet(-1);
    v->Pop(2);
    SQObjectPtr old;
    if (!c->GetAttributes(key, old) || !c->SetAttributes(key, val))
        return Fail(v, "wrong index");
    v->Push(old);
    return SQ_OK;
}

SQRESULT sq_getattributes(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    SQObjectPtr key = v->StackGet(-1);
    v->Pop();
    SQObjectPtr attrs;
    if (!c->GetAttributes(key, attrs))
        return Fail(v, "wrong index");
    v->Push(attrs);
    return SQ_OK;
}

SQRESULT sq_getclass(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    if (o._type != OT_INSTANCE)
        return Fail(v, "the object is not a class instance");
    v->Push(AsInstance(o)->_class);
    return SQ_OK;
}

void sq_weakref(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    v->Push(MakeWeakRefObj(o));
}

SQRESULT sq_getdefaultdelegate(HSQUIRRELVM v, SQObjectType t) {
    const SQObjectPtr* d = v->_ss->DefaultDelegate(t);
    if (!d)
        return Fail(v, "the type doesn't have a default delegate");
    v->Push(*d);
    return SQ_OK;
}

SQRESULT sq_getmemberhandle(HSQUIRRELVM v, SQInteger idx, SQMemberHandle* handle) {
    SQObjectPtr o;
    CSqClass* c = ClassAt(v, idx, o);
    if (!c)
        return SQ_ERROR;
    SQObjectPtr key = v->StackGet(-1);
    v->Pop();
    SQObjectPtr* ref = c->MemberRef(key);
    if (!ref)
        return Fail(v, "wrong index");
    handle->_static = MemberIsField(AsInt(*ref)) ? SQFalse : SQTrue;
    handle->_index = MemberIndex(AsInt(*ref));
    return SQ_OK;
}

namespace {
SQObjectPtr* MemberByHandle(HSQUIRRELVM v, SQInteger idx, const SQMemberHandle* handle) {
    const SQObjectPtr& o = v->StackGet(idx);
    size_t i = static_cast<size_t>(handle->_index);
    if (handle->_index < 0)
        return nullptr;
    if (o._type == OT_INSTANCE) {
        CSqInstance* inst = AsInstance(o);
        if (handle->_static) {
            auto& m = inst->Class()->_methods;
            return i < m.size() ? &m[i].val : nullptr;
        }
        return i < inst->_values.size() ? &inst->_values[i] : nullptr;
    }
    if (o._type == OT_CLASS) {
        CSqClass* c = AsClass(o);
        auto& vec = handle->_static ? c->_methods : c->_defaultvalues;
        return i < vec.size() ? &vec[i].val : nullptr;
    }
    return nullptr;
}
} // namespace

SQRESULT sq_getbyhandle(HSQUIRRELVM v, SQInteger idx, const SQMemberHandle* handle) {
    SQObjectPtr* p = MemberByHandle(v, idx, handle);
    if (!p)
        return Fail(v, "wrong handle");
    SQObjectPtr val = *p;
    v->Push(val);
    return SQ_OK;
}

SQRESULT sq_setbyhandle(HSQUIRRELVM v, SQInteger idx, const SQMemberHandle* handle) {
    SQObjectPtr* p = MemberByHandle(v, idx, handle);
    if (!p)
        return Fail(v, "wrong handle");
    *p = v->StackGet(-1);
    v->Pop();
    return SQ_OK;
}

// ---------------------------------------------------------------- object manipulation

void sq_pushroottable(HSQUIRRELVM v) { v->Push(SQObjectPtr(v->_roottable)); }
void sq_pushregistrytable(HSQUIRRELVM v) { v->Push(SQObjectPtr(v->_ss->_registry)); }
void sq_pushconsttable(HSQUIRRELVM v) { v->Push(SQObjectPtr(v->_ss->_consts)); }

SQRESULT sq_setroottable(HSQUIRRELVM v) {
    SQObjectPtr o = v->Top();
    if (o._type != OT_TABLE && o._type != OT_NULL)
        return Fail(v, "invalid type");
    v->_roottable = o;
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_setconsttable(HSQUIRRELVM v) {
    SQObjectPtr o = v->Top();
    if (o._type != OT_TABLE)
        return Fail(v, "invalid type, expected table");
    v->_ss->_consts = o;
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_newslot(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
    if (sq_gettop(v) < 3)
        return Fail(v, "not enough parameters in the stack");
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-2);
    SQObjectPtr val = v->StackGet(-1);
    v->Pop(2);
    return v->NewSlot(self, key, val, bstatic != 0) ? SQ_OK : SQ_ERROR;
}

SQRESULT sq_deleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-1);
    v->Pop();
    SQObjectPtr res;
    if (!v->DeleteSlot(self, key, res))
        return SQ_ERROR;
    if (pushval)
        v->Push(res);
    return SQ_OK;
}

SQRESULT sq_set(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-2);
    SQObjectPtr val = v->StackGet(-1);
    v->Pop(2);
    return v->Set(self, key, val, 0) ? SQ_OK : SQ_ERROR;
}

namespace {
// Replaces the key on top with what the object at idx holds under it.
SQRESULT GetToTop(HSQUIRRELVM v, SQInteger idx, int flags) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-1);
    v->Pop();
    SQObjectPtr res;
    if (!v->Get(self, key, res, flags))
        return SQ_ERROR;
    v->Push(res);
    return SQ_OK;
}

// Adds the member key, value, attributes (the top three) to the class at idx.
SQRESULT NewMemberFromTop(HSQUIRRELVM v, SQInteger idx, SQBool bstatic, bool raw) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-3);
    SQObjectPtr val = v->StackGet(-2);
    SQObjectPtr attrs = v->StackGet(-1);
    v->Pop(3);
    return v->NewMember(self, key, val, attrs, bstatic != 0, raw) ? SQ_OK : SQ_ERROR;
}
} // namespace

SQRESULT sq_get(HSQUIRRELVM v, SQInteger idx) { return GetToTop(v, idx, 0); }
SQRESULT sq_rawget(HSQUIRRELVM v, SQInteger idx) { return GetToTop(v, idx, GET_RAW); }

SQRESULT sq_rawset(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-2);
    SQObjectPtr val = v->StackGet(-1);
    v->Pop(2);
    switch (self._type) {
    case OT_TABLE:
        if (key._type == OT_NULL)
            return Fail(v, "null cannot be used as index");
        AsTable(self)->NewSlot(key, val);
        return SQ_OK;
    case OT_CLASS:
        if (!AsClass(self)->NewSlot(key, val, false))
            return Fail(v, "trying to modify a class that has already been instantiated");
        return SQ_OK;
    case OT_INSTANCE:
    case OT_ARRAY:
        return v->Set(self, key, val, GET_RAW) ? SQ_OK : SQ_ERROR;
    default:
        return Fail(v, "rawset works only on array/table/class and instance");
    }
}

SQRESULT sq_rawdeleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr key = v->StackGet(-1);
    v->Pop();
    if (self._type != OT_TABLE)
        return Fail(v, "rawdeleteslot works only on tables");
    SQObjectPtr res;
    AsTable(self)->Remove(key, &res);
    if (pushval)
        v->Push(res);
    return SQ_OK;
}

SQRESULT sq_newmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
    return NewMemberFromTop(v, idx, bstatic, false);
}
SQRESULT sq_rawnewmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
    return NewMemberFromTop(v, idx, bstatic, true);
}

SQRESULT sq_arrayappend(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr arr;
    auto* vals = ArrayAt(v, idx, arr);
    if (!vals)
        return SQ_ERROR;
    vals->push_back(v->StackGet(-1));
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_arraypop(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
    SQObjectPtr arr;
    auto* vals = ArrayAt(v, idx, arr);
    if (!vals)
        return SQ_ERROR;
    if (vals->empty())
        return Fail(v, "empty array");
    SQObjectPtr last = std::move(vals->back());
    vals->pop_back();
    if (pushval)
        v->Push(last);
    return SQ_OK;
}

SQRESULT sq_arrayresize(HSQUIRRELVM v, SQInteger idx, SQInteger newsize) {
    SQObjectPtr arr;
    auto* vals = ArrayAt(v, idx, arr);
    if (!vals)
        return SQ_ERROR;
    if (newsize < 0)
        return Fail(v, "negative size");
    if (newsize > kMaxArrayApiSize)
        return Fail(v, "size too big");
    vals->resize(static_cast<size_t>(newsize));
    return SQ_OK;
}

SQRESULT sq_arrayreverse(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr arr;
    auto* vals = ArrayAt(v, idx, arr);
    if (!vals)
        return SQ_ERROR;
    std::reverse(vals->begin(), vals->end());
    return SQ_OK;
}

SQRESULT sq_arrayremove(HSQUIRRELVM v, SQInteger idx, SQInteger itemidx) {
    SQObjectPtr arr;
    auto* found = ArrayAt(v, idx, arr);
    if (!found)
        return SQ_ERROR;
    auto& vals = *found;
    if (itemidx < 0 || itemidx >= static_cast<SQInteger>(vals.size()))
        return Fail(v, "index out of range");
    vals.erase(vals.begin() + itemidx);
    return SQ_OK;
}

SQRESULT sq_arrayinsert(HSQUIRRELVM v, SQInteger idx, SQInteger destpos) {
    SQObjectPtr arr;
    auto* found = ArrayAt(v, idx, arr);
    if (!found)
        return SQ_ERROR;
    auto& vals = *found;
    if (destpos < 0 || destpos > static_cast<SQInteger>(vals.size()))
        return Fail(v, "index out of range");
    vals.insert(vals.begin() + destpos, v->StackGet(-1));
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_setdelegate(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr d = v->StackGet(-1);
    if (d._type != OT_TABLE && d._type != OT_NULL)
        return Fail(v, "only tables can be delegates");
    if (self._type == OT_TABLE) {
        if (!AsTable(self)->SetDelegate(d._type == OT_TABLE ? AsTable(d) : nullptr))
            return Fail(v, "delegate cycle");
    } else if (self._type == OT_USERDATA) {
        self._unVal.pUserData->_delegate = d;
    } else {
        return Fail(v, "wrong type");
    }
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_getdelegate(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr self = v->StackGet(idx);
    if (self._type == OT_TABLE)
        v->Push(AsTable(self)->_delegate);
    else if (self._type == OT_USERDATA)
        v->Push(self._unVal.pUserData->_delegate);
    else
        return Fail(v, "wrong type");
    return SQ_OK;
}

SQRESULT sq_clone(HSQUIRRELVM v, SQInteger idx) { return PushOperation(v, idx, &CSqVM::Clone); }

SQRESULT sq_setfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
    SQObjectPtr self = v->StackGet(idx);
    SQObjectPtr val = v->StackGet(-1);
    if (self._type == OT_CLOSURE) {
        auto& outs = AsClosure(self)->_outervalues;
        if (nval >= outs.size())
            return Fail(v, "invalid free var index");
        *outs[nval]._unVal.pOuter->_valptr = val;
    } else if (self._type == OT_NATIVECLOSURE) {
        auto& outs = AsNative(self)->_outervalues;
        if (nval >= outs.size())
            return Fail(v, "invalid free var index");
        outs[nval] = val;
    } else {
        return Fail(v, "closure expected");
    }
    v->Pop();
    return SQ_OK;
}

SQRESULT sq_next(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr obj = v->StackGet(idx);
    SQObjectPtr iter = v->StackGet(-1);
    SQObjectPtr key, val;
    bool done = false;
    if (obj._type == OT_GENERATOR)
        return Fail(v, "cannot iterate a generator from native code");
    if (!v->IterNext(obj, iter, key, val, done) || done)
        return SQ_ERROR;
    v->StackGet(-1) = iter;
    v->Push(key);
    v->Push(val);
    return SQ_OK;
}

SQRESULT sq_getweakrefval(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    if (o._type != OT_WEAKREF)
        return Fail(v, "the object must be a weakref");
    v->Push(o._unVal.pWeakRef->_obj);
    return SQ_OK;
}

SQRESULT sq_clear(HSQUIRRELVM v, SQInteger idx) {
    SQObjectPtr o = v->StackGet(idx);
    if (o._type == OT_TABLE)
        AsTable(o)->Clear();
    else if (o._type == OT_ARRAY)
        AsArray(o)->_values.clear();
    else
        return Fail(v, "clear only works on table and array");
    return SQ_OK;
}

// ---------------------------------------------------------------- calls

SQRESULT sq_call(HSQUIRRELVM v, SQInteger params, SQBool retval, SQBool raiseerror) {
    SQInteger base = v->_top - params;
    if (params < 1 || base - 1 < v->_stackbase)
        return Fail(v, "not enough parameters on the stack");
    SQObjectPtr fn = v->_stack[static_cast<size_t>(base - 1)];
    SQObjectPtr res;
    bool ok = v->Call(fn, params, base, res, raiseerror != 0);
    while (v->_top > base)
        v->_stack[static_cast<size_t>(--v->_top)].Null();
    if (!ok)
        return SQ_ERROR;
    if (retval)
        v->Push(res);
    return SQ_OK;
}

SQRESULT sq_resume(HSQUIRRELVM v, SQBool retval, SQBool raiseerror) {
    SQObjectPtr g = v->Top();
    if (g._type != OT_GENERATOR)
        return Fail(v, "only generators can be resumed");
    SQObjectPtr res;
    if (!v->Resume(g._unVal.pGenerator, res)) {
        if (raiseerror && !v->_errorReported) {
            SQObjectPtr err = v->_lasterror;
            v->CallErrorHandler(err);
        }
        return SQ_ERROR;
    }
    if (retval)
        v->Push(res);
    return SQ_OK;
}

const SQChar* sq_getlocal(HSQUIRRELVM v, SQUnsignedInteger level, SQUnsignedInteger idx) {
    if (level >= v->_callstack.size())
        return nullptr;
    const SQCallInfo* ci = v->FrameAt(static_cast<SQInteger>(level));
    if (!ci->_closure)
        return nullptr;
    CSqFunctionProto* p = ci->_closure->Proto();
    size_t pc = ci->Pc();
    SQUnsignedInteger n = 0;
    for (auto& lv : p->_localvarinfos) {
        if (lv.startpc <= pc && pc < lv.endpc) {
            if (n++ == idx) {
                SQObjectPtr val = v->_stack[static_cast<size_t>(ci->_base + lv.reg)];
                v->Push(val);
                return StrOf(lv.name);
            }
        }
    }
    return nullptr;
}

SQRESULT sq_getcallee(HSQUIRRELVM v) {
    if (v->_callstack.empty())
        return Fail(v, "no closure in the calls stack");
    const SQCallInfo& ci = v->_callstack.back();
    if (ci._closure)
        v->Push(SQObjectPtr(ci._closure));
    else
        v->Push(SQObjectPtr(ci._native));
    return SQ_OK;
}

const SQChar* sq_getfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
    SQObjectPtr self = v->StackGet(idx);
    if (self._type == OT_CLOSURE) {
        CSqClosure* c = AsClosure(self);
        CSqFunctionProto* p = c->Proto();
        if (nval >= c->_outervalues.size())
            return nullptr;
        v->Push(*c->_outervalues[nval]._unVal.pOuter->_valptr);
        return StrOf(p->_outervalues[nval].name);
    }
    if (self._type == OT_NATIVECLOSURE) {
        auto& outs = AsNative(self)->_outervalues;
        if (nval >= outs.size())
            return nullptr;
        v->Push(outs[nval]);
        return "";
    }
    return nullptr;
}

SQRESULT sq_throwerror(HSQUIRRELVM v, const SQChar* err) {
    v->_lasterror = v->_ss->Str(err ? err : "");
    v->_errorReported = false;
    return SQ_ERROR;
}

SQRESULT sq_throwobject(HSQUIRRELVM v) {
    v->_lasterror = v->Top();
    v->_errorReported = false;
    v->Pop();
    return SQ_ERROR;
}

void sq_reseterror(HSQUIRRELVM v) { v->_lasterror.Null(); }
void sq_getlasterror(HSQUIRRELVM v) { v->Push(SQObjectPtr(v->_lasterror)); }

SQRESULT sq_tailcall(HSQUIRRELVM v, SQInteger nparams) {
    if (SQ_FAILED(sq_call(v, nparams, SQTrue, SQFalse)))
        return SQ_ERROR;
    return 1;
}

// ---------------------------------------------------------------- raw objects

SQRESULT sq_getstackobj(HSQUIRRELVM v, SQInteger idx, HSQOBJECT* po) {
    if (!v->ValidIndex(idx))
        return Fail(v, "invalid stack index");
    *po = v->StackGet(idx);
    return SQ_OK;
}

void sq_pushobject(HSQUIRRELVM v, HSQOBJECT obj) { v->Push(SQObjectPtr(obj)); }

void sq_addref(HSQUIRRELVM v, HSQOBJECT* po) { v->_ss->AddRef(*po); }

SQBool sq_release(HSQUIRRELVM v, HSQOBJECT* po) { return v->_ss->Release(*po) ? SQTrue : SQFalse; }

SQUnsignedInteger sq_getrefcount(HSQUIRRELVM v, HSQOBJECT* po) { return v->_ss->RefCountOf(*po); }

SQUnsignedInteger sq_getvmrefcount(HSQUIRRELVM, const HSQOBJECT* po) {
    return IsRefCounted(po->_type) ? po->_unVal.pRefCounted->_uiRef : 0;
}

void sq_resetobject(HSQOBJECT* po) {
    po->_type = OT_NULL;
    po->_unVal.raw = 0;
}

const SQChar* sq_objtostring(const HSQOBJECT* o) { return o->_type == OT_STRING ? StrOf(*o) : nullptr; }
SQBool sq_objtobool(const HSQOBJECT* o) { return IsFalse(*o) ? SQFalse : SQTrue; }
SQInteger sq_objtointeger(const HSQOBJECT* o) { return IsNumeric(*o) ? ToInteger(*o) : 0; }
SQFloat sq_objtofloat(const HSQOBJECT* o) { return IsNumeric(*o) ? ToFloat(*o) : 0; }
SQUserPointer sq_objtouserpointer(const HSQOBJECT* o) {
    return o->_type == OT_USERPOINTER ? o->_unVal.pUserPointer : nullptr;
}

// ---------------------------------------------------------------- garbage collection and debugging

SQInteger sq_collectgarbage(HSQUIRRELVM v) { return v->_ss->CollectGarbage(v); }

SQRESULT sq_resurrectunreachable(HSQUIRRELVM v) {
    v->Push(v->_ss->ResurrectUnreachable(v));
    return SQ_OK;
}

SQRESULT sq_stackinfos(HSQUIRRELVM v, SQInteger level, SQStackInfos* si) {
    return v->StackInfos(level, *si) ? SQ_OK : SQ_ERROR;
}

void sq_setdebughook(HSQUIRRELVM v) {
    SQObjectPtr o = v->Top();
    if (IsCallable(o) || o._type == OT_NULL)
        v->_debughook = o;
    v->Pop();
}

void sq_setnativedebughook(HSQUIRRELVM v, SQDEBUGHOOK hook) { v->_nativedebughook = hook; }
