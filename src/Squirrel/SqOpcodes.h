#pragma once
// Register bytecode. R[x] is a register of the running frame (R[0] is `this`), K[x] a literal of its
// function. RK(x) is K[x] when the instruction's flag for that operand is set, R[x] otherwise.

#include <cstdint>

namespace Squirrel {

#define SQ_OPCODES(X) \
    X(LOADK) \
    X(LOADI) \
    X(LOADNULL) \
    X(LOADBOOL) \
    X(LOADROOT) \
    X(MOVE) \
    X(GETOUTER) \
    X(SETOUTER) \
    X(NEWTABLE) \
    X(NEWARRAY) \
    X(APPEND) \
    X(GET) \
    X(GETTHIS) \
    X(SET) \
    X(SETTHIS) \
    X(NEWSLOT) \
    X(NEWMEMBER) \
    X(DELETE) \
    X(ADD) \
    X(SUB) \
    X(MUL) \
    X(DIV) \
    X(MOD) \
    X(BAND) \
    X(BOR) \
    X(BXOR) \
    X(SHL) \
    X(SHR) \
    X(USHR) \
    X(UNM) \
    X(NOT) \
    X(BNOT) \
    X(TYPEOF) \
    X(CLONE) \
    X(EQ) \
    X(NE) \
    X(LT) \
    X(LE) \
    X(GT) \
    X(GE) \
    X(CMP3) \
    X(JEQ) \
    X(JLT) \
    X(JLE) \
    X(TEST) \
    X(JMP) \
    X(IN) \
    X(INSTANCEOF) \
    X(CALL) \
    X(TAILCALL) \
    X(PREPCALL) \
    X(PREPCALLTHIS) \
    X(GETBASE) \
    X(RETURN) \
    X(CLOSURE) \
    X(CLASS) \
    X(FOREACH) \
    X(POSTFOREACH) \
    X(YIELD) \
    X(RESUME) \
    X(THROW) \
    X(PUSHTRAP) \
    X(POPTRAP) \
    X(CLOSE)

enum eSqOp : uint8_t {
    OP_LOADK,        // R[A] = K[Bx]
    OP_LOADI,        // R[A] = sBx
    OP_LOADNULL,     // R[A .. A+B-1] = null
    OP_LOADBOOL,     // R[A] = B != 0
    OP_LOADROOT,     // R[A] = root table
    OP_MOVE,         // R[A] = R[B]
    OP_GETOUTER,     // R[A] = outer[B]
    OP_SETOUTER,     // outer[A] = R[B]
    OP_NEWTABLE,     // R[A] = {} (B: size hint)
    OP_NEWARRAY,     // R[A] = [] (B: size hint)
    OP_APPEND,       // R[A].append(RK(B))
    OP_GET,          // R[A] = R[B][RK(C)]
    OP_GETTHIS,      // R[A] = this[K[C]], falling back to the root table
    OP_SET,          // R[A][RK(B)] = RK(C)
    OP_SETTHIS,      // this[K[B]] = RK(C), falling back to the root table
    OP_NEWSLOT,      // R[A][RK(B)] <- RK(C)
    OP_NEWMEMBER,    // class R[A]: member R[B] = R[C]; attributes in R[B+1] with FLAG_ATTR; FLAG_STATIC
    OP_DELETE,       // R[A] = delete R[B][RK(C)]
    OP_ADD,          // R[A] = RK(B) op RK(C) for the arithmetic and bitwise group
    OP_SUB,
    OP_MUL,
    OP_DIV,
    OP_MOD,
    OP_BAND,
    OP_BOR,
    OP_BXOR,
    OP_SHL,
    OP_SHR,
    OP_USHR,
    OP_UNM,          // R[A] = op R[B]
    OP_NOT,
    OP_BNOT,
    OP_TYPEOF,
    OP_CLONE,
    OP_EQ,           // R[A] = RK(B) op RK(C) as bool
    OP_NE,
    OP_LT,
    OP_LE,
    OP_GT,
    OP_GE,
    OP_CMP3,         // R[A] = RK(B) <=> RK(C)
    OP_JEQ,          // if ((RK(B) == RK(C)) == A) run the following JMP, else skip it
    OP_JLT,
    OP_JLE,
    OP_TEST,         // if (truth(R[A]) == B) run the following JMP, else skip it
    OP_JMP,          // ip += sBx
    OP_IN,           // R[A] = RK(B) in R[C]
    OP_INSTANCEOF,   // R[A] = R[B] instanceof R[C]
    OP_CALL,         // call R[A] with B parameters from R[A+1] (the first is this); result to R[C]
    OP_TAILCALL,     // return R[A](B parameters)
    OP_PREPCALL,     // R[A] = R[B][RK(C)]; R[A+1] = R[B] (or this with FLAG_THISCALL)
    OP_PREPCALLTHIS, // R[A] = this[K[C]] (root fallback); R[A+1] = this
    OP_GETBASE,      // R[A] = base class of the running method
    OP_RETURN,       // return R[A] when B, null otherwise
    OP_CLOSURE,      // R[A] = closure of function B; default values and captured values from R[C]
    OP_CLASS,        // R[A] = class (base R[B] with FLAG_BASE, attributes R[C] with FLAG_ATTR)
    OP_FOREACH,      // advance the iteration over R[A] (R[A+1] position, R[A+2] key, R[A+3] value); at the end
                     // ip += sBx
    OP_POSTFOREACH,  // when R[A] is a generator that died, ip += sBx
    OP_YIELD,        // suspend the generator with R[A] (B) or null
    OP_RESUME,       // R[A] = resume R[B]
    OP_THROW,        // throw R[A]
    OP_PUSHTRAP,     // catch errors at ip + sBx with the error in R[A]
    OP_POPTRAP,      // drop A traps
    OP_CLOSE,        // close the outer variables at or above R[A]
    OP_COUNT
};

enum : uint8_t {
    FLAG_KB = 1,
    FLAG_KC = 2,
    FLAG_ATTR = 4,
    FLAG_STATIC = 8,
    FLAG_BASE = 16,
    FLAG_THISCALL = 32,
};

constexpr uint16_t NO_TARGET = 0xFFFF;

struct SQInstruction {
    uint8_t op;
    uint8_t flags;
    uint16_t a;
    uint16_t b;
    uint16_t c;
    int32_t Sbx() const { return static_cast<int32_t>(static_cast<uint32_t>(b) | (static_cast<uint32_t>(c) << 16)); }
    uint32_t Bx() const { return static_cast<uint32_t>(b) | (static_cast<uint32_t>(c) << 16); }
    void SetSbx(int32_t v) {
        uint32_t u = static_cast<uint32_t>(v);
        b = static_cast<uint16_t>(u & 0xFFFF);
        c = static_cast<uint16_t>(u >> 16);
    }
};
static_assert(sizeof(SQInstruction) == 8);

} // namespace Squirrel
