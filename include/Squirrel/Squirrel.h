#pragma once
// Embedding interface of our Squirrel 3 interpreter.
//
// One shared state owns a main machine and any number of threads (machines with their own value stack and
// root table). Natives and the host talk to a machine through its value stack: positive indices count from the
// bottom of the current call's window (1 is `this` inside a native), negative ones from the top.
// Build widths: 64-bit integers, 32-bit floats, 8-bit characters.

#include <cstddef>
#include <cstdint>

namespace Squirrel {
class CSqVM;
class CSqRefCounted;
class CSqTable;
class CSqArray;
class CSqClosure;
class CSqOuter;
class CSqGenerator;
class CSqNativeClosure;
class CSqString;
class CSqUserData;
class CSqFunctionProto;
class CSqClass;
class CSqInstance;
class CSqWeakRef;
} // namespace Squirrel

using SQInteger = int64_t;
using SQUnsignedInteger = uint64_t;
using SQInt32 = int32_t;
using SQUnsignedInteger32 = uint32_t;
using SQFloat = float;
using SQChar = char;
using SQBool = SQUnsignedInteger;
using SQRESULT = SQInteger;
using SQUserPointer = void*;
using SQHash = SQUnsignedInteger;
using SQRawObjectVal = uint64_t;

#define _SC(a) a

constexpr SQBool SQTrue = 1;
constexpr SQBool SQFalse = 0;
constexpr SQRESULT SQ_OK = 0;
constexpr SQRESULT SQ_ERROR = -1;
// Returned by a native (through sq_suspendvm) to suspend the running thread.
constexpr SQRESULT SQ_SUSPEND_FLAG = -666;
// sq_setparamscheck: take the parameter count from the type mask.
constexpr SQInteger SQ_MATCHTYPEMASKSTRING = -99999;

inline constexpr bool SQ_FAILED(SQRESULT res) { return res < 0; }
inline constexpr bool SQ_SUCCEEDED(SQRESULT res) { return res >= 0; }

constexpr SQInteger SQ_VMSTATE_IDLE = 0;
constexpr SQInteger SQ_VMSTATE_RUNNING = 1;
constexpr SQInteger SQ_VMSTATE_SUSPENDED = 2;

// Raw type bits; a type mask is an OR of these.
constexpr SQUnsignedInteger32 _RT_NULL = 0x00000001;
constexpr SQUnsignedInteger32 _RT_INTEGER = 0x00000002;
constexpr SQUnsignedInteger32 _RT_FLOAT = 0x00000004;
constexpr SQUnsignedInteger32 _RT_BOOL = 0x00000008;
constexpr SQUnsignedInteger32 _RT_STRING = 0x00000010;
constexpr SQUnsignedInteger32 _RT_TABLE = 0x00000020;
constexpr SQUnsignedInteger32 _RT_ARRAY = 0x00000040;
constexpr SQUnsignedInteger32 _RT_USERDATA = 0x00000080;
constexpr SQUnsignedInteger32 _RT_CLOSURE = 0x00000100;
constexpr SQUnsignedInteger32 _RT_NATIVECLOSURE = 0x00000200;
constexpr SQUnsignedInteger32 _RT_GENERATOR = 0x00000400;
constexpr SQUnsignedInteger32 _RT_USERPOINTER = 0x00000800;
constexpr SQUnsignedInteger32 _RT_THREAD = 0x00001000;
constexpr SQUnsignedInteger32 _RT_FUNCPROTO = 0x00002000;
constexpr SQUnsignedInteger32 _RT_CLASS = 0x00004000;
constexpr SQUnsignedInteger32 _RT_INSTANCE = 0x00008000;
constexpr SQUnsignedInteger32 _RT_WEAKREF = 0x00010000;
constexpr SQUnsignedInteger32 _RT_OUTER = 0x00020000;

constexpr SQUnsignedInteger32 SQOBJECT_REF_COUNTED = 0x08000000;
constexpr SQUnsignedInteger32 SQOBJECT_NUMERIC = 0x04000000;
constexpr SQUnsignedInteger32 SQOBJECT_DELEGABLE = 0x02000000;
constexpr SQUnsignedInteger32 SQOBJECT_CANBEFALSE = 0x01000000;

enum SQObjectType : SQUnsignedInteger32 {
    OT_NULL = _RT_NULL | SQOBJECT_CANBEFALSE,
    OT_INTEGER = _RT_INTEGER | SQOBJECT_NUMERIC | SQOBJECT_CANBEFALSE,
    OT_FLOAT = _RT_FLOAT | SQOBJECT_NUMERIC | SQOBJECT_CANBEFALSE,
    OT_BOOL = _RT_BOOL | SQOBJECT_CANBEFALSE,
    OT_STRING = _RT_STRING | SQOBJECT_REF_COUNTED,
    OT_TABLE = _RT_TABLE | SQOBJECT_REF_COUNTED | SQOBJECT_DELEGABLE,
    OT_ARRAY = _RT_ARRAY | SQOBJECT_REF_COUNTED,
    OT_USERDATA = _RT_USERDATA | SQOBJECT_REF_COUNTED | SQOBJECT_DELEGABLE,
    OT_CLOSURE = _RT_CLOSURE | SQOBJECT_REF_COUNTED,
    OT_NATIVECLOSURE = _RT_NATIVECLOSURE | SQOBJECT_REF_COUNTED,
    OT_GENERATOR = _RT_GENERATOR | SQOBJECT_REF_COUNTED,
    OT_USERPOINTER = _RT_USERPOINTER,
    OT_THREAD = _RT_THREAD | SQOBJECT_REF_COUNTED,
    OT_FUNCPROTO = _RT_FUNCPROTO | SQOBJECT_REF_COUNTED,
    OT_CLASS = _RT_CLASS | SQOBJECT_REF_COUNTED,
    OT_INSTANCE = _RT_INSTANCE | SQOBJECT_REF_COUNTED | SQOBJECT_DELEGABLE,
    OT_WEAKREF = _RT_WEAKREF | SQOBJECT_REF_COUNTED,
    OT_OUTER = _RT_OUTER | SQOBJECT_REF_COUNTED,
};

inline constexpr SQUnsignedInteger32 sq_rawtype(SQObjectType t) { return t & 0x00FFFFFF; }

union SQObjectValue {
    Squirrel::CSqTable* pTable;
    Squirrel::CSqArray* pArray;
    Squirrel::CSqClosure* pClosure;
    Squirrel::CSqOuter* pOuter;
    Squirrel::CSqGenerator* pGenerator;
    Squirrel::CSqNativeClosure* pNativeClosure;
    Squirrel::CSqString* pString;
    Squirrel::CSqUserData* pUserData;
    SQInteger nInteger;
    SQFloat fFloat;
    SQUserPointer pUserPointer;
    Squirrel::CSqFunctionProto* pFunctionProto;
    Squirrel::CSqRefCounted* pRefCounted;
    Squirrel::CSqVM* pThread;
    Squirrel::CSqClass* pClass;
    Squirrel::CSqInstance* pInstance;
    Squirrel::CSqWeakRef* pWeakRef;
    SQRawObjectVal raw;
};

// A value as the host sees it. A handle taken with sq_getstackobj is not counted; sq_addref makes it a hold.
struct SQObject {
    SQObjectType _type;
    SQObjectValue _unVal;
};
using HSQOBJECT = SQObject;
using HSQUIRRELVM = Squirrel::CSqVM*;

struct SQMemberHandle {
    SQBool _static;
    SQInteger _index;
};

// One call level as sq_stackinfos reports it; the texts live as long as the function.
struct SQStackInfos {
    const SQChar* funcname;
    const SQChar* source;
    SQInteger line;
    SQInteger column;
};

struct SQFunctionInfo {
    SQUserPointer funcid;
    const SQChar* name;
    const SQChar* source;
    SQInteger line;
};

using SQFUNCTION = SQInteger (*)(HSQUIRRELVM);
using SQRELEASEHOOK = SQInteger (*)(SQUserPointer, SQInteger size);
using SQCOMPILERERROR = void (*)(HSQUIRRELVM, const SQChar* desc, const SQChar* source, SQInteger line,
                                 SQInteger column);
using SQPRINTFUNCTION = void (*)(HSQUIRRELVM, const SQChar*, ...);
using SQDEBUGHOOK = void (*)(HSQUIRRELVM, SQInteger type, const SQChar* sourcename, SQInteger line,
                             const SQChar* funcname);
// Source reader for sq_compile: one character (1..255) per call, 0 at the end; anything else is refused.
using SQLEXREADFUNC = SQInteger (*)(SQUserPointer);

// ---- machines ----
HSQUIRRELVM sq_open(SQInteger initialstacksize);
// Creates a thread of friendvm's shared state, pushes it on friendvm and returns it. The thread starts with
// friendvm's root table, error handler and foreign pointer.
HSQUIRRELVM sq_newthread(HSQUIRRELVM friendvm, SQInteger initialstacksize);
void sq_seterrorhandler(HSQUIRRELVM v); // pops the handler (a closure or null)
void sq_close(HSQUIRRELVM v);           // closes the whole shared state; v must be the main machine
void sq_setforeignptr(HSQUIRRELVM v, SQUserPointer p);
SQUserPointer sq_getforeignptr(HSQUIRRELVM v);
void sq_setsharedforeignptr(HSQUIRRELVM v, SQUserPointer p);
SQUserPointer sq_getsharedforeignptr(HSQUIRRELVM v);
void sq_setprintfunc(HSQUIRRELVM v, SQPRINTFUNCTION printfunc, SQPRINTFUNCTION errfunc);
SQPRINTFUNCTION sq_getprintfunc(HSQUIRRELVM v);
SQPRINTFUNCTION sq_geterrorfunc(HSQUIRRELVM v);
SQRESULT sq_suspendvm(HSQUIRRELVM v);
SQRESULT sq_wakeupvm(HSQUIRRELVM v, SQBool resumedret, SQBool retval, SQBool raiseerror, SQBool throwerror);
SQInteger sq_getvmstate(HSQUIRRELVM v);
SQInteger sq_getversion();
// Upper bound of nested script calls per machine; deeper recursion raises "stack overflow".
void sq_setmaxcalldepth(HSQUIRRELVM v, SQInteger depth);

// ---- compiler ----
SQRESULT sq_compile(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer p, const SQChar* sourcename,
                    SQBool raiseerror);
SQRESULT sq_compilebuffer(HSQUIRRELVM v, const SQChar* s, SQInteger size, const SQChar* sourcename,
                          SQBool raiseerror);
void sq_enabledebuginfo(HSQUIRRELVM v, SQBool enable);
void sq_notifyallexceptions(HSQUIRRELVM v, SQBool enable);
void sq_setcompilererrorhandler(HSQUIRRELVM v, SQCOMPILERERROR f);

// ---- stack ----
void sq_push(HSQUIRRELVM v, SQInteger idx);
void sq_pop(HSQUIRRELVM v, SQInteger nelemstopop);
void sq_poptop(HSQUIRRELVM v);
void sq_remove(HSQUIRRELVM v, SQInteger idx);
SQInteger sq_gettop(HSQUIRRELVM v);
void sq_settop(HSQUIRRELVM v, SQInteger newtop);
SQRESULT sq_reservestack(HSQUIRRELVM v, SQInteger nsize);
SQInteger sq_cmp(HSQUIRRELVM v);
void sq_move(HSQUIRRELVM dest, HSQUIRRELVM src, SQInteger idx);

// ---- values ----
SQUserPointer sq_newuserdata(HSQUIRRELVM v, SQUnsignedInteger size);
void sq_newtable(HSQUIRRELVM v);
void sq_newtableex(HSQUIRRELVM v, SQInteger initialcapacity);
void sq_newarray(HSQUIRRELVM v, SQInteger size);
void sq_newclosure(HSQUIRRELVM v, SQFUNCTION func, SQUnsignedInteger nfreevars);
SQRESULT sq_setparamscheck(HSQUIRRELVM v, SQInteger nparamscheck, const SQChar* typemask);
SQRESULT sq_bindenv(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_setclosureroot(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getclosureroot(HSQUIRRELVM v, SQInteger idx);
void sq_pushstring(HSQUIRRELVM v, const SQChar* s, SQInteger len);
void sq_pushfloat(HSQUIRRELVM v, SQFloat f);
void sq_pushinteger(HSQUIRRELVM v, SQInteger n);
void sq_pushbool(HSQUIRRELVM v, SQBool b);
void sq_pushuserpointer(HSQUIRRELVM v, SQUserPointer p);
void sq_pushnull(HSQUIRRELVM v);
void sq_pushthread(HSQUIRRELVM v, HSQUIRRELVM thread);
SQObjectType sq_gettype(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_typeof(HSQUIRRELVM v, SQInteger idx);
SQInteger sq_getsize(HSQUIRRELVM v, SQInteger idx);
SQHash sq_gethash(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getbase(HSQUIRRELVM v, SQInteger idx);
SQBool sq_instanceof(HSQUIRRELVM v);
SQRESULT sq_tostring(HSQUIRRELVM v, SQInteger idx);
void sq_tobool(HSQUIRRELVM v, SQInteger idx, SQBool* b);
SQRESULT sq_getstring(HSQUIRRELVM v, SQInteger idx, const SQChar** c);
SQRESULT sq_getstringandsize(HSQUIRRELVM v, SQInteger idx, const SQChar** c, SQInteger* size);
SQRESULT sq_getinteger(HSQUIRRELVM v, SQInteger idx, SQInteger* i);
SQRESULT sq_getfloat(HSQUIRRELVM v, SQInteger idx, SQFloat* f);
SQRESULT sq_getbool(HSQUIRRELVM v, SQInteger idx, SQBool* b);
SQRESULT sq_getthread(HSQUIRRELVM v, SQInteger idx, HSQUIRRELVM* thread);
SQRESULT sq_getuserpointer(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p);
SQRESULT sq_getuserdata(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer* typetag);
SQRESULT sq_settypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer typetag);
SQRESULT sq_gettypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer* typetag);
// The hook runs exactly once, when the instance, user data (or, for a class, each later instance) is freed;
// it may release handles but must not run scripts.
void sq_setreleasehook(HSQUIRRELVM v, SQInteger idx, SQRELEASEHOOK hook);
SQRELEASEHOOK sq_getreleasehook(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getclosureinfo(HSQUIRRELVM v, SQInteger idx, SQInteger* nparams, SQInteger* nfreevars);
SQRESULT sq_getclosurename(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_setnativeclosurename(HSQUIRRELVM v, SQInteger idx, const SQChar* name);
SQRESULT sq_getfunctioninfo(HSQUIRRELVM v, SQInteger level, SQFunctionInfo* fi);
SQRESULT sq_setinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer p);
// typetag null skips the check; otherwise the instance's class or one of its bases must carry it.
SQRESULT sq_getinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer typetag);
SQRESULT sq_setclassudsize(HSQUIRRELVM v, SQInteger idx, SQInteger udsize);
SQRESULT sq_newclass(HSQUIRRELVM v, SQBool hasbase);
SQRESULT sq_createinstance(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_setattributes(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getattributes(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getclass(HSQUIRRELVM v, SQInteger idx);
void sq_weakref(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getdefaultdelegate(HSQUIRRELVM v, SQObjectType t);
SQRESULT sq_getmemberhandle(HSQUIRRELVM v, SQInteger idx, SQMemberHandle* handle);
SQRESULT sq_getbyhandle(HSQUIRRELVM v, SQInteger idx, const SQMemberHandle* handle);
SQRESULT sq_setbyhandle(HSQUIRRELVM v, SQInteger idx, const SQMemberHandle* handle);

// ---- object manipulation ----
void sq_pushroottable(HSQUIRRELVM v);
void sq_pushregistrytable(HSQUIRRELVM v);
void sq_pushconsttable(HSQUIRRELVM v);
SQRESULT sq_setroottable(HSQUIRRELVM v);
SQRESULT sq_setconsttable(HSQUIRRELVM v);
SQRESULT sq_newslot(HSQUIRRELVM v, SQInteger idx, SQBool bstatic);
SQRESULT sq_deleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval);
SQRESULT sq_set(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_get(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_rawget(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_rawset(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_rawdeleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval);
SQRESULT sq_newmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic);
SQRESULT sq_rawnewmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic);
SQRESULT sq_arrayappend(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_arraypop(HSQUIRRELVM v, SQInteger idx, SQBool pushval);
SQRESULT sq_arrayresize(HSQUIRRELVM v, SQInteger idx, SQInteger newsize);
SQRESULT sq_arrayreverse(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_arrayremove(HSQUIRRELVM v, SQInteger idx, SQInteger itemidx);
SQRESULT sq_arrayinsert(HSQUIRRELVM v, SQInteger idx, SQInteger destpos);
SQRESULT sq_setdelegate(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getdelegate(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_clone(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_setfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval);
SQRESULT sq_next(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_getweakrefval(HSQUIRRELVM v, SQInteger idx);
SQRESULT sq_clear(HSQUIRRELVM v, SQInteger idx);

// ---- calls ----
// The function sits below its nparams parameters (the first is `this`); the parameters are popped, the
// function stays. With retval the result is pushed.
SQRESULT sq_call(HSQUIRRELVM v, SQInteger params, SQBool retval, SQBool raiseerror);
SQRESULT sq_resume(HSQUIRRELVM v, SQBool retval, SQBool raiseerror);
const SQChar* sq_getlocal(HSQUIRRELVM v, SQUnsignedInteger level, SQUnsignedInteger idx);
SQRESULT sq_getcallee(HSQUIRRELVM v);
const SQChar* sq_getfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval);
// A _get or _set metamethod (script or native) that throws null, or fails without an error, makes the
// lookup a plain missing key: the script then sees "the index '...' does not exist".
SQRESULT sq_throwerror(HSQUIRRELVM v, const SQChar* err);
SQRESULT sq_throwobject(HSQUIRRELVM v); // pops the value to throw
void sq_reseterror(HSQUIRRELVM v);
void sq_getlasterror(HSQUIRRELVM v);
SQRESULT sq_tailcall(HSQUIRRELVM v, SQInteger nparams);

// ---- raw object handling ----
SQRESULT sq_getstackobj(HSQUIRRELVM v, SQInteger idx, HSQOBJECT* po);
void sq_pushobject(HSQUIRRELVM v, HSQOBJECT obj);
void sq_addref(HSQUIRRELVM v, HSQOBJECT* po);
SQBool sq_release(HSQUIRRELVM v, HSQOBJECT* po); // true when this was the last hold taken with sq_addref
SQUnsignedInteger sq_getrefcount(HSQUIRRELVM v, HSQOBJECT* po);
void sq_resetobject(HSQOBJECT* po);
const SQChar* sq_objtostring(const HSQOBJECT* o);
SQBool sq_objtobool(const HSQOBJECT* o);
SQInteger sq_objtointeger(const HSQOBJECT* o);
SQFloat sq_objtofloat(const HSQOBJECT* o);
SQUserPointer sq_objtouserpointer(const HSQOBJECT* o);
SQRESULT sq_getobjtypetag(const HSQOBJECT* o, SQUserPointer* typetag);
SQUnsignedInteger sq_getvmrefcount(HSQUIRRELVM v, const HSQOBJECT* po);

// ---- garbage collection ----
// Reclaims unreachable cycles; returns how many objects were freed.
SQInteger sq_collectgarbage(HSQUIRRELVM v);
// Pushes an array of the unreachable objects (kept alive) or null when there are none.
SQRESULT sq_resurrectunreachable(HSQUIRRELVM v);

// ---- debugging ----
// Level 0 is the running function, 1 its caller, and so on; fails past the outermost level.
SQRESULT sq_stackinfos(HSQUIRRELVM v, SQInteger level, SQStackInfos* si);
void sq_setdebughook(HSQUIRRELVM v); // pops a closure (or null)
void sq_setnativedebughook(HSQUIRRELVM v, SQDEBUGHOOK hook);

inline bool sq_isnumeric(const HSQOBJECT& o) { return (o._type & SQOBJECT_NUMERIC) != 0; }
inline bool sq_istable(const HSQOBJECT& o) { return o._type == OT_TABLE; }
inline bool sq_isarray(const HSQOBJECT& o) { return o._type == OT_ARRAY; }
inline bool sq_isfunction(const HSQOBJECT& o) { return o._type == OT_FUNCPROTO; }
inline bool sq_isclosure(const HSQOBJECT& o) { return o._type == OT_CLOSURE; }
inline bool sq_isgenerator(const HSQOBJECT& o) { return o._type == OT_GENERATOR; }
inline bool sq_isnativeclosure(const HSQOBJECT& o) { return o._type == OT_NATIVECLOSURE; }
inline bool sq_isstring(const HSQOBJECT& o) { return o._type == OT_STRING; }
inline bool sq_isinteger(const HSQOBJECT& o) { return o._type == OT_INTEGER; }
inline bool sq_isfloat(const HSQOBJECT& o) { return o._type == OT_FLOAT; }
inline bool sq_isuserpointer(const HSQOBJECT& o) { return o._type == OT_USERPOINTER; }
inline bool sq_isuserdata(const HSQOBJECT& o) { return o._type == OT_USERDATA; }
inline bool sq_isthread(const HSQOBJECT& o) { return o._type == OT_THREAD; }
inline bool sq_isnull(const HSQOBJECT& o) { return o._type == OT_NULL; }
inline bool sq_isclass(const HSQOBJECT& o) { return o._type == OT_CLASS; }
inline bool sq_isinstance(const HSQOBJECT& o) { return o._type == OT_INSTANCE; }
inline bool sq_isbool(const HSQOBJECT& o) { return o._type == OT_BOOL; }
inline bool sq_isweakref(const HSQOBJECT& o) { return o._type == OT_WEAKREF; }
inline SQObjectType sq_type(const HSQOBJECT& o) { return o._type; }
