#include "SqCompiler.h"
#include "SqVM.h"

#include <map>

namespace Squirrel {

namespace {

struct SQLocalVar {
    std::string name;
    int reg = 0;
    bool captured = false;
    size_t info = 0;
};

struct SQLoopInfo {
    std::vector<int> breaks;
    std::vector<int> continues;
    int trapDepth = 0;
    int nactive = 0;
    bool isSwitch = false;
};

struct SQFuncState {
    SQFuncState* parent = nullptr;
    SQObjectPtr protoObj;
    CSqFunctionProto* proto = nullptr;
    std::vector<SQLocalVar> locals;
    std::vector<size_t> scopes;
    int nactive = 0;
    int freereg = 0;
    int maxstack = 1;
    std::vector<SQLoopInfo> loops;
    int trapDepth = 0;
    bool generator = false;
    std::map<std::pair<uint32_t, uint64_t>, int> literalIndex;
};

struct SQVarRef {
    enum eKind { LOCAL, OUTER, CONST, FREE };
    eKind kind = FREE;
    int index = 0;
    SQObjectPtr value;
};

struct SQOperand {
    bool isConst = false;
    int index = 0;
};

constexpr int kMaxRegisters = 0xFF00;
constexpr int kMaxLiterals = 0xFFFE;

class CSqCodegen {
public:
    CSqCodegen(CSqVM* vm, std::string source) : _ss(vm->_ss), _source(std::move(source)) {}

    SQObjectPtr CompileFunction(SQFuncNode* f);

private:
    struct DepthGuard {
        explicit DepthGuard(CSqCodegen& g) : _g(g) {
            if (++_g._depth > kMaxCodegenDepth) {
                --_g._depth;
                _g.Error("expression too complex");
            }
        }
        ~DepthGuard() { --_g._depth; }
        CSqCodegen& _g;
    };

    [[noreturn]] void Error(const std::string& msg) { throw SQCompileError{msg, _line, _col}; }
    void SetPos(const SQNode* n) {
        _line = n->line;
        _col = n->col;
    }

    // ---- emission ----
    int Pc() const { return static_cast<int>(_fs->proto->_code.size()); }
    int Emit(uint8_t op, int a = 0, int b = 0, int c = 0, uint8_t flags = 0) {
        SQInstruction i;
        i.op = op;
        i.flags = flags;
        i.a = static_cast<uint16_t>(a);
        i.b = static_cast<uint16_t>(b);
        i.c = static_cast<uint16_t>(c);
        _fs->proto->_code.push_back(i);
        _fs->proto->_lineinfos.push_back({_line, _col});
        return Pc() - 1;
    }
    int EmitSbx(uint8_t op, int a, int32_t sbx) {
        int pc = Emit(op, a);
        _fs->proto->_code[static_cast<size_t>(pc)].SetSbx(sbx);
        return pc;
    }
    int EmitJump() { return EmitSbx(OP_JMP, 0, 0); }
    void PatchJump(int pc, int target) {
        _fs->proto->_code[static_cast<size_t>(pc)].SetSbx(target - (pc + 1));
    }
    void PatchToHere(int pc) { PatchJump(pc, Pc()); }
    void PatchAll(const std::vector<int>& jumps, int target) {
        for (int j : jumps)
            PatchJump(j, target);
    }
    void EmitJumpTo(int target) {
        int j = EmitJump();
        PatchJump(j, target);
    }

    // ---- registers and locals ----
    int AllocReg() {
        int r = _fs->freereg++;
        if (_fs->freereg > kMaxRegisters)
            Error("too many local variables or temporaries");
        if (_fs->freereg > _fs->maxstack)
            _fs->maxstack = _fs->freereg;
        return r;
    }
    void FreeTo(int r) { _fs->freereg = r < _fs->nactive ? _fs->nactive : r; }
    void DeclareLocal(const std::string& name, int reg) {
        SQLocalVar lv;
        lv.name = name;
        lv.reg = reg;
        SQLocalVarInfo info;
        info.name = _ss->Str(name);
        info.reg = static_cast<uint32_t>(reg);
        info.startpc = static_cast<uint32_t>(Pc());
        _fs->proto->_localvarinfos.push_back(info);
        lv.info = _fs->proto->_localvarinfos.size() - 1;
        _fs->locals.push_back(lv);
        _fs->nactive = reg + 1;
        if (_fs->freereg < _fs->nactive)
            _fs->freereg = _fs->nactive;
        if (_fs->freereg > _fs->maxstack)
            _fs->maxstack = _fs->freereg;
    }
    void BeginScope() { _fs->scopes.push_back(_fs->locals.size()); }
    void EndScope() {
        size_t start = _fs->scopes.back();
        _fs->scopes.pop_back();
        bool captured = false;
        int firstReg = _fs->nactive;
        for (size_t i = start; i < _fs->locals.size(); ++i) {
            captured |= _fs->locals[i].captured;
            if (_fs->locals[i].reg < firstReg)
                firstReg = _fs->locals[i].reg;
            _fs->proto->_localvarinfos[_fs->locals[i].info].endpc = static_cast<uint32_t>(Pc());
        }
        if (start < _fs->locals.size()) {
            if (captured)
                Emit(OP_CLOSE, firstReg);
            _fs->nactive = firstReg;
            _fs->locals.resize(start);
        }
        _fs->freereg = _fs->nactive;
    }

    // ---- literals and names ----
    int AddLiteral(const SQObjectPtr& v) {
        auto key = std::make_pair(static_cast<uint32_t>(v._type), v._unVal.raw);
        auto it = _fs->literalIndex.find(key);
        if (it != _fs->literalIndex.end())
            return it->second;
        int idx = static_cast<int>(_fs->proto->_literals.size());
        if (idx >= kMaxLiterals)
            Error("too many literals in one function");
        _fs->proto->_literals.push_back(v);
        _fs->literalIndex.emplace(key, idx);
        return idx;
    }
    SQObjectPtr LiteralValue(const SQLiteral& lit) {
        switch (lit.kind) {
        case SQLiteral::INT: return SQObjectPtr::Integer(lit.i);
        case SQLiteral::FLOAT: return SQObjectPtr::Float(lit.f);
        case SQLiteral::BOOL: return SQObjectPtr::Bool(lit.i != 0);
        case SQLiteral::STRING: return _ss->Str(lit.s);
        default: return SQObjectPtr();
        }
    }
    int NameLiteral(const std::string& name) { return AddLiteral(_ss->Str(name)); }

    int ResolveOuter(SQFuncState* f, const std::string& name) {
        auto& outers = f->proto->_outervalues;
        for (size_t i = 0; i < outers.size(); ++i)
            if (outers[i].name._type == OT_STRING && AsString(outers[i].name)->View() == name)
                return static_cast<int>(i);
        if (!f->parent)
            return -1;
        SQFuncState* p = f->parent;
        for (size_t i = p->locals.size(); i-- > 0;) {
            if (p->locals[i].name == name) {
                p->locals[i].captured = true;
                SQOuterVarInfo info;
                info.name = _ss->Str(name);
                info.kind = SQOuterVarInfo::LOCAL;
                info.index = static_cast<uint16_t>(p->locals[i].reg);
                outers.push_back(info);
                return static_cast<int>(outers.size() - 1);
            }
        }
        int idx = ResolveOuter(p, name);
        if (idx < 0)
            return -1;
        SQOuterVarInfo info;
        info.name = _ss->Str(name);
        info.kind = SQOuterVarInfo::OUTER;
        info.index = static_cast<uint16_t>(idx);
        outers.push_back(info);
        if (outers.size() > 0xFFFF)
            Error("too many outer variables");
        return static_cast<int>(outers.size() - 1);
    }

    SQVarRef Resolve(const std::string& name) {
        SQVarRef ref;
        for (size_t i = _fs->locals.size(); i-- > 0;) {
            if (_fs->locals[i].name == name) {
                ref.kind = SQVarRef::LOCAL;
                ref.index = _fs->locals[i].reg;
                return ref;
            }
        }
        int outer = ResolveOuter(_fs, name);
        if (outer >= 0) {
            ref.kind = SQVarRef::OUTER;
            ref.index = outer;
            return ref;
        }
        if (_ss->_consts._type == OT_TABLE) {
            SQObjectPtr key = _ss->Str(name);
            if (AsTable(_ss->_consts)->Get(key, ref.value)) {
                ref.kind = SQVarRef::CONST;
                return ref;
            }
        }
        ref.kind = SQVarRef::FREE;
        return ref;
    }

    // A compile-time constant: a literal, a constant name or an enum member.
    bool ConstValue(SQNode* n, SQObjectPtr& out) {
        if (n->kind == N_LITERAL) {
            out = LiteralValue(n->lit);
            return true;
        }
        if (n->kind == N_IDENT) {
            SQVarRef ref = Resolve(n->str);
            if (ref.kind != SQVarRef::CONST)
                return false;
            if (ref.value._type == OT_TABLE) {
                SetPos(n);
                Error("expected '.'");
            }
            out = ref.value;
            return true;
        }
        if (n->kind == N_MEMBER && n->a && n->a->kind == N_IDENT && n->b->kind == N_LITERAL &&
            n->b->lit.kind == SQLiteral::STRING) {
            SQVarRef ref = Resolve(n->a->str);
            if (ref.kind != SQVarRef::CONST || ref.value._type != OT_TABLE)
                return false;
            SQObjectPtr key = _ss->Str(n->b->lit.s);
            if (!AsTable(ref.value)->Get(key, out)) {
                SetPos(n);
                Error("invalid enum member '" + n->b->lit.s + "'");
            }
            return true;
        }
        return false;
    }

    void LoadConst(const SQObjectPtr& v, int target) {
        switch (v._type) {
        case OT_NULL: Emit(OP_LOADNULL, target, 1); return;
        case OT_BOOL: Emit(OP_LOADBOOL, target, AsInt(v) ? 1 : 0); return;
        case OT_INTEGER:
            if (AsInt(v) >= INT32_MIN && AsInt(v) <= INT32_MAX) {
                EmitSbx(OP_LOADI, target, static_cast<int32_t>(AsInt(v)));
                return;
            }
            break;
        default: break;
        }
        int k = AddLiteral(v);
        int pc = Emit(OP_LOADK, target);
        _fs->proto->_code[static_cast<size_t>(pc)].SetSbx(k);
    }

    // ---- expressions ----
    int GenAny(SQNode* n) {
        if (n->kind == N_THIS)
            return 0;
        if (n->kind == N_IDENT) {
            SQVarRef ref = Resolve(n->str);
            if (ref.kind == SQVarRef::LOCAL)
                return ref.index;
        }
        int r = AllocReg();
        Gen(n, r);
        return r;
    }
    SQOperand GenRK(SQNode* n) {
        SQObjectPtr v;
        if (ConstValue(n, v)) {
            int k = AddLiteral(v);
            return {true, k};
        }
        return {false, GenAny(n)};
    }
    // The object of a member expression in a register: the root table for `::name`.
    int GenMemberObject(SQNode* member) {
        if (member->a)
            return GenAny(member->a);
        int obj = AllocReg();
        SetPos(member);
        Emit(OP_LOADROOT, obj);
        return obj;
    }
    // An assigned value: built in `target` when the assignment's own value is wanted, else wherever is cheapest.
    SQOperand GenValue(SQNode* value, int target, bool needValue) {
        if (!needValue)
            return GenRK(value);
        Gen(value, target);
        return {false, target};
    }
    // A name that is assigned to: constants cannot be.
    SQVarRef ResolveAssignable(SQNode* ident, const SQNode* pos) {
        SQVarRef ref = Resolve(ident->str);
        SetPos(pos);
        if (ref.kind == SQVarRef::CONST)
            Error("can't assign to the constant '" + ident->str + "'");
        return ref;
    }
    static uint8_t KFlags(const SQOperand& b, const SQOperand& c) {
        return static_cast<uint8_t>((b.isConst ? FLAG_KB : 0) | (c.isConst ? FLAG_KC : 0));
    }

    void Gen(SQNode* n, int target);
    void GenToLocal(SQNode* value, int reg);
    void GenDiscard(SQNode* n);
    void GenAssign(SQNode* n, int target, bool needValue);
    void GenIncDec(SQNode* n, int target, bool needValue);
    void GenCall(SQNode* n, int target, bool tail);
    void GenDelete(SQNode* n, int target);
    void GenClosure(SQNode* n, int target);
    void GenClass(SQNode* n, int target);
    std::vector<int> GenCond(SQNode* n, bool jumpIfTrue);

    // ---- statements ----
    void GenStatement(SQNode* n);
    void GenScoped(SQNode* n) {
        BeginScope();
        GenStatement(n);
        EndScope();
    }
    void GenLoopBody(SQNode* body) { GenScoped(body); }
    void GenBreakContinue(SQNode* n, bool isBreak);
    // An instruction on one operand's register (return, yield, throw).
    void GenOnOperand(SQNode* n, uint8_t op, int b) {
        int saved = _fs->freereg;
        int r = GenAny(n->a);
        SetPos(n);
        Emit(op, r, b);
        FreeTo(saved);
    }
    // A loop or switch that the break (and, for loops, continue) statements inside it leave.
    void BeginLoop(bool isSwitch) { _fs->loops.push_back({{}, {}, _fs->trapDepth, _fs->nactive, isSwitch}); }
    void EndLoop(int continuePc) {
        SQLoopInfo loop = std::move(_fs->loops.back());
        _fs->loops.pop_back();
        PatchAll(loop.continues, continuePc);
        PatchAll(loop.breaks, Pc());
    }

    CSqSharedState* _ss;
    std::string _source;
    SQFuncState* _fs = nullptr;
    int _line = 1;
    int _col = 1;
    int _depth = 0;
};

SQObjectPtr CSqCodegen::CompileFunction(SQFuncNode* f) {
    DepthGuard guard(*this);
    SQFuncState fs;
    fs.parent = _fs;
    fs.proto = new CSqFunctionProto(_ss);
    fs.protoObj = SQObjectPtr(fs.proto);
    fs.generator = f->generator;
    CSqFunctionProto* proto = fs.proto;
    proto->_name = _ss->Str(f->name.empty() ? "unknown" : f->name);
    proto->_sourcename = _ss->Str(_source);
    proto->_line = f->line;
    proto->_generator = f->generator;
    _fs = &fs;
    int savedLine = _line, savedCol = _col;
    _line = f->line;
    _col = f->col;

    DeclareLocal("this", 0);
    proto->_parameters.push_back(_ss->Str("this"));
    for (const auto& p : f->params) {
        DeclareLocal(p, _fs->nactive);
        proto->_parameters.push_back(_ss->Str(p));
    }
    if (f->varargs)
        DeclareLocal("vargv", _fs->nactive);
    proto->_nparams = static_cast<int32_t>(1 + f->params.size());
    proto->_ndefaults = static_cast<int32_t>(f->defaults.size());
    proto->_varparams = f->varargs;
    for (size_t i = 0; i < f->freevars.size(); ++i) {
        SQOuterVarInfo info;
        info.name = _ss->Str(f->freevars[i]);
        info.kind = SQOuterVarInfo::VALUE;
        info.index = static_cast<uint16_t>(i);
        proto->_outervalues.push_back(info);
    }

    GenStatement(f->body);
    Emit(OP_RETURN, 0, 0);
    for (auto& lv : _fs->locals)
        proto->_localvarinfos[lv.info].endpc = static_cast<uint32_t>(Pc());
    proto->_stacksize = fs.maxstack;
    _fs = fs.parent;
    _line = savedLine;
    _col = savedCol;
    return fs.protoObj;
}

void CSqCodegen::GenToLocal(SQNode* value, int reg) {
    switch (value->kind) {
    case N_AND:
    case N_OR:
    case N_TERNARY:
    case N_TABLE:
    case N_ARRAY:
    case N_COMMA:
    case N_CLASS:
    case N_ASSIGN:
    case N_POSTINC: {
        // these write their target before they have read all operands
        int saved = _fs->freereg;
        int t = AllocReg();
        Gen(value, t);
        SetPos(value);
        Emit(OP_MOVE, reg, t);
        FreeTo(saved);
        return;
    }
    default:
        Gen(value, reg);
    }
}

void CSqCodegen::Gen(SQNode* n, int target) {
    DepthGuard guard(*this);
    int saved = _fs->freereg;
    switch (n->kind) {
    case N_LITERAL:
        SetPos(n);
        LoadConst(LiteralValue(n->lit), target);
        return;
    case N_IDENT: {
        SQVarRef ref = Resolve(n->str);
        SetPos(n);
        switch (ref.kind) {
        case SQVarRef::LOCAL:
            if (ref.index != target)
                Emit(OP_MOVE, target, ref.index);
            return;
        case SQVarRef::OUTER:
            Emit(OP_GETOUTER, target, ref.index);
            return;
        case SQVarRef::CONST:
            if (ref.value._type == OT_TABLE)
                Error("expected '.'");
            LoadConst(ref.value, target);
            return;
        case SQVarRef::FREE:
            Emit(OP_GETTHIS, target, 0, NameLiteral(n->str));
            return;
        }
        return;
    }
    case N_THIS:
        SetPos(n);
        if (target != 0)
            Emit(OP_MOVE, target, 0);
        return;
    case N_BASE:
        SetPos(n);
        Emit(OP_GETBASE, target);
        return;
    case N_MEMBER: {
        SQObjectPtr cv;
        if (ConstValue(n, cv)) {
            SetPos(n);
            LoadConst(cv, target);
            return;
        }
        int obj = GenMemberObject(n);
        SQOperand key = GenRK(n->b);
        SetPos(n);
        Emit(OP_GET, target, obj, key.index, key.isConst ? FLAG_KC : 0);
        FreeTo(saved);
        return;
    }
    case N_CALL:
        GenCall(n, target, false);
        return;
    case N_UNARY: {
        if (n->op == TK_DELETE) {
            GenDelete(n->a, target);
            return;
        }
        int r = GenAny(n->a);
        SetPos(n);
        switch (n->op) {
        case '-': Emit(OP_UNM, target, r); break;
        case '!': Emit(OP_NOT, target, r); break;
        case '~': Emit(OP_BNOT, target, r); break;
        case TK_TYPEOF: Emit(OP_TYPEOF, target, r); break;
        case TK_CLONE: Emit(OP_CLONE, target, r); break;
        case TK_RESUME: Emit(OP_RESUME, target, r); break;
        default: Error("invalid unary operator");
        }
        FreeTo(saved);
        return;
    }
    case N_PREINC:
    case N_POSTINC:
        GenIncDec(n, target, true);
        return;
    case N_BINARY: {
        if (n->op == TK_IN) {
            SQOperand key = GenRK(n->a);
            int obj = GenAny(n->b);
            SetPos(n);
            Emit(OP_IN, target, key.index, obj, key.isConst ? FLAG_KB : 0);
            FreeTo(saved);
            return;
        }
        if (n->op == TK_INSTANCEOF) {
            int a = GenAny(n->a);
            int b = GenAny(n->b);
            SetPos(n);
            Emit(OP_INSTANCEOF, target, a, b);
            FreeTo(saved);
            return;
        }
        SQOperand l = GenRK(n->a);
        SQOperand r = GenRK(n->b);
        uint8_t op;
        switch (n->op) {
        case '+': op = OP_ADD; break;
        case '-': op = OP_SUB; break;
        case '*': op = OP_MUL; break;
        case '/': op = OP_DIV; break;
        case '%': op = OP_MOD; break;
        case '&': op = OP_BAND; break;
        case '|': op = OP_BOR; break;
        case '^': op = OP_BXOR; break;
        case TK_SHIFTL: op = OP_SHL; break;
        case TK_SHIFTR: op = OP_SHR; break;
        case TK_USHIFTR: op = OP_USHR; break;
        case TK_EQ: op = OP_EQ; break;
        case TK_NE: op = OP_NE; break;
        case '<': op = OP_LT; break;
        case TK_LE: op = OP_LE; break;
        case '>': op = OP_GT; break;
        case TK_GE: op = OP_GE; break;
        case TK_3WAYSCMP: op = OP_CMP3; break;
        default: Error("invalid binary operator");
        }
        SetPos(n);
        Emit(op, target, l.index, r.index, KFlags(l, r));
        FreeTo(saved);
        return;
    }
    case N_AND:
    case N_OR: {
        Gen(n->a, target);
        SetPos(n);
        Emit(OP_TEST, target, n->kind == N_AND ? 0 : 1);
        int j = EmitJump();
        Gen(n->b, target);
        PatchToHere(j);
        FreeTo(saved);
        return;
    }
    case N_ASSIGN:
        GenAssign(n, target, true);
        return;
    case N_TERNARY: {
        std::vector<int> f = GenCond(n->a, false);
        Gen(n->b, target);
        int j = EmitJump();
        PatchAll(f, Pc());
        Gen(n->c, target);
        PatchToHere(j);
        FreeTo(saved);
        return;
    }
    case N_COMMA:
        for (size_t i = 0; i + 1 < n->list.size(); ++i)
            GenDiscard(n->list[i]);
        Gen(n->list.back(), target);
        return;
    case N_TABLE: {
        SetPos(n);
        Emit(OP_NEWTABLE, target, static_cast<int>(std::min<size_t>(n->list.size(), 0xFFFF)));
        for (size_t i = 0; i < n->list.size(); ++i) {
            SQOperand k = GenRK(n->list[i]);
            SQOperand v = GenRK(n->list2[i]);
            SetPos(n->list[i]);
            Emit(OP_NEWSLOT, target, k.index, v.index, KFlags(k, v));
            FreeTo(saved);
        }
        return;
    }
    case N_ARRAY: {
        SetPos(n);
        Emit(OP_NEWARRAY, target, static_cast<int>(std::min<size_t>(n->list.size(), 0xFFFF)));
        for (SQNode* e : n->list) {
            SQOperand v = GenRK(e);
            SetPos(e);
            Emit(OP_APPEND, target, v.index, 0, v.isConst ? FLAG_KB : 0);
            FreeTo(saved);
        }
        return;
    }
    case N_FUNCTION:
        GenClosure(n, target);
        return;
    case N_CLASS:
        GenClass(n, target);
        return;
    default:
        SetPos(n);
        Error("expression expected");
    }
}

void CSqCodegen::GenDiscard(SQNode* n) {
    DepthGuard guard(*this);
    switch (n->kind) {
    case N_ASSIGN:
        GenAssign(n, NO_TARGET, false);
        return;
    case N_PREINC:
    case N_POSTINC:
        GenIncDec(n, NO_TARGET, false);
        return;
    case N_CALL:
        GenCall(n, NO_TARGET, false);
        return;
    case N_COMMA:
        for (SQNode* e : n->list)
            GenDiscard(e);
        return;
    default: {
        int saved = _fs->freereg;
        int r = AllocReg();
        Gen(n, r);
        FreeTo(saved);
        return;
    }
    }
}

void CSqCodegen::GenAssign(SQNode* n, int target, bool needValue) {
    int saved = _fs->freereg;
    SQNode* lhs = n->a;
    SQNode* rhs = n->b;
    int op = n->op;
    if (op == '=' || op == TK_NEWSLOT) {
        if (lhs->kind == N_IDENT) {
            SQVarRef ref = ResolveAssignable(lhs, lhs);
            if (op == TK_NEWSLOT && (ref.kind == SQVarRef::LOCAL || ref.kind == SQVarRef::OUTER))
                Error("can't 'create' a local slot");
            if (ref.kind == SQVarRef::LOCAL) {
                GenToLocal(rhs, ref.index);
                SetPos(n);
                if (needValue && target != ref.index)
                    Emit(OP_MOVE, target, ref.index);
            } else if (ref.kind == SQVarRef::OUTER) {
                int r = needValue ? target : AllocReg();
                Gen(rhs, r);
                SetPos(n);
                Emit(OP_SETOUTER, ref.index, r);
            } else {
                int name = NameLiteral(lhs->str);
                SQOperand v = GenValue(rhs, target, needValue);
                SetPos(n);
                if (op == TK_NEWSLOT)
                    Emit(OP_NEWSLOT, 0, name, v.index, static_cast<uint8_t>(FLAG_KB | (v.isConst ? FLAG_KC : 0)));
                else
                    Emit(OP_SETTHIS, 0, name, v.index, v.isConst ? FLAG_KC : 0);
            }
            FreeTo(saved);
            return;
        }
        // member
        int obj = GenMemberObject(lhs);
        SQOperand key = GenRK(lhs->b);
        SQOperand v = GenValue(rhs, target, needValue);
        SetPos(n);
        Emit(op == TK_NEWSLOT ? OP_NEWSLOT : OP_SET, obj, key.index, v.index, KFlags(key, v));
        FreeTo(saved);
        return;
    }
    uint8_t arith;
    switch (op) {
    case TK_PLUSEQ: arith = OP_ADD; break;
    case TK_MINUSEQ: arith = OP_SUB; break;
    case TK_MULEQ: arith = OP_MUL; break;
    case TK_DIVEQ: arith = OP_DIV; break;
    case TK_MODEQ: arith = OP_MOD; break;
    default: Error("invalid assignment operator");
    }
    if (lhs->kind == N_IDENT) {
        SQVarRef ref = ResolveAssignable(lhs, lhs);
        if (ref.kind == SQVarRef::LOCAL) {
            SQOperand v = GenRK(rhs);
            SetPos(n);
            Emit(arith, ref.index, ref.index, v.index, v.isConst ? FLAG_KC : 0);
            if (needValue && target != ref.index)
                Emit(OP_MOVE, target, ref.index);
        } else if (ref.kind == SQVarRef::OUTER) {
            int t = needValue ? target : AllocReg();
            Emit(OP_GETOUTER, t, ref.index);
            SQOperand v = GenRK(rhs);
            SetPos(n);
            Emit(arith, t, t, v.index, v.isConst ? FLAG_KC : 0);
            Emit(OP_SETOUTER, ref.index, t);
        } else {
            int name = NameLiteral(lhs->str);
            int t = needValue ? target : AllocReg();
            Emit(OP_GETTHIS, t, 0, name);
            SQOperand v = GenRK(rhs);
            SetPos(n);
            Emit(arith, t, t, v.index, v.isConst ? FLAG_KC : 0);
            Emit(OP_SETTHIS, 0, name, t);
        }
        FreeTo(saved);
        return;
    }
    int obj = GenMemberObject(lhs);
    SQOperand key = GenRK(lhs->b);
    int t = needValue ? target : AllocReg();
    SetPos(lhs);
    Emit(OP_GET, t, obj, key.index, key.isConst ? FLAG_KC : 0);
    SQOperand v = GenRK(rhs);
    SetPos(n);
    Emit(arith, t, t, v.index, v.isConst ? FLAG_KC : 0);
    Emit(OP_SET, obj, key.index, t, key.isConst ? FLAG_KB : 0);
    FreeTo(saved);
}

void CSqCodegen::GenIncDec(SQNode* n, int target, bool needValue) {
    int saved = _fs->freereg;
    bool post = n->kind == N_POSTINC;
    uint8_t arith = n->op == TK_PLUSPLUS ? OP_ADD : OP_SUB;
    int one = AddLiteral(SQObjectPtr::Integer(1));
    SQNode* lhs = n->a;
    if (lhs->kind == N_IDENT) {
        SQVarRef ref = ResolveAssignable(lhs, n);
        if (ref.kind == SQVarRef::LOCAL) {
            int r = ref.index;
            if (post && needValue) {
                if (target == r) {
                    int t = AllocReg();
                    Emit(OP_MOVE, t, r);
                    Emit(arith, r, r, one, FLAG_KC);
                    Emit(OP_MOVE, r, t);
                } else {
                    Emit(OP_MOVE, target, r);
                    Emit(arith, r, r, one, FLAG_KC);
                }
            } else {
                Emit(arith, r, r, one, FLAG_KC);
                if (needValue && target != r)
                    Emit(OP_MOVE, target, r);
            }
            FreeTo(saved);
            return;
        }
        int t = AllocReg();
        int name = ref.kind == SQVarRef::FREE ? NameLiteral(lhs->str) : 0;
        if (ref.kind == SQVarRef::OUTER)
            Emit(OP_GETOUTER, t, ref.index);
        else
            Emit(OP_GETTHIS, t, 0, name);
        if (post && needValue)
            Emit(OP_MOVE, target, t);
        Emit(arith, t, t, one, FLAG_KC);
        if (ref.kind == SQVarRef::OUTER)
            Emit(OP_SETOUTER, ref.index, t);
        else
            Emit(OP_SETTHIS, 0, name, t);
        if (!post && needValue)
            Emit(OP_MOVE, target, t);
        FreeTo(saved);
        return;
    }
    int obj = GenMemberObject(lhs);
    SQOperand key = GenRK(lhs->b);
    int t = AllocReg();
    SetPos(n);
    Emit(OP_GET, t, obj, key.index, key.isConst ? FLAG_KC : 0);
    if (post && needValue)
        Emit(OP_MOVE, target, t);
    Emit(arith, t, t, one, FLAG_KC);
    Emit(OP_SET, obj, key.index, t, key.isConst ? FLAG_KB : 0);
    if (!post && needValue)
        Emit(OP_MOVE, target, t);
    FreeTo(saved);
}

void CSqCodegen::GenCall(SQNode* n, int target, bool tail) {
    int saved = _fs->freereg;
    int base;
    if (target != NO_TARGET && target == _fs->freereg - 1 && target >= _fs->nactive) {
        base = target;
    } else {
        base = AllocReg();
    }
    AllocReg(); // this
    SQNode* callee = n->a;
    bool handled = false;
    if (callee->kind == N_MEMBER) {
        SQObjectPtr cv;
        if (!ConstValue(callee, cv)) {
            uint8_t flags = 0;
            int obj;
            if (callee->a && callee->a->kind == N_BASE) {
                obj = AllocReg();
                SetPos(callee->a);
                Emit(OP_GETBASE, obj);
                flags = FLAG_THISCALL;
            } else {
                obj = GenMemberObject(callee);
            }
            SQOperand key = GenRK(callee->b);
            SetPos(callee);
            Emit(OP_PREPCALL, base, obj, key.index, static_cast<uint8_t>(flags | (key.isConst ? FLAG_KC : 0)));
            FreeTo(base + 2);
            handled = true;
        }
    } else if (callee->kind == N_IDENT) {
        SQVarRef ref = Resolve(callee->str);
        if (ref.kind == SQVarRef::FREE) {
            SetPos(callee);
            Emit(OP_PREPCALLTHIS, base, 0, NameLiteral(callee->str));
            handled = true;
        }
    }
    if (!handled) {
        Gen(callee, base);
        SetPos(n);
        Emit(OP_MOVE, base + 1, 0);
        FreeTo(base + 2);
    }
    for (SQNode* arg : n->list) {
        int r = AllocReg();
        Gen(arg, r);
    }
    int nargs = static_cast<int>(n->list.size()) + 1;
    if (nargs > 0xFFFF)
        Error("too many arguments");
    SetPos(n);
    if (tail) {
        Emit(OP_TAILCALL, base, nargs);
        Emit(OP_RETURN, base, 1);
    } else {
        Emit(OP_CALL, base, nargs, target);
    }
    FreeTo(saved);
}

void CSqCodegen::GenDelete(SQNode* n, int target) {
    int saved = _fs->freereg;
    int t = target == NO_TARGET ? AllocReg() : target;
    SetPos(n);
    if (n->kind == N_IDENT) {
        SQVarRef ref = Resolve(n->str);
        if (ref.kind == SQVarRef::LOCAL)
            Error("cannot delete a local");
        if (ref.kind == SQVarRef::OUTER)
            Error("cannot delete an outer local");
        if (ref.kind == SQVarRef::CONST)
            Error("cannot delete a constant");
        Emit(OP_DELETE, t, 0, NameLiteral(n->str), FLAG_KC);
        FreeTo(saved);
        return;
    }
    int obj = GenMemberObject(n);
    SQOperand key = GenRK(n->b);
    SetPos(n);
    Emit(OP_DELETE, t, obj, key.index, key.isConst ? FLAG_KC : 0);
    FreeTo(saved);
}

void CSqCodegen::GenClosure(SQNode* n, int target) {
    int saved = _fs->freereg;
    SQFuncNode* f = n->func;
    SQObjectPtr proto = CompileFunction(f);
    auto& functions = _fs->proto->_functions;
    functions.push_back(proto);
    if (functions.size() > 0xFFFF)
        Error("too many functions");
    int idx = static_cast<int>(functions.size() - 1);
    int first = _fs->freereg;
    for (SQNode* d : f->defaults) {
        int r = AllocReg();
        Gen(d, r);
    }
    for (const auto& name : f->freevars) {
        int r = AllocReg();
        SQNode tmp;
        tmp.kind = N_IDENT;
        tmp.line = n->line;
        tmp.col = n->col;
        tmp.str = name;
        Gen(&tmp, r);
    }
    SetPos(n);
    Emit(OP_CLOSURE, target, idx, first);
    FreeTo(saved);
}

void CSqCodegen::GenClass(SQNode* n, int target) {
    int saved = _fs->freereg;
    SQClassNode* cls = n->cls;
    uint8_t flags = 0;
    int b = 0, c = 0;
    if (cls->base) {
        b = GenAny(cls->base);
        flags |= FLAG_BASE;
    }
    if (cls->attrs) {
        c = GenAny(cls->attrs);
        flags |= FLAG_ATTR;
    }
    SetPos(n);
    Emit(OP_CLASS, target, b, c, flags);
    FreeTo(saved);
    for (auto& m : cls->members) {
        int k = AllocReg();
        int ka = m.attrs ? AllocReg() : 0;
        Gen(m.key, k);
        if (m.attrs)
            Gen(m.attrs, ka);
        int v = GenAny(m.value);
        SetPos(m.key);
        Emit(OP_NEWMEMBER, target, k, v,
             static_cast<uint8_t>((m.attrs ? FLAG_ATTR : 0) | (m.isStatic ? FLAG_STATIC : 0)));
        FreeTo(saved);
    }
}

std::vector<int> CSqCodegen::GenCond(SQNode* n, bool jumpIfTrue) {
    DepthGuard guard(*this);
    int saved = _fs->freereg;
    switch (n->kind) {
    case N_UNARY:
        if (n->op == '!')
            return GenCond(n->a, !jumpIfTrue);
        break;
    case N_AND:
    case N_OR: {
        if ((n->kind == N_AND) != jumpIfTrue) {
            // `a && b` is false, and `a || b` true, as soon as either operand is: both jump out
            std::vector<int> jumps = GenCond(n->a, jumpIfTrue);
            std::vector<int> more = GenCond(n->b, jumpIfTrue);
            jumps.insert(jumps.end(), more.begin(), more.end());
            return jumps;
        }
        // otherwise the first operand alone decides only the other way: it skips the second
        std::vector<int> skip = GenCond(n->a, !jumpIfTrue);
        std::vector<int> jumps = GenCond(n->b, jumpIfTrue);
        PatchAll(skip, Pc());
        return jumps;
    }
    case N_LITERAL: {
        bool truth = !IsFalse(LiteralValue(n->lit));
        SetPos(n);
        if (truth == jumpIfTrue)
            return {EmitJump()};
        return {};
    }
    case N_BINARY: {
        int op = n->op;
        if (op == TK_EQ || op == TK_NE || op == '<' || op == '>' || op == TK_LE || op == TK_GE) {
            SQOperand l = GenRK(n->a);
            SQOperand r = GenRK(n->b);
            SetPos(n);
            switch (op) {
            case TK_EQ: Emit(OP_JEQ, jumpIfTrue ? 1 : 0, l.index, r.index, KFlags(l, r)); break;
            case TK_NE: Emit(OP_JEQ, jumpIfTrue ? 0 : 1, l.index, r.index, KFlags(l, r)); break;
            case '<': Emit(OP_JLT, jumpIfTrue ? 1 : 0, l.index, r.index, KFlags(l, r)); break;
            case TK_LE: Emit(OP_JLE, jumpIfTrue ? 1 : 0, l.index, r.index, KFlags(l, r)); break;
            case '>': Emit(OP_JLT, jumpIfTrue ? 1 : 0, r.index, l.index, KFlags(r, l)); break;
            case TK_GE: Emit(OP_JLE, jumpIfTrue ? 1 : 0, r.index, l.index, KFlags(r, l)); break;
            }
            int j = EmitJump();
            FreeTo(saved);
            return {j};
        }
        break;
    }
    default:
        break;
    }
    int r = GenAny(n);
    SetPos(n);
    Emit(OP_TEST, r, jumpIfTrue ? 1 : 0);
    int j = EmitJump();
    FreeTo(saved);
    return {j};
}

void CSqCodegen::GenBreakContinue(SQNode* n, bool isBreak) {
    SetPos(n);
    SQLoopInfo* loop = nullptr;
    for (size_t i = _fs->loops.size(); i-- > 0;) {
        if (isBreak || !_fs->loops[i].isSwitch) {
            loop = &_fs->loops[i];
            break;
        }
    }
    if (!loop)
        Error(isBreak ? "'break' has to be in a loop block" : "'continue' has to be in a loop block");
    if (_fs->trapDepth > loop->trapDepth)
        Emit(OP_POPTRAP, _fs->trapDepth - loop->trapDepth);
    if (_fs->nactive > loop->nactive)
        Emit(OP_CLOSE, loop->nactive);
    int j = EmitJump();
    if (isBreak)
        loop->breaks.push_back(j);
    else
        loop->continues.push_back(j);
}

void CSqCodegen::GenStatement(SQNode* n) {
    DepthGuard guard(*this);
    SetPos(n);
    switch (n->kind) {
    case S_EMPTY:
        return;
    case S_BLOCK:
        BeginScope();
        for (SQNode* s : n->list)
            GenStatement(s);
        EndScope();
        return;
    case S_EXPR:
        GenDiscard(n->a);
        FreeTo(_fs->nactive);
        return;
    case S_LOCAL:
        for (size_t i = 0; i < n->names.size(); ++i) {
            int r = AllocReg();
            if (n->list[i]) {
                Gen(n->list[i], r);
            } else {
                SetPos(n);
                Emit(OP_LOADNULL, r, 1);
            }
            DeclareLocal(n->names[i], r);
        }
        return;
    case S_LOCALFUNC: {
        int r = AllocReg();
        DeclareLocal(n->names[0], r);
        Gen(n->a, r);
        return;
    }
    case S_IF: {
        std::vector<int> ends;
        for (size_t i = 0; i < n->list.size(); ++i) {
            std::vector<int> f = GenCond(n->list[i], false);
            GenScoped(n->list2[i]);
            bool more = i + 1 < n->list.size() || n->a;
            if (more)
                ends.push_back(EmitJump());
            PatchAll(f, Pc());
        }
        if (n->a)
            GenScoped(n->a);
        PatchAll(ends, Pc());
        return;
    }
    case S_WHILE: {
        int j0 = EmitJump();
        int bodyStart = Pc();
        BeginLoop(false);
        GenLoopBody(n->b);
        int condPc = Pc();
        PatchJump(j0, condPc);
        std::vector<int> t = GenCond(n->a, true);
        PatchAll(t, bodyStart);
        EndLoop(condPc);
        return;
    }
    case S_DOWHILE: {
        int bodyStart = Pc();
        BeginLoop(false);
        GenLoopBody(n->b);
        int condPc = Pc();
        std::vector<int> t = GenCond(n->a, true);
        PatchAll(t, bodyStart);
        EndLoop(condPc);
        return;
    }
    case S_FOR: {
        BeginScope();
        if (n->a)
            GenStatement(n->a);
        int j0 = n->b ? EmitJump() : -1;
        int bodyStart = Pc();
        BeginLoop(false);
        GenLoopBody(n->d);
        int contPc = Pc();
        if (n->c) {
            GenDiscard(n->c);
            FreeTo(_fs->nactive);
        }
        if (n->b) {
            PatchJump(j0, Pc());
            std::vector<int> t = GenCond(n->b, true);
            PatchAll(t, bodyStart);
        } else {
            EmitJumpTo(bodyStart);
        }
        EndLoop(contPc);
        EndScope();
        return;
    }
    case S_FOREACH: {
        BeginScope();
        int base = AllocReg();
        AllocReg();
        AllocReg();
        AllocReg();
        Gen(n->a, base);
        SetPos(n);
        Emit(OP_LOADNULL, base + 1, 3);
        DeclareLocal("@container", base);
        DeclareLocal("@iterator", base + 1);
        DeclareLocal(n->names[0].empty() ? "@key" : n->names[0], base + 2);
        size_t keyLocal = _fs->locals.size() - 1;
        DeclareLocal(n->names[1], base + 3);
        size_t valLocal = _fs->locals.size() - 1;
        int loopPc = Pc();
        int exit1 = EmitSbx(OP_FOREACH, base, 0);
        int exit2 = EmitSbx(OP_POSTFOREACH, base, 0);
        BeginLoop(false);
        GenLoopBody(n->b);
        int contPc = Pc();
        SetPos(n);
        if (_fs->locals[keyLocal].captured || _fs->locals[valLocal].captured)
            Emit(OP_CLOSE, base + 2);
        EmitJumpTo(loopPc);
        PatchToHere(exit1);
        PatchToHere(exit2);
        EndLoop(contPc);
        EndScope();
        return;
    }
    case S_SWITCH: {
        BeginScope();
        int r = AllocReg();
        Gen(n->a, r);
        DeclareLocal("@switch", r);
        BeginLoop(true);
        int failJump = -1, fallJump = -1;
        for (size_t i = 0; i < n->list.size(); ++i) {
            if (failJump >= 0)
                PatchToHere(failJump);
            int saved = _fs->freereg;
            SQOperand k = GenRK(n->list[i]);
            SetPos(n->list[i]);
            Emit(OP_JEQ, 0, r, k.index, k.isConst ? FLAG_KC : 0);
            failJump = EmitJump();
            FreeTo(saved);
            if (fallJump >= 0)
                PatchToHere(fallJump);
            GenScoped(n->list2[i]);
            fallJump = EmitJump();
        }
        if (failJump >= 0)
            PatchToHere(failJump);
        if (fallJump >= 0)
            PatchToHere(fallJump);
        if (n->c)
            GenScoped(n->c);
        EndLoop(Pc()); // a switch has no continues of its own
        EndScope();
        return;
    }
    case S_RETURN:
        if (n->a) {
            if (n->a->kind == N_CALL && _fs->trapDepth == 0 && !_fs->generator) {
                GenCall(n->a, NO_TARGET, true);
                return;
            }
            GenOnOperand(n, OP_RETURN, 1);
        } else {
            Emit(OP_RETURN, 0, 0);
        }
        return;
    case S_YIELD:
        if (n->a) {
            GenOnOperand(n, OP_YIELD, 1);
        } else {
            Emit(OP_YIELD, 0, 0);
        }
        return;
    case S_BREAK:
        GenBreakContinue(n, true);
        return;
    case S_CONTINUE:
        GenBreakContinue(n, false);
        return;
    case S_THROW:
        GenOnOperand(n, OP_THROW, 0);
        return;
    case S_TRY: {
        int catchReg = _fs->nactive;
        int trap = EmitSbx(OP_PUSHTRAP, catchReg, 0);
        _fs->trapDepth++;
        GenScoped(n->a);
        _fs->trapDepth--;
        SetPos(n);
        Emit(OP_POPTRAP, 1);
        int j = EmitJump();
        PatchToHere(trap);
        BeginScope();
        int r = AllocReg();
        DeclareLocal(n->names[0], r);
        (void)catchReg;
        GenScoped(n->b);
        EndScope();
        PatchToHere(j);
        return;
    }
    case S_CONST: {
        SQObjectPtr key = _ss->Str(n->names[0]);
        if (_ss->_consts._type == OT_TABLE)
            AsTable(_ss->_consts)->NewSlot(key, LiteralValue(n->a->lit));
        return;
    }
    case S_ENUM: {
        CSqTable* t = CSqTable::Create(_ss, static_cast<SQInteger>(n->list.size()));
        SQObjectPtr table(t);
        for (size_t i = 0; i < n->list.size(); ++i)
            t->NewSlot(_ss->Str(n->names[i + 1]), LiteralValue(n->list[i]->lit));
        if (_ss->_consts._type == OT_TABLE)
            AsTable(_ss->_consts)->NewSlot(_ss->Str(n->names[0]), table);
        return;
    }
    default:
        Error("statement expected");
    }
}

} // namespace

bool CompileToProto(CSqVM* vm, const std::string& src, int badCharPos, const char* sourcename, SQObjectPtr& proto,
                    SQCompileError& error) {
    std::string source = sourcename ? sourcename : "unnamedbuffer";
    try {
        CSqLexer lexer(src, badCharPos);
        CSqAstArena arena;
        CSqParser parser(lexer, arena, source);
        SQFuncNode* main = parser.ParseProgram();
        CSqCodegen gen(vm, source);
        proto = gen.CompileFunction(main);
        return true;
    } catch (const SQCompileError& e) {
        error = e;
        return false;
    }
}

} // namespace Squirrel
