#pragma once
// A machine (the main one or a thread): value stack, call frames, error traps and the bytecode loop.

#include "SqState.h"

#include <cstdarg>

namespace Squirrel {

struct SQCallInfo {
    const SQInstruction* _ip = nullptr;
    const SQObjectPtr* _literals = nullptr;
    CSqClosure* _closure = nullptr;        // script frames; the closure sits at stack[_base - 1]
    CSqNativeClosure* _native = nullptr;   // native frames
    CSqGenerator* _generator = nullptr;    // a resumed generator's frame
    SQInteger _base = 0;                   // stack index of `this`
    SQInteger _top = 0;                    // end of the frame's registers
    uint32_t _ntraps = 0;
    uint16_t _target = NO_TARGET;          // caller's register for the result
    bool _root = false;                    // returns to C++ when it returns
    bool _ctor = false;                    // a constructor: the result is `this`

    // The instruction a script frame is at: the one it runs or last ran.
    size_t Pc() const {
        const SQInstruction* code = _closure->Proto()->_code.data();
        return _ip > code ? static_cast<size_t>(_ip - code - 1) : 0;
    }
};

struct SQTrap {
    const SQInstruction* _handler;
    uint32_t _catchreg;
    size_t _frame; // index of the frame that pushed it
};

enum eGetFlags {
    GET_RAW = 1,          // no delegates, no metamethods, no default delegates
    GET_ROOT_FALLBACK = 2 // a free identifier: try the root table after `this`
};

enum class eLookup { FOUND, MISSING, FAILED };

class CSqVM final : public CSqCollectable {
public:
    explicit CSqVM(CSqSharedState* ss);
    ~CSqVM() override;
    void Init(CSqVM* friendvm, SQInteger stacksize);
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_THREAD; }
    // Stack slots that may still be read: everything except temporaries of finished statements.
    void LiveRanges(std::vector<std::pair<SQInteger, SQInteger>>& ranges) const;
    // Drops values in slots that can no longer be read, so that they keep nothing alive.
    void ClearDeadSlots();
    void Finalize() override;

    // ---- stack access for the embedding interface ----
    SQObjectPtr& StackGet(SQInteger idx) {
        SQInteger abs = idx > 0 ? _stackbase + idx - 1 : _top + idx;
        if (idx == 0 || abs < _stackbase || abs >= _top) {
            _badslot.Null();
            return _badslot;
        }
        return _stack[static_cast<size_t>(abs)];
    }
    bool ValidIndex(SQInteger idx) const {
        SQInteger abs = idx > 0 ? _stackbase + idx - 1 : _top + idx;
        return idx != 0 && abs >= _stackbase && abs < _top;
    }
    SQInteger AbsIndex(SQInteger idx) const { return idx > 0 ? _stackbase + idx - 1 : _top + idx; }
    SQObjectPtr& Top() { return StackGet(-1); }
    bool Push(const SQObject& o) {
        if (!EnsureStack(_top + 1))
            return false;
        _stack[static_cast<size_t>(_top++)] = o;
        return true;
    }
    bool Push(SQObjectPtr&& o) {
        if (!EnsureStack(_top + 1))
            return false;
        _stack[static_cast<size_t>(_top++)] = std::move(o);
        return true;
    }
    void Pop() {
        if (_top > _stackbase)
            _stack[static_cast<size_t>(--_top)].Null();
    }
    void Pop(SQInteger n) {
        while (n-- > 0 && _top > _stackbase)
            _stack[static_cast<size_t>(--_top)].Null();
    }
    void Remove(SQInteger idx);
    bool EnsureStack(SQInteger size) {
        return size <= static_cast<SQInteger>(_stack.size()) || GrowStack(size);
    }
    bool GrowStack(SQInteger size);

    // ---- calls ----
    // Calls `closure` with nparams parameters at stack[stackbase ..]; the function itself must sit at
    // stack[stackbase - 1]. The parameters are popped.
    bool Call(const SQObjectPtr& closure, SQInteger nparams, SQInteger stackbase, SQObjectPtr& outres,
              bool raiseerror, bool suspendable = false);
    // Pushes `closure` and args, calls, pops. Used for metamethods and natives' callbacks.
    bool CallWith(const SQObjectPtr& closure, const SQObject* args, SQInteger nargs, SQObjectPtr& outres,
                  bool raiseerror);
    bool Wakeup(const SQObjectPtr& value, SQObjectPtr& outres, bool raiseerror, bool throwerror);
    bool Resume(CSqGenerator* gen, SQObjectPtr& outres);
    SQInteger State() const;
    bool CanSuspend() const { return _suspendable && _execDepth == 1 && _nativeFromScript; }

    // ---- semantics shared by the bytecode loop and the embedding interface ----
    eLookup GetImpl(const SQObjectPtr& self, const SQObjectPtr& key, SQObjectPtr& dest, int flags);
    bool Get(SQObjectPtr self, SQObjectPtr key, SQObjectPtr& dest, int flags);
    bool Set(SQObjectPtr self, SQObjectPtr key, SQObjectPtr val, int flags);
    bool NewSlot(SQObjectPtr self, SQObjectPtr key, SQObjectPtr val, bool bstatic);
    bool NewMember(SQObjectPtr cls, SQObjectPtr key, SQObjectPtr val, SQObjectPtr attrs, bool bstatic,
                   bool raw);
    bool DeleteSlot(SQObjectPtr self, SQObjectPtr key, SQObjectPtr& res);
    bool Exists(const SQObjectPtr& self, const SQObjectPtr& key);
    bool Arith(int op, SQObjectPtr a, SQObjectPtr b, SQObjectPtr& res);
    bool Negate(SQObjectPtr a, SQObjectPtr& res);
    // 3-way comparison; `res` is -1, 0, 1, or 2 when the operands are unordered (NaN).
    bool Compare(SQObjectPtr a, SQObjectPtr b, int& res);
    bool ToString(SQObjectPtr o, SQObjectPtr& res);
    bool TypeOf(SQObjectPtr o, SQObjectPtr& res);
    bool Clone(SQObjectPtr o, SQObjectPtr& res);
    bool InstanceOf(const SQObjectPtr& inst, const SQObjectPtr& cls, bool& res);
    static bool IsEqual(const SQObject& a, const SQObject& b);
    SQObjectPtr PrintableValue(const SQObject& o); // default text form without metamethods
    bool CreateClass(SQObjectPtr base, SQObjectPtr attrs, SQObjectPtr& res);
    // One step of `foreach` or sq_next: false at the end. `iter` is updated.
    bool IterNext(const SQObjectPtr& obj, SQObjectPtr& iter, SQObjectPtr& key, SQObjectPtr& val, bool& done);
    bool GetMetaMethodOf(const SQObject& o, eMetaMethod mt, SQObjectPtr& mm);

    // ---- errors ----
    bool RaiseError(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    bool RaiseErrorObj(const SQObject& o);
    bool RaiseIndexError(const SQObject& key);
    void CallErrorHandler(const SQObjectPtr& error);

    // ---- frames ----
    bool StartCall(CSqClosure* closure, SQInteger nargs, SQInteger base, uint16_t target, bool root, bool ctor);
    bool CallNative(CSqNativeClosure* nc, SQInteger nargs, SQInteger base, SQObjectPtr& retval, bool& suspend);
    bool SetupGenerator(CSqClosure* closure, SQInteger nargs, SQInteger base, SQObjectPtr& res);
    bool ResumeGenerator(CSqGenerator* gen, uint16_t target, bool root);
    void CloseOuters(SQInteger fromIndex);
    CSqOuter* FindOuter(SQInteger stackIndex);
    SQObjectPtr CurrentRoot() const;
    const SQObjectPtr& RootTable() const { return _roottable; }
    bool StackInfos(SQInteger level, SQStackInfos& si);
    // The frame `level` calls below the running one; null past the bottom.
    const SQCallInfo* FrameAt(SQInteger level) const {
        if (level < 0 || level >= static_cast<SQInteger>(_callstack.size()))
            return nullptr;
        return &_callstack[_callstack.size() - 1 - static_cast<size_t>(level)];
    }

    std::vector<SQObjectPtr> _stack;
    SQInteger _top = 0;
    SQInteger _stackbase = 0;
    std::vector<SQCallInfo> _callstack;
    std::vector<SQTrap> _traps;
    CSqOuter* _openouters = nullptr;

    SQObjectPtr _roottable;
    SQObjectPtr _lasterror;
    SQObjectPtr _errorhandler;
    SQObjectPtr _debughook;
    SQDEBUGHOOK _nativedebughook = nullptr;
    SQUserPointer _foreignptr = nullptr;

    int32_t _execDepth = 0;
    SQInteger _maxCallDepth = 10000;
    bool _suspended = false;
    bool _suspendable = false;
    bool _nativeFromScript = false;
    bool _errorReported = false;
    bool _inDebugHook = false;
    uint16_t _suspendTarget = NO_TARGET;
    size_t _suspendRootFrame = 0;

private:
    // Runs frames from the top of the call stack until the frame at `entryFrame` returns.
    bool Execute(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError);
    bool ExecuteGuarded(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError);
    // The same from C++: when no script runs yet, `suspendable` tells whether this run may be suspended.
    bool ExecuteOutermost(size_t entryFrame, SQObjectPtr& outres, bool raiseerror, bool startWithError,
                          bool suspendable);
    enum class eCallResult { ERROR, DONE, FRAME, SUSPEND };
    eCallResult CallSlow(SQObjectPtr callee, SQInteger nargs, SQInteger base, uint16_t target, SQObjectPtr& res);
    void UnwindFrame();
    // The argument count suits the function and its frame fits on the stack; raises the error otherwise.
    bool ArgsFit(CSqFunctionProto* p, SQInteger nargs, SQInteger base);
    // Enters a script frame whose registers are stack[base .. top).
    SQ_HOT SQCallInfo& PushFrame(CSqClosure* cl, const SQInstruction* ip, SQInteger base, SQInteger top,
                                 uint16_t target) {
        SQCallInfo& ci = _callstack.emplace_back();
        ci._ip = ip;
        ci._literals = cl->Proto()->_literals.data();
        ci._closure = cl;
        ci._base = base;
        ci._top = top;
        ci._target = target;
        _top = top;
        return ci;
    }
    // Leaves the top frame: closes its outers, drops its traps and registers, ends a generator that ran in it.
    // Returns whether the frame returns to C++; _top is left at the end of what remains below it.
    SQ_HOT bool PopFrame() {
        SQCallInfo& ci = _callstack.back();
        SQInteger base = ci._base;
        SQInteger top = ci._top;
        bool root = ci._root;
        CSqGenerator* gen = ci._generator;
        if (_openouters && _openouters->_idx >= base)
            CloseOuters(base);
        if (ci._ntraps)
            _traps.resize(_traps.size() - ci._ntraps);
        _callstack.pop_back();
        if (gen)
            gen->Kill();
        for (SQInteger i = base; i < top; ++i)
            _stack[static_cast<size_t>(i)].Null();
        if (gen)
            _stack[static_cast<size_t>(base - 1)].Null();
        if (root)
            _top = gen ? base - 1 : base;
        else
            _top = _callstack.empty() ? 0 : _callstack.back()._top;
        return root;
    }
    // A native call; only one made by a script may suspend its machine.
    SQ_HOT bool CallNativeFrom(bool fromScript, CSqNativeClosure* nc, SQInteger nargs, SQInteger base,
                               SQObjectPtr& retval, bool& suspend) {
        bool saved = _nativeFromScript;
        _nativeFromScript = fromScript;
        bool ok = CallNative(nc, nargs, base, retval, suspend);
        _nativeFromScript = saved;
        return ok;
    }
    void CallDebugHook(SQInteger type, const SQCallInfo& ci, SQInteger line);
    // Calls a _get or _set metamethod: an error of null means the key is missing.
    eLookup CallLookupMeta(const SQObjectPtr& mm, const SQObject* args, SQInteger nargs, SQObjectPtr& dest);

    SQObjectPtr _badslot;
};

inline CSqVM* AsThread(const SQObject& o) { return o._unVal.pThread; }

// Copies a value read out of a container: a weak reference stored there reads as its target.
SQ_HOT inline void AssignDeref(SQObjectPtr& dst, const SQObjectPtr& src) {
    if (src._type == OT_WEAKREF)
        dst = src._unVal.pWeakRef->_obj;
    else
        dst = src;
}

// Text of a value for messages ("the index '%s' does not exist").
std::string KeyText(const SQObject& key);

} // namespace Squirrel
