#include "SqVM.h"

#include <cmath>
#include <new>

namespace Squirrel {

namespace {

constexpr SQInteger kMaxStackSize = SQInteger(1) << 22;
constexpr int32_t kMaxNativeDepth = 100;
constexpr SQInteger kNativeStackReserve = 20;

constexpr eSqOp kOpOrder[] = {
#define SQ_OP_ORDER(name) OP_##name,
    SQ_OPCODES(SQ_OP_ORDER)
#undef SQ_OP_ORDER
};
constexpr bool OpOrderMatches() {
    for (size_t i = 0; i < sizeof(kOpOrder) / sizeof(kOpOrder[0]); ++i)
        if (kOpOrder[i] != static_cast<eSqOp>(i))
            return false;
    return sizeof(kOpOrder) / sizeof(kOpOrder[0]) == OP_COUNT;
}
static_assert(OpOrderMatches(), "SQ_OPCODES must list the opcodes in enum order");

inline SQInteger WrapAdd(SQInteger a, SQInteger b) {
    return static_cast<SQInteger>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline SQInteger WrapSub(SQInteger a, SQInteger b) {
    return static_cast<SQInteger>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline SQInteger WrapMul(SQInteger a, SQInteger b) {
    return static_cast<SQInteger>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// The reads the bytecode loop answers without a call: a table's own slot, an instance's member and, where
// asked, an array element by integer index. Everything else (delegates, metamethods, errors) goes to Get.
template <bool kArrays>
SQ_HOT inline bool ReadFast(const SQObjectPtr& o, const SQObjectPtr& k, SQObjectPtr& dst) {
    if (o._type == OT_TABLE) {
        if (SQObjectPtr* p = AsTable(o)->Find(k)) {
            AssignDeref(dst, *p);
            return true;
        }
    } else if (o._type == OT_INSTANCE) {
        bool field;
        if (SQObjectPtr* p = AsInstance(o)->MemberSlot(k, field)) {
            // a method or static slot is read as it is stored
            if (field)
                AssignDeref(dst, *p);
            else
                dst = *p;
            return true;
        }
    } else if (kArrays && o._type == OT_ARRAY && k._type == OT_INTEGER) {
        CSqArray* arr = AsArray(o);
        SQInteger idx = AsInt(k);
        if (idx >= 0 && idx < arr->Size()) {
            AssignDeref(dst, arr->_values[static_cast<size_t>(idx)]);
            return true;
        }
    }
    return false;
}

struct CNativeDepthGuard {
    explicit CNativeDepthGuard(CSqSharedState* ss) : _ss(ss) { ++_ss->_nativeDepth; }
    ~CNativeDepthGuard() { --_ss->_nativeDepth; }
    CSqSharedState* _ss;
};

} // namespace

CSqVM::CSqVM(CSqSharedState* ss) : CSqCollectable(ss) {}

CSqVM::~CSqVM() {
    // closures that captured locals of this machine keep the values
    CloseOuters(0);
    for (auto& ci : _callstack)
        if (ci._generator)
            ci._generator->Kill();
}

void CSqVM::Init(CSqVM* friendvm, SQInteger stacksize) {
    _stack.resize(static_cast<size_t>(std::max<SQInteger>(stacksize, 16)));
    _callstack.reserve(16);
    if (friendvm) {
        _roottable = friendvm->_roottable;
        _errorhandler = friendvm->_errorhandler;
        _foreignptr = friendvm->_foreignptr;
        _maxCallDepth = friendvm->_maxCallDepth;
    } else {
        _roottable = SQObjectPtr(CSqTable::Create(_ss, 0));
    }
}

void CSqVM::LiveRanges(std::vector<std::pair<SQInteger, SQInteger>>& ranges) const {
    ranges.clear();
    if (_callstack.empty()) {
        ranges.emplace_back(0, _top);
        return;
    }
    ranges.emplace_back(0, _callstack[0]._base);
    // A frame that waits in a call only needs its registers up to the call's last argument: the ones
    // above hold temporaries of finished statements, which must not keep garbage alive.
    for (size_t i = 0; i < _callstack.size(); ++i) {
        const SQCallInfo& ci = _callstack[i];
        ranges.emplace_back(ci._base - 1, ci._base);
        SQInteger end;
        if (i + 1 == _callstack.size()) {
            end = std::max(_top, ci._top);
        } else if (ci._closure) {
            end = ci._top;
            const SQInstruction* code = ci._closure->Proto()->_code.data();
            if (ci._ip > code) {
                const SQInstruction& at = ci._ip[-1];
                if (at.op == OP_CALL || at.op == OP_TAILCALL)
                    end = ci._base + at.a + at.b + 1;
            }
        } else {
            end = _callstack[i + 1]._base;
        }
        ranges.emplace_back(ci._base, end);
    }
}

void CSqVM::ClearDeadSlots() {
    std::vector<std::pair<SQInteger, SQInteger>> ranges;
    LiveRanges(ranges);
    const SQInteger size = static_cast<SQInteger>(_stack.size());
    SQInteger high = _top;
    for (auto& ci : _callstack)
        high = std::max(high, ci._top);
    high = std::min(high, size);
    std::vector<bool> live(static_cast<size_t>(high), false);
    for (auto [from, to] : ranges)
        for (SQInteger i = std::max<SQInteger>(from, 0); i < std::min(to, high); ++i)
            live[static_cast<size_t>(i)] = true;
    for (SQInteger i = 0; i < high; ++i)
        if (!live[static_cast<size_t>(i)])
            _stack[static_cast<size_t>(i)].Null();
}

void CSqVM::Mark(CSqGC& gc) {
    std::vector<std::pair<SQInteger, SQInteger>> ranges;
    LiveRanges(ranges);
    const SQInteger size = static_cast<SQInteger>(_stack.size());
    for (auto [from, to] : ranges)
        for (SQInteger i = std::max<SQInteger>(from, 0); i < std::min(to, size); ++i)
            gc.MarkObject(_stack[static_cast<size_t>(i)]);
    gc.MarkObject(_roottable);
    gc.MarkObject(_lasterror);
    gc.MarkObject(_errorhandler);
    gc.MarkObject(_debughook);
}

void CSqVM::Finalize() {
    // an unreachable machine: its outers lose their link to the stack without keeping values
    while (_openouters) {
        CSqOuter* o = _openouters;
        _openouters = o->_nextOpen;
        o->_nextOpen = nullptr;
        o->_valptr = &o->_value;
        ReleaseObj(o);
    }
    for (auto& ci : _callstack)
        if (ci._generator)
            ci._generator->Kill();
    _callstack.clear();
    _traps.clear();
    for (auto& s : _stack)
        s.Null();
    _top = 0;
    _stackbase = 0;
    _suspended = false;
    _roottable.Null();
    _lasterror.Null();
    _errorhandler.Null();
    _debughook.Null();
}

bool CSqVM::GrowStack(SQInteger size) {
    if (size > kMaxStackSize)
        return false;
    SQInteger newsize = std::min(std::max(size + 16, static_cast<SQInteger>(_stack.size()) * 2), kMaxStackSize);
    _stack.resize(static_cast<size_t>(newsize));
    for (CSqOuter* o = _openouters; o; o = o->_nextOpen)
        o->_valptr = &_stack[static_cast<size_t>(o->_idx)];
    return true;
}

void CSqVM::Remove(SQInteger idx) {
    if (!ValidIndex(idx))
        return;
    SQInteger abs = AbsIndex(idx);
    for (SQInteger i = abs; i + 1 < _top; ++i)
        _stack[static_cast<size_t>(i)] = std::move(_stack[static_cast<size_t>(i + 1)]);
    _stack[static_cast<size_t>(--_top)].Null();
}

CSqOuter* CSqVM::FindOuter(SQInteger stackIndex) {
    CSqOuter** pp = &_openouters;
    while (*pp && (*pp)->_idx > stackIndex)
        pp = &(*pp)->_nextOpen;
    if (*pp && (*pp)->_idx == stackIndex)
        return *pp;
    CSqOuter* o = new CSqOuter(_ss);
    AddRefObj(o); // held by the open list until closed
    o->_idx = stackIndex;
    o->_valptr = &_stack[static_cast<size_t>(stackIndex)];
    o->_nextOpen = *pp;
    *pp = o;
    return o;
}

void CSqVM::CloseOuters(SQInteger fromIndex) {
    while (_openouters && _openouters->_idx >= fromIndex) {
        CSqOuter* o = _openouters;
        _openouters = o->_nextOpen;
        o->_nextOpen = nullptr;
        o->_value = *o->_valptr;
        o->_valptr = &o->_value;
        ReleaseObj(o);
    }
}

SQObjectPtr CSqVM::CurrentRoot() const {
    for (size_t i = _callstack.size(); i-- > 0;) {
        const SQCallInfo& ci = _callstack[i];
        if (ci._closure) {
            const SQObjectPtr& r = ci._closure->_root;
            if (r._type == OT_WEAKREF && r._unVal.pWeakRef->_obj._type == OT_TABLE)
                return SQObjectPtr(r._unVal.pWeakRef->_obj);
            break;
        }
    }
    return _roottable;
}

SQInteger CSqVM::State() const {
    if (_suspended)
        return SQ_VMSTATE_SUSPENDED;
    if (!_callstack.empty() || _execDepth > 0)
        return SQ_VMSTATE_RUNNING;
    return SQ_VMSTATE_IDLE;
}

// ---------------------------------------------------------------- errors

bool CSqVM::RaiseError(const char* fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    _lasterror = _ss->Str(buf);
    _errorReported = false;
    return false;
}

bool CSqVM::RaiseErrorObj(const SQObject& o) {
    _lasterror = o;
    _errorReported = false;
    return false;
}

std::string KeyText(const SQObject& key) {
    char buf[64];
    switch (key._type) {
    case OT_STRING: return std::string(AsString(key)->View().substr(0, 50));
    case OT_INTEGER: snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(AsInt(key))); return buf;
    case OT_FLOAT: snprintf(buf, sizeof(buf), "%g", static_cast<double>(AsFloat(key))); return buf;
    case OT_BOOL: return AsInt(key) ? "true" : "false";
    case OT_NULL: return "null";
    default: snprintf(buf, sizeof(buf), "(%s : %p)", TypeName(key._type), key._unVal.pUserPointer); return buf;
    }
}

bool CSqVM::RaiseIndexError(const SQObject& key) {
    return RaiseError("the index '%s' does not exist", KeyText(key).c_str());
}

void CSqVM::CallErrorHandler(const SQObjectPtr& error) {
    if (_errorhandler._type != OT_CLOSURE && _errorhandler._type != OT_NATIVECLOSURE)
        return;
    SQObjectPtr saved = _lasterror;
    SQObjectPtr handler = _errorhandler;
    SQObjectPtr args[2] = {_roottable, error};
    SQObjectPtr dummy;
    _errorReported = true;
    CallWith(handler, args, 2, dummy, false);
    _lasterror = saved;
    _errorReported = true;
}

void CSqVM::CallDebugHook(SQInteger type, const SQCallInfo& ci, SQInteger line) {
    if (_inDebugHook || !ci._closure)
        return;
    CSqFunctionProto* p = ci._closure->Proto();
    _inDebugHook = true;
    if (_nativedebughook) {
        _nativedebughook(this, type, p->_sourcename._type == OT_STRING ? StrOf(p->_sourcename) : nullptr, line,
                         p->_name._type == OT_STRING ? StrOf(p->_name) : nullptr);
    } else if (_debughook._type == OT_CLOSURE || _debughook._type == OT_NATIVECLOSURE) {
        SQObjectPtr saved = _lasterror;
        SQObjectPtr hook = _debughook;
        SQObjectPtr args[5] = {_roottable, SQObjectPtr::Integer(type), p->_sourcename,
                               SQObjectPtr::Integer(line), p->_name};
        SQObjectPtr dummy;
        CallWith(hook, args, 5, dummy, false);
        _lasterror = saved;
    }
    _inDebugHook = false;
}

// ---------------------------------------------------------------- frames

bool CSqVM::ArgsFit(CSqFunctionProto* p, SQInteger nargs, SQInteger base) {
    SQInteger nparams = p->_nparams;
    if (nargs != nparams && (nargs < nparams - p->_ndefaults || (!p->_varparams && nargs > nparams)))
        return RaiseError("wrong number of parameters");
    if (!EnsureStack(base + std::max<SQInteger>(p->_stacksize, nargs) + 1))
        return RaiseError("stack overflow");
    return true;
}

bool CSqVM::StartCall(CSqClosure* closure, SQInteger nargs, SQInteger base, uint16_t target, bool root, bool ctor) {
    CSqFunctionProto* p = closure->Proto();
    if (static_cast<SQInteger>(_callstack.size()) >= _maxCallDepth)
        return RaiseError("stack overflow");
    if (!ArgsFit(p, nargs, base))
        return false;
    SQInteger nparams = p->_nparams;
    SQInteger ndef = p->_ndefaults;
    if (nargs != nparams || p->_varparams || closure->_env._type != OT_NULL) {
        SQObjectPtr* s = _stack.data() + base;
        for (SQInteger i = nargs; i < nparams; ++i)
            s[i] = closure->_defaultparams[static_cast<size_t>(i - (nparams - ndef))];
        if (p->_varparams) {
            CSqArray* va = CSqArray::Create(_ss, 0);
            SQObjectPtr vaobj(va);
            for (SQInteger i = nparams; i < nargs; ++i)
                va->_values.push_back(std::move(s[i]));
            s[nparams] = std::move(vaobj);
        }
        if (closure->_env._type == OT_WEAKREF)
            s[0] = closure->_env._unVal.pWeakRef->_obj;
    }
    SQCallInfo& ci = PushFrame(closure, p->_code.data(), base, base + p->_stacksize, target);
    ci._root = root;
    ci._ctor = ctor;
    return true;
}

bool CSqVM::SetupGenerator(CSqClosure* closure, SQInteger nargs, SQInteger base, SQObjectPtr& res) {
    CSqFunctionProto* p = closure->Proto();
    if (!ArgsFit(p, nargs, base))
        return false;
    SQInteger nparams = p->_nparams;
    SQInteger ndef = p->_ndefaults;
    CSqGenerator* gen = new CSqGenerator(_ss, closure);
    SQObjectPtr genobj(gen);
    gen->_stack.resize(static_cast<size_t>(p->_stacksize));
    SQObjectPtr* s = _stack.data() + base;
    for (SQInteger i = 0; i < nargs && i < nparams; ++i)
        gen->_stack[static_cast<size_t>(i)] = s[i];
    for (SQInteger i = nargs; i < nparams; ++i)
        gen->_stack[static_cast<size_t>(i)] = closure->_defaultparams[static_cast<size_t>(i - (nparams - ndef))];
    if (p->_varparams) {
        CSqArray* va = CSqArray::Create(_ss, 0);
        SQObjectPtr vaobj(va);
        for (SQInteger i = nparams; i < nargs; ++i)
            va->_values.push_back(s[i]);
        gen->_stack[static_cast<size_t>(nparams)] = std::move(vaobj);
    }
    if (closure->_env._type == OT_WEAKREF)
        gen->_stack[0] = closure->_env._unVal.pWeakRef->_obj;
    res = std::move(genobj);
    return true;
}

bool CSqVM::ResumeGenerator(CSqGenerator* gen, uint16_t target, bool root) {
    if (gen->_state == CSqGenerator::DEAD)
        return RaiseError("resuming dead generator");
    if (gen->_state == CSqGenerator::RUNNING)
        return RaiseError("resuming active generator");
    if (static_cast<SQInteger>(_callstack.size()) >= _maxCallDepth)
        return RaiseError("stack overflow");
    SQInteger n = static_cast<SQInteger>(gen->_stack.size());
    SQInteger slot = _top;
    SQInteger base = slot + 1;
    if (!EnsureStack(base + n + 1))
        return RaiseError("stack overflow");
    // the frame's slot below `this` holds the generator, which holds the closure
    _stack[static_cast<size_t>(slot)] = SQObjectPtr(gen);
    for (SQInteger i = 0; i < n; ++i)
        _stack[static_cast<size_t>(base + i)] = std::move(gen->_stack[static_cast<size_t>(i)]);
    if (gen->_openouters) {
        // the resumed frame is the highest on the stack: its outers go in front of the machine's
        CSqOuter* last = nullptr;
        for (CSqOuter* o = gen->_openouters; o; o = o->_nextOpen) {
            o->_idx += base;
            o->_valptr = &_stack[static_cast<size_t>(o->_idx)];
            last = o;
        }
        last->_nextOpen = _openouters;
        _openouters = gen->_openouters;
        gen->_openouters = nullptr;
    }
    gen->_stack.clear();
    CSqClosure* cl = AsClosure(gen->_closure);
    CSqFunctionProto* p = cl->Proto();
    SQCallInfo& ci = PushFrame(cl, p->_code.data() + gen->_pc, base, base + n, target);
    ci._generator = gen;
    ci._root = root;
    size_t frame = _callstack.size() - 1;
    for (const auto& t : gen->_traps)
        _traps.push_back({p->_code.data() + t.handlerpc, t.catchreg, frame});
    ci._ntraps = static_cast<uint32_t>(gen->_traps.size());
    gen->_traps.clear();
    gen->_state = CSqGenerator::RUNNING;
    return true;
}

bool CSqVM::CallNative(CSqNativeClosure* nc, SQInteger nargs, SQInteger base, SQObjectPtr& retval, bool& suspend) {
    if (nc->_nparamscheck != 0) {
        if (nc->_nparamscheck > 0 ? nargs != nc->_nparamscheck : nargs < -nc->_nparamscheck)
            return RaiseError("wrong number of parameters");
    }
    size_t nchecks = std::min(nc->_typecheck.size(), static_cast<size_t>(nargs));
    for (size_t i = 0; i < nchecks; ++i) {
        SQUnsignedInteger32 mask = nc->_typecheck[i];
        const SQObjectPtr& arg = _stack[static_cast<size_t>(base) + i];
        if (mask != 0xFFFFFFFFu && !(sq_rawtype(arg._type) & mask)) {
            std::string expected;
            for (SQUnsignedInteger32 bit = 1; bit <= _RT_OUTER; bit <<= 1) {
                if (mask & bit) {
                    if (!expected.empty())
                        expected += '|';
                    expected += RawTypeName(bit);
                }
            }
            return RaiseError("parameter %d has an invalid type '%s' ; expected: '%s'", static_cast<int>(i),
                              TypeName(arg._type), expected.c_str());
        }
    }
    if (_ss->_nativeDepth >= kMaxNativeDepth)
        return RaiseError("native stack overflow");
    if (static_cast<SQInteger>(_callstack.size()) >= _maxCallDepth)
        return RaiseError("stack overflow");
    SQInteger nouters = static_cast<SQInteger>(nc->_outervalues.size());
    if (!EnsureStack(base + nargs + nouters + kNativeStackReserve))
        return RaiseError("stack overflow");
    if (nc->_env._type == OT_WEAKREF)
        _stack[static_cast<size_t>(base)] = nc->_env._unVal.pWeakRef->_obj;
    SQInteger savedTop = _top;
    SQInteger savedBase = _stackbase;
    _top = base + nargs;
    for (auto& o : nc->_outervalues)
        _stack[static_cast<size_t>(_top++)] = o;
    SQCallInfo& ci = _callstack.emplace_back();
    ci._native = nc;
    ci._base = base;
    ci._top = _top;
    _stackbase = base;
    SQInteger ret;
    {
        CNativeDepthGuard depth(_ss);
        SQObjectPtr keep(nc); // the closure may drop its last other reference while it runs
        try {
            ret = nc->_function(this);
        } catch (const std::bad_alloc&) {
            RaiseError("out of memory");
            ret = SQ_ERROR;
        }
    }
    _stackbase = savedBase;
    bool ok = true;
    if (ret == SQ_SUSPEND_FLAG) {
        suspend = true;
        if (_top > base + 1)
            retval = _stack[static_cast<size_t>(_top - 1)];
        else
            retval.Null();
    } else if (ret < 0) {
        ok = false;
    } else if (ret > 0 && _top > base) {
        retval = _stack[static_cast<size_t>(_top - 1)];
    } else {
        retval.Null();
    }
    SQInteger end = std::max(_top, base + nargs);
    for (SQInteger i = base; i < end; ++i)
        _stack[static_cast<size_t>(i)].Null();
    _top = savedTop;
    _callstack.pop_back();
    return ok;
}

void CSqVM::UnwindFrame() { PopFrame(); }

// ---------------------------------------------------------------- calls from C++

bool CSqVM::Call(const SQObjectPtr& closureRef, SQInteger nparams, SQInteger stackbase, SQObjectPtr& outres,
                 bool raiseerror, bool suspendable) {
    SQObjectPtr closure = closureRef; // the reference may point into the stack, which can move
    auto fail = [&]() {
        if (raiseerror && !_errorReported) {
            SQObjectPtr err = _lasterror;
            CallErrorHandler(err);
            _errorReported = true;
        }
        return false;
    };
    auto popParams = [&]() {
        while (_top > stackbase)
            _stack[static_cast<size_t>(--_top)].Null();
    };
    if (_suspended) {
        popParams();
        RaiseError("cannot call a function on a suspended thread");
        return fail();
    }
    if (_ss->_nativeDepth >= kMaxNativeDepth) {
        popParams();
        RaiseError("native stack overflow");
        return fail();
    }
    CNativeDepthGuard depth(_ss);
    switch (closure._type) {
    case OT_CLOSURE: {
        CSqClosure* cl = AsClosure(closure);
        if (cl->Proto()->_generator) {
            bool ok = SetupGenerator(cl, nparams, stackbase, outres);
            popParams();
            return ok ? true : fail();
        }
        size_t frame = _callstack.size();
        if (!StartCall(cl, nparams, stackbase, NO_TARGET, true, false)) {
            popParams();
            return fail();
        }
        bool ok = ExecuteOutermost(frame, outres, raiseerror, false, suspendable);
        if (!ok)
            _errorReported = _errorReported || raiseerror;
        return ok;
    }
    case OT_NATIVECLOSURE: {
        bool suspend = false;
        bool ok = CallNativeFrom(false, AsNative(closure), nparams, stackbase, outres, suspend);
        popParams();
        if (ok && suspend) {
            RaiseError("cannot suspend through native calls");
            ok = false;
        }
        return ok ? true : fail();
    }
    case OT_CLASS: {
        CSqClass* cls = AsClass(closure);
        SQObjectPtr inst(cls->CreateInstance());
        if (nparams > 0)
            _stack[static_cast<size_t>(stackbase)] = inst;
        SQObjectPtr ctor = cls->_constructor;
        if (ctor._type == OT_CLOSURE || ctor._type == OT_NATIVECLOSURE) {
            SQObjectPtr saved = _stack[static_cast<size_t>(stackbase - 1)];
            _stack[static_cast<size_t>(stackbase - 1)] = ctor;
            SQObjectPtr dummy;
            bool ok = Call(ctor, nparams, stackbase, dummy, raiseerror);
            _stack[static_cast<size_t>(stackbase - 1)] = saved;
            if (!ok)
                return false;
        } else {
            popParams();
        }
        outres = inst;
        return true;
    }
    case OT_INSTANCE:
    case OT_TABLE:
    case OT_USERDATA: {
        SQObjectPtr mm;
        if (!GetMetaMethodOf(closure, MT_CALL, mm)) {
            popParams();
            RaiseError("attempt to call '%s'", TypeName(closure._type));
            return fail();
        }
        std::vector<SQObjectPtr> args;
        args.reserve(static_cast<size_t>(nparams) + 1);
        args.push_back(closure);
        for (SQInteger i = 0; i < nparams; ++i)
            args.push_back(_stack[static_cast<size_t>(stackbase + i)]);
        popParams();
        return CallWith(mm, args.data(), static_cast<SQInteger>(args.size()), outres, raiseerror);
    }
    default:
        popParams();
        RaiseError("attempt to call '%s'", TypeName(closure._type));
        return fail();
    }
}

bool CSqVM::CallWith(const SQObjectPtr& closureRef, const SQObject* args, SQInteger nargs, SQObjectPtr& outres,
                     bool raiseerror) {
    SQObjectPtr closure = closureRef;
    SQInteger slot = _top;
    if (!EnsureStack(slot + 1 + nargs + 1))
        return RaiseError("stack overflow");
    _stack[static_cast<size_t>(slot)] = closure;
    for (SQInteger i = 0; i < nargs; ++i)
        _stack[static_cast<size_t>(slot + 1 + i)] = args[i];
    _top = slot + 1 + nargs;
    bool ok = Call(closure, nargs, slot + 1, outres, raiseerror);
    while (_top > slot)
        _stack[static_cast<size_t>(--_top)].Null();
    return ok;
}

bool CSqVM::Wakeup(const SQObjectPtr& value, SQObjectPtr& outres, bool raiseerror, bool throwerror) {
    if (!_suspended)
        return RaiseError("cannot wake up a thread that is not suspended");
    if (_ss->_nativeDepth >= kMaxNativeDepth)
        return RaiseError("native stack overflow");
    CNativeDepthGuard depth(_ss);
    _suspended = false;
    SQCallInfo& ci = _callstack.back();
    if (throwerror) {
        _lasterror = value;
        _errorReported = false;
    } else if (_suspendTarget != NO_TARGET) {
        _stack[static_cast<size_t>(ci._base + _suspendTarget)] = value;
    }
    return ExecuteOutermost(_suspendRootFrame, outres, raiseerror, throwerror, true);
}

bool CSqVM::Resume(CSqGenerator* gen, SQObjectPtr& outres) {
    if (_ss->_nativeDepth >= kMaxNativeDepth)
        return RaiseError("native stack overflow");
    CNativeDepthGuard depth(_ss);
    size_t frame = _callstack.size();
    if (!ResumeGenerator(gen, NO_TARGET, true))
        return false;
    return ExecuteGuarded(frame, outres, false, false);
}

bool CSqVM::ExecuteOutermost(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError,
                             bool suspendable) {
    bool outer = _execDepth == 0;
    if (outer)
        _suspendable = suspendable;
    bool ok = ExecuteGuarded(entryFrame, outres, raiseerror, startWithError);
    if (outer && !_suspended)
        _suspendable = false;
    return ok;
}

bool CSqVM::ExecuteGuarded(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError) {
    try {
        return Execute(entryFrame, outres, raiseerror, startWithError);
    } catch (const std::bad_alloc&) {
        // a script that exhausts memory fails like any other script; its frames are dropped
        while (_callstack.size() > entryFrame)
            UnwindFrame();
        _suspended = false;
        RaiseError("out of memory");
        return false;
    }
}

// ---------------------------------------------------------------- the bytecode loop

CSqVM::eCallResult CSqVM::CallSlow(SQObjectPtr callee, SQInteger nargs, SQInteger base, uint16_t target,
                                   SQObjectPtr& res) {
    for (int hops = 0; hops < 16; ++hops) {
        switch (callee._type) {
        case OT_CLOSURE: {
            CSqClosure* cl = AsClosure(callee);
            if (cl->Proto()->_generator)
                return SetupGenerator(cl, nargs, base, res) ? eCallResult::DONE : eCallResult::ERROR;
            _stack[static_cast<size_t>(base - 1)] = callee;
            return StartCall(cl, nargs, base, target, false, false) ? eCallResult::FRAME : eCallResult::ERROR;
        }
        case OT_NATIVECLOSURE: {
            bool suspend = false;
            _stack[static_cast<size_t>(base - 1)] = callee;
            bool ok = CallNativeFrom(true, AsNative(callee), nargs, base, res, suspend);
            if (!ok)
                return eCallResult::ERROR;
            return suspend ? eCallResult::SUSPEND : eCallResult::DONE;
        }
        case OT_CLASS: {
            CSqClass* cls = AsClass(callee);
            SQObjectPtr inst(cls->CreateInstance());
            _stack[static_cast<size_t>(base)] = inst;
            SQObjectPtr ctor = cls->_constructor;
            if (ctor._type == OT_CLOSURE && !AsClosure(ctor)->Proto()->_generator) {
                _stack[static_cast<size_t>(base - 1)] = ctor;
                return StartCall(AsClosure(ctor), nargs, base, target, false, true) ? eCallResult::FRAME
                                                                                     : eCallResult::ERROR;
            }
            if (ctor._type == OT_NATIVECLOSURE) {
                bool suspend = false;
                _stack[static_cast<size_t>(base - 1)] = ctor;
                SQObjectPtr dummy;
                bool ok = CallNativeFrom(false, AsNative(ctor), nargs, base, dummy, suspend);
                if (!ok)
                    return eCallResult::ERROR;
                res = inst;
                return eCallResult::DONE;
            }
            if (ctor._type != OT_NULL) {
                RaiseError("invalid constructor");
                return eCallResult::ERROR;
            }
            res = inst;
            return eCallResult::DONE;
        }
        case OT_INSTANCE:
        case OT_TABLE:
        case OT_USERDATA: {
            SQObjectPtr mm;
            if (!GetMetaMethodOf(callee, MT_CALL, mm)) {
                RaiseError("attempt to call '%s'", TypeName(callee._type));
                return eCallResult::ERROR;
            }
            if (!EnsureStack(base + nargs + 2)) {
                RaiseError("stack overflow");
                return eCallResult::ERROR;
            }
            for (SQInteger i = nargs; i > 0; --i)
                _stack[static_cast<size_t>(base + i)] = std::move(_stack[static_cast<size_t>(base + i - 1)]);
            _stack[static_cast<size_t>(base)] = callee;
            ++nargs;
            if (_top < base + nargs)
                _top = base + nargs;
            callee = mm;
            continue;
        }
        default:
            RaiseError("attempt to call '%s'", TypeName(callee._type));
            return eCallResult::ERROR;
        }
    }
    RaiseError("attempt to call '%s'", TypeName(callee._type));
    return eCallResult::ERROR;
}

#define SQ_LABEL_ADDR(name) &&op_##name,
#define SQ_HOOK_ADDR(name) &&op_HOOK,

bool CSqVM::Execute(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError) {
    struct CExecGuard {
        explicit CExecGuard(CSqVM* v) : _v(v) { ++_v->_execDepth; }
        ~CExecGuard() { --_v->_execDepth; }
        CSqVM* _v;
    } execGuard(this);

    static const void* const kDispatch[] = {SQ_OPCODES(SQ_LABEL_ADDR)};
    static const void* const kHookDispatch[] = {SQ_OPCODES(SQ_HOOK_ADDR)};
    const void* const* disp = kDispatch;
    if ((_debughook._type != OT_NULL || _nativedebughook) && !_inDebugHook)
        disp = kHookDispatch;

    SQCallInfo* ci;
    const SQInstruction* ip;
    SQObjectPtr* R;
    const SQObjectPtr* K;
    SQInstruction ins;
    uint16_t callTarget;
    int arithOp = 0;
    SQInteger lastLine = -1;

#define LOADFRAME()                                                                                                    \
    do {                                                                                                               \
        ci = &_callstack.back();                                                                                       \
        ip = ci->_ip;                                                                                                  \
        R = _stack.data() + ci->_base;                                                                                 \
        K = ci->_literals;                                                                                             \
    } while (0)
#define RELOAD()                                                                                                       \
    do {                                                                                                               \
        ci = &_callstack.back();                                                                                       \
        R = _stack.data() + ci->_base;                                                                                 \
    } while (0)
#define SAVEIP() (ci->_ip = ip)
// Hands `res` to the frame below, or to C++ when the finished frame was entered from there.
#define RETURN_TO_CALLER(root, target, res)                                                                            \
    do {                                                                                                               \
        if (root) {                                                                                                    \
            outres = std::move(res);                                                                                   \
            return true;                                                                                               \
        }                                                                                                              \
        LOADFRAME();                                                                                                   \
        if ((target) != NO_TARGET)                                                                                     \
            R[target] = std::move(res);                                                                                \
        NEXT_SAFE();                                                                                                   \
    } while (0)
#define NEXT() goto* disp[(ins = *ip++).op]
// a plain goto runs the destructors of the handler's locals; a computed goto would skip them
#define NEXT_SAFE() goto dispatch
#define RKB ((ins.flags & FLAG_KB) ? K[ins.b] : R[ins.b])
#define RKC ((ins.flags & FLAG_KC) ? K[ins.c] : R[ins.c])
// An operation that may run scripts (metamethods) or fail: the frame is saved before it and reloaded after,
// since the stack may have moved; its result `res` goes to R[a].
#define RESULT_TO_A(res, call)                                                                                         \
    do {                                                                                                               \
        SAVEIP();                                                                                                      \
        SQObjectPtr res;                                                                                               \
        if (!(call))                                                                                                   \
            goto exception;                                                                                            \
        RELOAD();                                                                                                      \
        R[ins.a] = std::move(res);                                                                                     \
        NEXT_SAFE();                                                                                                   \
    } while (0)

    LOADFRAME();
    if (startWithError)
        goto exception;
dispatch:
    NEXT();

op_HOOK: {
    if (!_inDebugHook) {
        CSqFunctionProto* p = ci->_closure->Proto();
        SQInteger line = p->LineAt(static_cast<size_t>(ip - 1 - p->_code.data())).line;
        if (line != lastLine) {
            lastLine = line;
            SAVEIP();
            CallDebugHook('l', *ci, line);
            RELOAD();
        }
    }
    goto* kDispatch[ins.op];
}

op_LOADK:
    R[ins.a] = K[ins.Bx()];
    NEXT();
op_LOADI:
    R[ins.a].SetInteger(ins.Sbx());
    NEXT();
op_LOADNULL:
    for (int i = 0; i < ins.b; ++i)
        R[ins.a + i].Null();
    NEXT();
op_LOADBOOL:
    R[ins.a].SetBool(ins.b != 0);
    NEXT();
op_LOADROOT: {
    const SQObjectPtr& r = ci->_closure->_root;
    if (r._type == OT_WEAKREF && r._unVal.pWeakRef->_obj._type == OT_TABLE)
        R[ins.a] = r._unVal.pWeakRef->_obj;
    else
        R[ins.a] = _roottable;
    NEXT();
}
op_MOVE:
    R[ins.a] = R[ins.b];
    NEXT();
op_GETOUTER:
    R[ins.a] = *ci->_closure->_outervalues[ins.b]._unVal.pOuter->_valptr;
    NEXT();
op_SETOUTER:
    *ci->_closure->_outervalues[ins.a]._unVal.pOuter->_valptr = R[ins.b];
    NEXT();
op_NEWTABLE:
    R[ins.a] = SQObjectPtr(CSqTable::Create(_ss, ins.b));
    NEXT();
op_NEWARRAY: {
    CSqArray* arr = CSqArray::Create(_ss, 0);
    arr->_values.reserve(ins.b);
    R[ins.a] = SQObjectPtr(arr);
    NEXT();
}
op_APPEND:
    AsArray(R[ins.a])->_values.push_back(RKB);
    NEXT();
op_GET: {
    const SQObjectPtr& o = R[ins.b];
    const SQObjectPtr& k = RKC;
    if (ReadFast<true>(o, k, R[ins.a]))
        NEXT();
    RESULT_TO_A(res, Get(o, k, res, 0));
}
op_GETTHIS: {
    const SQObjectPtr& o = R[0];
    const SQObjectPtr& k = K[ins.c];
    if (ReadFast<false>(o, k, R[ins.a]))
        NEXT();
    RESULT_TO_A(res, Get(o, k, res, GET_ROOT_FALLBACK));
}
op_SET: {
    const SQObjectPtr& o = R[ins.a];
    const SQObjectPtr& k = RKB;
    const SQObjectPtr& v = RKC;
    if (o._type == OT_TABLE) {
        if (SQObjectPtr* p = AsTable(o)->Find(k)) {
            *p = v;
            NEXT();
        }
    } else if (o._type == OT_ARRAY && k._type == OT_INTEGER) {
        CSqArray* arr = AsArray(o);
        SQInteger idx = AsInt(k);
        if (idx >= 0 && idx < arr->Size()) {
            arr->_values[static_cast<size_t>(idx)] = v;
            NEXT();
        }
    } else if (o._type == OT_INSTANCE) {
        if (SQObjectPtr* slot = AsInstance(o)->FieldSlot(k)) {
            *slot = v;
            NEXT();
        }
    }
    SAVEIP();
    if (!Set(o, k, v, 0))
        goto exception;
    RELOAD();
    NEXT();
}
op_SETTHIS: {
    const SQObjectPtr& o = R[0];
    const SQObjectPtr& k = K[ins.b];
    const SQObjectPtr& v = RKC;
    if (o._type == OT_TABLE) {
        if (SQObjectPtr* p = AsTable(o)->Find(k)) {
            *p = v;
            NEXT();
        }
    } else if (o._type == OT_INSTANCE) {
        if (SQObjectPtr* slot = AsInstance(o)->FieldSlot(k)) {
            *slot = v;
            NEXT();
        }
    }
    SAVEIP();
    if (!Set(o, k, v, GET_ROOT_FALLBACK))
        goto exception;
    RELOAD();
    NEXT();
}
op_NEWSLOT: {
    const SQObjectPtr& o = R[ins.a];
    const SQObjectPtr& k = RKB;
    const SQObjectPtr& v = RKC;
    if (o._type == OT_TABLE && AsTable(o)->_delegate._type == OT_NULL && k._type != OT_NULL) {
        AsTable(o)->NewSlot(k, v);
        NEXT();
    }
    SAVEIP();
    if (!NewSlot(o, k, v, (ins.flags & FLAG_STATIC) != 0))
        goto exception;
    RELOAD();
    NEXT();
}
op_NEWMEMBER: {
    SAVEIP();
    SQObjectPtr attrs;
    if (ins.flags & FLAG_ATTR)
        attrs = R[ins.b + 1];
    if (!NewMember(R[ins.a], R[ins.b], R[ins.c], attrs, (ins.flags & FLAG_STATIC) != 0, false))
        goto exception;
    RELOAD();
    NEXT_SAFE();
}
op_DELETE:
    RESULT_TO_A(res, DeleteSlot(R[ins.b], RKC, res));

// Arithmetic on two numbers inline; anything else goes to Arith (strings, metamethods). `CHECK` may refuse
// an integer pair before `intexpr` runs.
#define ARITH_OP(opchar, CHECK, intexpr, floatexpr)                                                                    \
    {                                                                                                                  \
        const SQObjectPtr& b_ = RKB;                                                                                   \
        const SQObjectPtr& c_ = RKC;                                                                                   \
        if (b_._type == OT_INTEGER && c_._type == OT_INTEGER) {                                                        \
            SQInteger x = AsInt(b_), y = AsInt(c_);                                                                    \
            CHECK;                                                                                                     \
            R[ins.a].SetInteger(intexpr);                                                                              \
            NEXT();                                                                                                    \
        }                                                                                                              \
        if (b_._type & c_._type & SQOBJECT_NUMERIC) {                                                                  \
            SQFloat x = ToFloat(b_), y = ToFloat(c_);                                                                  \
            R[ins.a].SetFloat(floatexpr);                                                                              \
            NEXT();                                                                                                    \
        }                                                                                                              \
        arithOp = opchar;                                                                                              \
        goto arith_slow;                                                                                               \
    }
#define NONZERO_DIVISOR(message)                                                                                       \
    if (y == 0) {                                                                                                      \
        SAVEIP();                                                                                                      \
        RaiseError(message);                                                                                           \
        goto exception;                                                                                                \
    }
#define ANY_OPERANDS (void)0

op_ADD:
    ARITH_OP('+', ANY_OPERANDS, WrapAdd(x, y), x + y)
op_SUB:
    ARITH_OP('-', ANY_OPERANDS, WrapSub(x, y), x - y)
op_MUL:
    ARITH_OP('*', ANY_OPERANDS, WrapMul(x, y), x * y)
// the one quotient that overflows (minimum / -1) wraps; its remainder is 0
op_DIV:
    ARITH_OP('/', NONZERO_DIVISOR("division by zero"), y == -1 ? WrapSub(0, x) : x / y, x / y)
op_MOD:
    ARITH_OP('%', NONZERO_DIVISOR("modulo by zero"), y == -1 ? 0 : x % y, std::fmod(x, y))

#define BITWISE_OP(opchar, expr)                                                                                       \
    {                                                                                                                  \
        const SQObjectPtr& b_ = RKB;                                                                                   \
        const SQObjectPtr& c_ = RKC;                                                                                   \
        if (b_._type == OT_INTEGER && c_._type == OT_INTEGER) {                                                        \
            SQInteger x = AsInt(b_), y = AsInt(c_);                                                                    \
            R[ins.a].SetInteger(expr);                                                                                 \
            NEXT();                                                                                                    \
        }                                                                                                              \
        arithOp = opchar;                                                                                              \
        goto arith_slow;                                                                                               \
    }

op_BAND:
    BITWISE_OP('&', x & y)
op_BOR:
    BITWISE_OP('|', x | y)
op_BXOR:
    BITWISE_OP('^', x ^ y)
op_SHL:
    BITWISE_OP('<', static_cast<SQInteger>(static_cast<uint64_t>(x) << (y & 63)))
op_SHR:
    BITWISE_OP('>', x >> (y & 63))
op_USHR:
    BITWISE_OP('U', static_cast<SQInteger>(static_cast<uint64_t>(x) >> (y & 63)))

arith_slow:
    RESULT_TO_A(res, Arith(arithOp, RKB, RKC, res));

op_UNM: {
    const SQObjectPtr& b_ = R[ins.b];
    if (b_._type == OT_INTEGER) {
        R[ins.a].SetInteger(WrapSub(0, AsInt(b_)));
        NEXT();
    }
    if (b_._type == OT_FLOAT) {
        R[ins.a].SetFloat(-AsFloat(b_));
        NEXT();
    }
    RESULT_TO_A(res, Negate(b_, res));
}
op_NOT:
    R[ins.a].SetBool(IsFalse(R[ins.b]));
    NEXT();
op_BNOT: {
    const SQObjectPtr& b_ = R[ins.b];
    if (b_._type != OT_INTEGER) {
        SAVEIP();
        RaiseError("attempt to perform a bitwise op on a %s", TypeName(b_._type));
        goto exception;
    }
    R[ins.a].SetInteger(~AsInt(b_));
    NEXT();
}
op_TYPEOF:
    RESULT_TO_A(res, TypeOf(R[ins.b], res));
op_CLONE:
    RESULT_TO_A(res, Clone(R[ins.b], res));
op_EQ:
    R[ins.a].SetBool(IsEqual(RKB, RKC));
    NEXT();
op_NE:
    R[ins.a].SetBool(!IsEqual(RKB, RKC));
    NEXT();

// Orders two values: numbers inline, anything else through Compare (which may call _cmp). `ACTION` is
// given the outcome: SET_A_BOOL stores it, JUMP_IF branches on it.
#define COMPARE_OP(op, fromcmp, ACTION)                                                                                \
    {                                                                                                                  \
        const SQObjectPtr& b_ = RKB;                                                                                   \
        const SQObjectPtr& c_ = RKC;                                                                                   \
        if (b_._type == OT_INTEGER && c_._type == OT_INTEGER)                                                          \
            ACTION(AsInt(b_) op AsInt(c_));                                                                            \
        if (b_._type & c_._type & SQOBJECT_NUMERIC)                                                                    \
            ACTION(ToFloat(b_) op ToFloat(c_));                                                                        \
        SAVEIP();                                                                                                      \
        int r;                                                                                                         \
        if (!Compare(b_, c_, r))                                                                                       \
            goto exception;                                                                                            \
        RELOAD();                                                                                                      \
        ACTION(fromcmp);                                                                                               \
    }
#define SET_A_BOOL(cond)                                                                                               \
    do {                                                                                                               \
        R[ins.a].SetBool(cond);                                                                                        \
        NEXT();                                                                                                        \
    } while (0)
#define JUMP_IF(cond)                                                                                                  \
    do {                                                                                                               \
        if ((cond) == (ins.a != 0))                                                                                    \
            ip += ip->Sbx() + 1;                                                                                       \
        else                                                                                                           \
            ++ip;                                                                                                      \
        NEXT();                                                                                                        \
    } while (0)

op_LT:
    COMPARE_OP(<, r == -1, SET_A_BOOL)
op_LE:
    COMPARE_OP(<=, r == -1 || r == 0, SET_A_BOOL)
op_GT:
    COMPARE_OP(>, r == 1, SET_A_BOOL)
op_GE:
    COMPARE_OP(>=, r == 1 || r == 0, SET_A_BOOL)
op_CMP3: {
    SAVEIP();
    int r;
    if (!Compare(RKB, RKC, r))
        goto exception;
    RELOAD();
    R[ins.a].SetInteger(r == 2 ? 1 : r);
    NEXT();
}

op_JEQ:
    JUMP_IF(IsEqual(RKB, RKC));
op_JLT:
    COMPARE_OP(<, r == -1, JUMP_IF)
op_JLE:
    COMPARE_OP(<=, r == -1 || r == 0, JUMP_IF)
op_TEST:
    if (IsFalse(R[ins.a]) != (ins.b != 0))
        ip += ip->Sbx() + 1;
    else
        ++ip;
    NEXT();
op_JMP:
    ip += ins.Sbx();
    NEXT();
op_IN:
    R[ins.a].SetBool(Exists(R[ins.c], RKB));
    NEXT();
op_INSTANCEOF: {
    bool r;
    if (!InstanceOf(R[ins.b], R[ins.c], r)) {
        SAVEIP();
        goto exception;
    }
    R[ins.a].SetBool(r);
    NEXT();
}
op_CALL:
    callTarget = ins.c;
    goto do_call;
op_TAILCALL: {
    const SQObjectPtr& callee = R[ins.a];
    if (callee._type == OT_CLOSURE && !AsClosure(callee)->Proto()->_generator && ci->_ntraps == 0 && !ci->_root &&
        !ci->_generator && !ci->_ctor && disp == kDispatch) {
        SQInteger base = ci->_base;
        SQInteger oldTop = ci->_top;
        uint16_t target = ci->_target;
        if (_openouters && _openouters->_idx >= base)
            CloseOuters(base);
        SQInteger src = base + ins.a;
        SQInteger nargs = ins.b;
        for (SQInteger i = 0; i <= nargs; ++i)
            _stack[static_cast<size_t>(base - 1 + i)] = std::move(_stack[static_cast<size_t>(src + i)]);
        for (SQInteger i = base + nargs; i < oldTop; ++i)
            _stack[static_cast<size_t>(i)].Null();
        CSqClosure* cl = AsClosure(_stack[static_cast<size_t>(base - 1)]);
        _callstack.pop_back();
        if (!StartCall(cl, nargs, base, target, false, false)) {
            for (SQInteger i = base - 1; i < base + nargs; ++i)
                _stack[static_cast<size_t>(i)].Null();
            _top = _callstack.back()._top;
            LOADFRAME();
            goto exception;
        }
        LOADFRAME();
        NEXT();
    }
    callTarget = ins.a;
    goto do_call;
}
do_call: {
    SAVEIP();
    SQObjectPtr& callee = R[ins.a];
    SQInteger newbase = ci->_base + ins.a + 1;
    if (callee._type == OT_CLOSURE && !AsClosure(callee)->Proto()->_generator) {
        CSqClosure* cl = AsClosure(callee);
        CSqFunctionProto* p = cl->Proto();
        SQInteger top = newbase + p->_stacksize;
        if (ins.b == p->_nparams && !p->_varparams && cl->_env._type == OT_NULL &&
            static_cast<SQInteger>(_callstack.size()) < _maxCallDepth && top < static_cast<SQInteger>(_stack.size()) &&
            _callstack.size() < _callstack.capacity()) {
            // the common call: exact arguments, room on both stacks
            PushFrame(cl, p->_code.data(), newbase, top, callTarget);
        } else if (!StartCall(cl, ins.b, newbase, callTarget, false, false)) {
            goto exception;
        }
        LOADFRAME();
        if (disp != kDispatch) {
            CallDebugHook('c', *ci, ci->_closure->Proto()->_line);
            RELOAD();
        }
        NEXT();
    }
    SQObjectPtr res;
    eCallResult cr;
    if (callee._type == OT_NATIVECLOSURE) {
        bool suspend = false;
        bool ok = CallNativeFrom(true, AsNative(callee), ins.b, newbase, res, suspend);
        cr = !ok ? eCallResult::ERROR : suspend ? eCallResult::SUSPEND : eCallResult::DONE;
    } else {
        cr = CallSlow(callee, ins.b, newbase, callTarget, res);
    }
    // a native may have set or removed the debug hook
    disp = (_debughook._type != OT_NULL || _nativedebughook) && !_inDebugHook ? kHookDispatch : kDispatch;
    switch (cr) {
    case eCallResult::ERROR:
        goto exception;
    case eCallResult::FRAME:
        LOADFRAME();
        NEXT_SAFE();
    case eCallResult::SUSPEND:
        RELOAD();
        _suspended = true;
        _suspendTarget = callTarget;
        _suspendRootFrame = entryFrame;
        outres = std::move(res);
        return true;
    case eCallResult::DONE:
        break;
    }
    RELOAD();
    if (callTarget != NO_TARGET)
        R[callTarget] = std::move(res);
    NEXT_SAFE();
}
op_PREPCALL: {
    SQObjectPtr o = R[ins.b];
    const SQObjectPtr& k = RKC;
    if (!ReadFast<false>(o, k, R[ins.a])) {
        SAVEIP();
        SQObjectPtr res;
        if (!Get(o, k, res, 0))
            goto exception;
        RELOAD();
        R[ins.a] = std::move(res);
    }
    if (ins.flags & FLAG_THISCALL)
        R[ins.a + 1] = R[0];
    else
        R[ins.a + 1] = std::move(o);
    NEXT_SAFE();
}
op_PREPCALLTHIS: {
    const SQObjectPtr& o = R[0];
    const SQObjectPtr& k = K[ins.c];
    if (o._type == OT_TABLE) {
        if (SQObjectPtr* p = AsTable(o)->Find(k)) {
            AssignDeref(R[ins.a], *p);
            R[ins.a + 1] = R[0];
            NEXT();
        }
    }
    SAVEIP();
    SQObjectPtr res;
    if (!Get(o, k, res, GET_ROOT_FALLBACK))
        goto exception;
    RELOAD();
    R[ins.a] = std::move(res);
    R[ins.a + 1] = R[0];
    NEXT_SAFE();
}
op_GETBASE:
    R[ins.a] = ci->_closure->_base;
    NEXT();
op_RETURN: {
    SQObjectPtr res;
    if (ci->_ctor)
        res = R[0];
    else if (ins.b)
        res = std::move(R[ins.a]);
    if (disp != kDispatch) {
        SAVEIP();
        CallDebugHook('r', *ci, ci->_closure->Proto()->LineAt(static_cast<size_t>(ip - 1 - ci->_closure->Proto()->_code.data())).line);
        RELOAD();
    }
    uint16_t target = ci->_target;
    RETURN_TO_CALLER(PopFrame(), target, res);
}
op_CLOSURE: {
    CSqClosure* parent = ci->_closure;
    CSqFunctionProto* fp = parent->Proto()->_functions[ins.b]._unVal.pFunctionProto;
    CSqWeakRef* root = _roottable._type == OT_TABLE ? AsTable(_roottable)->GetWeakRef(OT_TABLE) : nullptr;
    CSqClosure* cl = CSqClosure::Create(_ss, fp, root);
    SQObjectPtr clo(cl);
    for (size_t i = 0; i < fp->_outervalues.size(); ++i) {
        const SQOuterVarInfo& ov = fp->_outervalues[i];
        switch (ov.kind) {
        case SQOuterVarInfo::LOCAL:
            cl->_outervalues[i] = SQObjectPtr(FindOuter(ci->_base + ov.index));
            break;
        case SQOuterVarInfo::OUTER:
            cl->_outervalues[i] = parent->_outervalues[ov.index];
            break;
        case SQOuterVarInfo::VALUE: {
            CSqOuter* o = new CSqOuter(_ss);
            SQObjectPtr oo(o);
            o->_value = R[ins.c + fp->_ndefaults + ov.index];
            cl->_outervalues[i] = std::move(oo);
            break;
        }
        }
    }
    for (int32_t j = 0; j < fp->_ndefaults; ++j)
        cl->_defaultparams[static_cast<size_t>(j)] = R[ins.c + j];
    R[ins.a] = std::move(clo);
    NEXT_SAFE();
}
op_CLASS: {
    SAVEIP();
    SQObjectPtr base, attrs, res;
    if (ins.flags & FLAG_BASE)
        base = R[ins.b];
    if (ins.flags & FLAG_ATTR)
        attrs = R[ins.c];
    if ((ins.flags & FLAG_BASE) && base._type != OT_CLASS) {
        RaiseError("trying to inherit from a %s", TypeName(base._type));
        goto exception;
    }
    if (!CreateClass(base, attrs, res))
        goto exception;
    RELOAD();
    R[ins.a] = std::move(res);
    NEXT_SAFE();
}
op_FOREACH: {
    SQObjectPtr& o = R[ins.a];
    if (o._type == OT_ARRAY) {
        CSqArray* arr = AsArray(o);
        SQInteger idx = R[ins.a + 1]._type == OT_INTEGER ? AsInt(R[ins.a + 1]) : 0;
        if (idx < 0 || idx >= arr->Size()) {
            ip += ins.Sbx();
            NEXT();
        }
        R[ins.a + 2].SetInteger(idx);
        AssignDeref(R[ins.a + 3], arr->_values[static_cast<size_t>(idx)]);
        R[ins.a + 1].SetInteger(idx + 1);
        NEXT();
    }
    if (o._type == OT_TABLE && AsTable(o)->_delegate._type == OT_NULL) {
        SQInteger pos = R[ins.a + 1]._type == OT_INTEGER ? AsInt(R[ins.a + 1]) : 0;
        SQObjectPtr key, val;
        SQInteger next = AsTable(o)->Next(pos, key, val);
        if (next < 0) {
            ip += ins.Sbx();
            NEXT_SAFE();
        }
        R[ins.a + 1].SetInteger(next);
        R[ins.a + 2] = std::move(key);
        AssignDeref(R[ins.a + 3], val);
        NEXT_SAFE();
    }
    if (o._type == OT_GENERATOR) {
        CSqGenerator* g = o._unVal.pGenerator;
        if (g->_state == CSqGenerator::DEAD) {
            ip += ins.Sbx();
            NEXT_SAFE();
        }
        SQInteger counter = R[ins.a + 1]._type == OT_INTEGER ? AsInt(R[ins.a + 1]) : 0;
        R[ins.a + 2].SetInteger(counter);
        R[ins.a + 1].SetInteger(counter + 1);
        SAVEIP();
        if (!ResumeGenerator(g, static_cast<uint16_t>(ins.a + 3), false))
            goto exception;
        LOADFRAME();
        NEXT_SAFE();
    }
    SAVEIP();
    {
        SQObjectPtr container = o;
        SQObjectPtr iter = R[ins.a + 1];
        SQObjectPtr key, val;
        bool done = false;
        if (!IterNext(container, iter, key, val, done))
            goto exception;
        RELOAD();
        if (done) {
            ip += ins.Sbx();
            NEXT_SAFE();
        }
        R[ins.a + 1] = std::move(iter);
        R[ins.a + 2] = std::move(key);
        R[ins.a + 3] = std::move(val);
    }
    NEXT_SAFE();
}
op_POSTFOREACH:
    if (R[ins.a]._type == OT_GENERATOR && R[ins.a]._unVal.pGenerator->_state == CSqGenerator::DEAD)
        ip += ins.Sbx();
    NEXT();
op_YIELD: {
    CSqGenerator* g = ci->_generator;
    if (!g) {
        SAVEIP();
        RaiseError("yield outside a generator");
        goto exception;
    }
    SQObjectPtr res;
    if (ins.b)
        res = R[ins.a];
    SQInteger base = ci->_base;
    SQInteger n = ci->_top - base;
    const SQInstruction* code = ci->_closure->Proto()->_code.data();
    g->_stack.resize(static_cast<size_t>(n));
    for (SQInteger i = 0; i < n; ++i)
        g->_stack[static_cast<size_t>(i)] = std::move(_stack[static_cast<size_t>(base + i)]);
    // captured locals move with the registers, so closures and the generator keep sharing them
    {
        CSqOuter** tail = &g->_openouters;
        while (_openouters && _openouters->_idx >= base) {
            CSqOuter* o = _openouters;
            _openouters = o->_nextOpen;
            o->_idx -= base;
            o->_valptr = &g->_stack[static_cast<size_t>(o->_idx)];
            o->_nextOpen = nullptr;
            *tail = o;
            tail = &o->_nextOpen;
        }
    }
    g->_pc = static_cast<uint32_t>(ip - code);
    g->_traps.clear();
    for (size_t i = _traps.size() - ci->_ntraps; i < _traps.size(); ++i)
        g->_traps.push_back({static_cast<uint32_t>(_traps[i]._handler - code), _traps[i]._catchreg});
    _traps.resize(_traps.size() - ci->_ntraps);
    g->_state = CSqGenerator::SUSPENDED;
    bool root = ci->_root;
    uint16_t target = ci->_target;
    _callstack.pop_back();
    _stack[static_cast<size_t>(base - 1)].Null(); // may drop the last reference to g; g is not used after
    _top = root ? base - 1 : _callstack.back()._top;
    RETURN_TO_CALLER(root, target, res);
}
op_RESUME: {
    SAVEIP();
    const SQObjectPtr& g = R[ins.b];
    if (g._type != OT_GENERATOR) {
        RaiseError("trying to resume a '%s',only generators can be resumed", TypeName(g._type));
        goto exception;
    }
    if (!ResumeGenerator(g._unVal.pGenerator, ins.a, false))
        goto exception;
    LOADFRAME();
    NEXT();
}
op_THROW:
    SAVEIP();
    RaiseErrorObj(R[ins.a]);
    goto exception;
op_PUSHTRAP:
    _traps.push_back({ip + ins.Sbx(), ins.a, _callstack.size() - 1});
    ci->_ntraps++;
    NEXT();
op_POPTRAP:
    _traps.resize(_traps.size() - ins.a);
    ci->_ntraps -= ins.a;
    NEXT();
op_CLOSE:
    if (_openouters && _openouters->_idx >= ci->_base + ins.a)
        CloseOuters(ci->_base + ins.a);
    NEXT();

exception: {
    ci = &_callstack.back();
    ci->_ip = ip;
    SQObjectPtr err = _lasterror;
    if (_ss->_notifyallexceptions && !_errorReported) {
        CallErrorHandler(err);
        _errorReported = true;
    }
    if (!_traps.empty() && _traps.back()._frame >= entryFrame) {
        SQTrap trap = _traps.back();
        _traps.pop_back();
        while (_callstack.size() - 1 > trap._frame)
            UnwindFrame();
        ci = &_callstack.back();
        ci->_ntraps--;
        SQInteger catchAbs = ci->_base + trap._catchreg;
        if (_openouters && _openouters->_idx >= catchAbs)
            CloseOuters(catchAbs);
        _top = ci->_top;
        R = _stack.data() + ci->_base;
        K = ci->_literals;
        ip = trap._handler;
        R[trap._catchreg] = std::move(err);
        _lasterror.Null();
        _errorReported = false;
        NEXT_SAFE();
    }
    if (raiseerror && !_errorReported) {
        CallErrorHandler(err);
        _errorReported = true;
    }
    while (_callstack.size() > entryFrame)
        UnwindFrame();
    _lasterror = std::move(err);
    return false;
}

#undef LOADFRAME
#undef RELOAD
#undef SAVEIP
#undef RETURN_TO_CALLER
#undef NEXT
#undef NEXT_SAFE
#undef RKB
#undef RKC
#undef RESULT_TO_A
#undef ARITH_OP
#undef NONZERO_DIVISOR
#undef ANY_OPERANDS
#undef BITWISE_OP
#undef COMPARE_OP
#undef SET_A_BOOL
#undef JUMP_IF
}

} // namespace Squirrel
