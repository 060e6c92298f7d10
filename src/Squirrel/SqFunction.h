#pragma once
// Compiled functions, closures, native closures, captured (outer) variables and generators.

#include "SqObject.h"
#include "SqOpcodes.h"

namespace Squirrel {

struct SQOuterVarInfo {
    enum eKind : uint8_t { LOCAL, OUTER, VALUE };
    SQObjectPtr name;
    eKind kind = LOCAL; // LOCAL: register of the enclosing frame; OUTER: its outer; VALUE: copied at creation
    uint16_t index = 0;
};

struct SQLocalVarInfo {
    SQObjectPtr name;
    uint32_t reg = 0;
    uint32_t startpc = 0;
    uint32_t endpc = 0;
};

struct SQLineInfo {
    int32_t line;
    int32_t column;
};

class CSqFunctionProto final : public CSqRefCounted {
public:
    explicit CSqFunctionProto(CSqSharedState* ss) : CSqRefCounted(ss) {}
    const SQLineInfo& LineAt(size_t pc) const {
        static const SQLineInfo none{0, 0};
        if (_lineinfos.empty())
            return none;
        return _lineinfos[pc < _lineinfos.size() ? pc : _lineinfos.size() - 1];
    }

    std::vector<SQInstruction> _code;
    std::vector<SQLineInfo> _lineinfos; // one per instruction
    std::vector<SQObjectPtr> _literals;
    std::vector<SQObjectPtr> _functions;
    std::vector<SQOuterVarInfo> _outervalues;
    std::vector<SQLocalVarInfo> _localvarinfos;
    std::vector<SQObjectPtr> _parameters; // names, "this" first
    SQObjectPtr _name;
    SQObjectPtr _sourcename;
    int32_t _nparams = 1;   // including this
    int32_t _ndefaults = 0;
    int32_t _stacksize = 1;
    int32_t _line = 0;
    bool _varparams = false;
    bool _generator = false;
};

class CSqOuter final : public CSqCollectable {
public:
    explicit CSqOuter(CSqSharedState* ss) : CSqCollectable(ss) {}
    void Mark(CSqGC& gc) override { gc.MarkObject(_value); }
    SQObjectType GcType() const override { return OT_OUTER; }
    void Finalize() override { _value.Null(); }
    bool IsOpen() const { return _valptr != &_value; }

    SQObjectPtr* _valptr = &_value; // a stack slot while open, _value once closed
    SQInteger _idx = 0;             // stack index while open
    CSqOuter* _nextOpen = nullptr;  // open outers of a machine, highest stack index first
    SQObjectPtr _value;
};

class CSqClosure final : public CSqCollectable {
public:
    static CSqClosure* Create(CSqSharedState* ss, CSqFunctionProto* proto, CSqWeakRef* root);
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_CLOSURE; }
    void Finalize() override;
    CSqFunctionProto* Proto() const { return _function._unVal.pFunctionProto; }
    CSqClosure* Clone();

    SQObjectPtr _function;                 // the prototype
    std::vector<SQObjectPtr> _outervalues; // CSqOuter objects
    std::vector<SQObjectPtr> _defaultparams;
    SQObjectPtr _env;  // weak reference to a bound `this`, or null
    SQObjectPtr _root; // weak reference to the root table it was created under
    SQObjectPtr _base; // base class of the class the closure is a method of

private:
    explicit CSqClosure(CSqSharedState* ss) : CSqCollectable(ss) {}
};
inline CSqClosure* AsClosure(const SQObject& o) { return o._unVal.pClosure; }

class CSqNativeClosure final : public CSqCollectable {
public:
    static CSqNativeClosure* Create(CSqSharedState* ss, SQFUNCTION func, SQInteger nouters);
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_NATIVECLOSURE; }
    void Finalize() override;
    CSqNativeClosure* Clone();

    SQFUNCTION _function = nullptr;
    std::vector<SQObjectPtr> _outervalues;
    std::vector<SQUnsignedInteger32> _typecheck; // one type mask per checked parameter
    SQInteger _nparamscheck = 0;
    SQObjectPtr _name;
    SQObjectPtr _env;

private:
    explicit CSqNativeClosure(CSqSharedState* ss) : CSqCollectable(ss) {}
};
inline CSqNativeClosure* AsNative(const SQObject& o) { return o._unVal.pNativeClosure; }

struct SQSavedTrap {
    uint32_t handlerpc;
    uint32_t catchreg;
};

class CSqGenerator final : public CSqCollectable {
public:
    enum eState { SUSPENDED, RUNNING, DEAD };
    CSqGenerator(CSqSharedState* ss, CSqClosure* closure);
    ~CSqGenerator() override { Kill(); }
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_GENERATOR; }
    void Finalize() override {
        DropOuters(false);
        Kill();
    }
    // Closures keep the values of this generator's locals that they captured.
    void Kill() {
        DropOuters(true);
        _state = DEAD;
        std::vector<SQObjectPtr>().swap(_stack);
        _traps.clear();
    }
    void DropOuters(bool keepValues) {
        while (_openouters) {
            CSqOuter* o = _openouters;
            _openouters = o->_nextOpen;
            o->_nextOpen = nullptr;
            if (keepValues)
                o->_value = *o->_valptr;
            o->_valptr = &o->_value;
            ReleaseObj(o);
        }
    }

    SQObjectPtr _closure;
    std::vector<SQObjectPtr> _stack; // the frame's registers while suspended
    std::vector<SQSavedTrap> _traps;
    uint32_t _pc = 0;
    eState _state = SUSPENDED;
    // Captured locals stay shared while suspended: these outers point into _stack (index relative to it).
    CSqOuter* _openouters = nullptr;
};

} // namespace Squirrel
