#pragma once
// Syntax tree produced by the parser and consumed by the code generator. Nodes are owned by the parser's
// arena and linked by plain pointers, so freeing a deep tree never recurses.

#include "Squirrel/Squirrel.h"

#include <memory>
#include <string>
#include <vector>

namespace Squirrel {

enum eNode {
    // expressions
    N_LITERAL,
    N_IDENT,
    N_THIS,
    N_BASE,
    N_MEMBER,   // a[b]; a == null means the root table (::b)
    N_CALL,     // a(list)
    N_UNARY,    // op a: '-', '!', '~', TK_TYPEOF, TK_CLONE, TK_RESUME, TK_DELETE
    N_PREINC,   // op a with op TK_PLUSPLUS / TK_MINUSMINUS
    N_POSTINC,
    N_BINARY,   // a op b (arithmetic, comparison, bitwise, TK_IN, TK_INSTANCEOF)
    N_AND,
    N_OR,
    N_ASSIGN,   // a op b with op '=', TK_NEWSLOT, TK_PLUSEQ ...
    N_TERNARY,  // a ? b : c
    N_COMMA,    // list
    N_TABLE,    // keys in list, values in list2
    N_ARRAY,    // list
    N_FUNCTION, // func
    N_CLASS,    // cls
    // statements
    S_EMPTY,
    S_BLOCK,    // list
    S_EXPR,     // a
    S_LOCAL,    // names with initialisers in list (null entries for none)
    S_LOCALFUNC,// names[0] = a (a function node)
    S_IF,       // clauses: list (conditions) / list2 (bodies); else in a
    S_WHILE,    // a cond, b body
    S_DOWHILE,  // a cond, b body
    S_FOR,      // a init (statement or null), b cond, c increment, d body
    S_FOREACH,  // names[0] key (may be empty), names[1] value, a container, b body
    S_SWITCH,   // a value; list case values; list2 case bodies (blocks); c default body
    S_RETURN,   // a (may be null)
    S_YIELD,    // a (may be null)
    S_BREAK,
    S_CONTINUE,
    S_THROW,    // a
    S_TRY,      // a body, names[0] catch variable, b handler
    S_CONST,    // names[0] = literal a
    S_ENUM,     // names[0] = enum name; names[1..] entries with literals in list
};

struct SQLiteral {
    enum eKind { LNULL, INT, FLOAT, BOOL, STRING };
    eKind kind = LNULL;
    SQInteger i = 0;
    SQFloat f = 0;
    std::string s;
};

struct SQFuncNode;
struct SQClassNode;

struct SQNode {
    eNode kind;
    int line = 0;
    int col = 0;
    int op = 0;
    SQNode* a = nullptr;
    SQNode* b = nullptr;
    SQNode* c = nullptr;
    SQNode* d = nullptr;
    std::vector<SQNode*> list;
    std::vector<SQNode*> list2;
    std::vector<std::string> names;
    std::string str;
    SQLiteral lit;
    SQFuncNode* func = nullptr;
    SQClassNode* cls = nullptr;
};

struct SQFuncNode {
    std::string name;
    int line = 0;
    int col = 0;
    std::vector<std::string> params;
    std::vector<SQNode*> defaults; // for the last params
    std::vector<std::string> freevars;
    bool varargs = false;
    bool generator = false;
    SQNode* body = nullptr;
};

struct SQClassMemberNode {
    SQNode* key = nullptr;
    SQNode* value = nullptr;
    SQNode* attrs = nullptr;
    bool isStatic = false;
};

struct SQClassNode {
    SQNode* base = nullptr;
    SQNode* attrs = nullptr;
    std::vector<SQClassMemberNode> members;
};

// Owns every node of one compilation.
class CSqAstArena {
public:
    SQNode* Node(eNode kind, int line, int col) {
        _nodes.push_back(std::make_unique<SQNode>());
        SQNode* n = _nodes.back().get();
        n->kind = kind;
        n->line = line;
        n->col = col;
        return n;
    }
    SQFuncNode* Func() {
        _funcs.push_back(std::make_unique<SQFuncNode>());
        return _funcs.back().get();
    }
    SQClassNode* Class() {
        _classes.push_back(std::make_unique<SQClassNode>());
        return _classes.back().get();
    }

private:
    std::vector<std::unique_ptr<SQNode>> _nodes;
    std::vector<std::unique_ptr<SQFuncNode>> _funcs;
    std::vector<std::unique_ptr<SQClassNode>> _classes;
};

} // namespace Squirrel
