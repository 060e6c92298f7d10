#include "SqCompiler.h"

namespace Squirrel {

CSqParser::DepthGuard::DepthGuard(CSqParser& p) : _p(p) {
    if (++_p._depth > kMaxParseDepth) {
        --_p._depth;
        _p.Error("statements or expressions nested too deeply");
    }
}

CSqParser::CSqParser(CSqLexer& lexer, CSqAstArena& arena, std::string sourcename)
    : _lexer(lexer), _arena(arena), _sourcename(std::move(sourcename)) {}

void CSqParser::Error(const std::string& msg) {
    throw SQCompileError{msg, _tok.line, _tok.col};
}

void CSqParser::Lex() {
    _prevLine = _tok.line;
    if (!_lexer.Next(_tok))
        throw SQCompileError{_lexer.Error(), _lexer.ErrorLine(), _lexer.ErrorCol()};
}

void CSqParser::Expect(int tok) {
    if (_tok.type != tok) {
        if (tok == TK_IDENTIFIER || tok == TK_STRING_LITERAL || tok == TK_INTEGER || tok == TK_FLOAT)
            Error("expected '" + CSqLexer::TokenText(tok) + "'");
        Error("expected '" + CSqLexer::TokenText(tok) + "'");
    }
    Lex();
}

std::string CSqParser::ExpectIdentifier() {
    if (_tok.type != TK_IDENTIFIER)
        Error("expected 'IDENTIFIER'");
    std::string name = _tok.text;
    Lex();
    return name;
}

bool CSqParser::IsEndOfStatement() const {
    return _tok.newlineBefore || _tok.type == TK_EOF || _tok.type == '}' || _tok.type == ';';
}

void CSqParser::ExpectEndOfStatement() {
    if (_tok.type == ';') {
        Lex();
        return;
    }
    if (!IsEndOfStatement())
        Error("end of statement expected (; or lf)");
}

SQNode* CSqParser::Literal(SQLiteral lit, int line, int col) {
    SQNode* n = _arena.Node(N_LITERAL, line, col);
    n->lit = std::move(lit);
    return n;
}

SQNode* CSqParser::StringLiteral(const std::string& s, int line, int col) {
    SQLiteral lit;
    lit.kind = SQLiteral::STRING;
    lit.s = s;
    return Literal(std::move(lit), line, col);
}

SQNode* CSqParser::FunctionNode(const std::string& name, int line, int col, bool lambda) {
    SQNode* f = _arena.Node(N_FUNCTION, line, col);
    f->func = ParseFunctionRest(name, line, col, lambda);
    return f;
}

SQNode* CSqParser::ParseNamedFunction() {
    Lex(); // 'function'
    int line = _tok.line, col = _tok.col;
    std::string name = ExpectIdentifier();
    return FunctionNode(name, line, col, false);
}

SQFuncNode* CSqParser::ParseProgram() {
    SQFuncNode* main = _arena.Func();
    main->name = "main";
    main->varargs = true;
    main->line = 1;
    _funcStack.push_back(main);
    Lex();
    SQNode* block = _arena.Node(S_BLOCK, 1, 1);
    while (_tok.type != TK_EOF)
        block->list.push_back(ParseStatement());
    main->body = block;
    _funcStack.pop_back();
    return main;
}

SQNode* CSqParser::ParseStatement() {
    DepthGuard guard(*this);
    int line = _tok.line, col = _tok.col;
    switch (_tok.type) {
    case ';':
        Lex();
        return _arena.Node(S_EMPTY, line, col);
    case '{':
        return ParseBlock();
    case TK_IF:
        return ParseIf();
    case TK_WHILE: {
        Lex();
        Expect('(');
        SQNode* n = _arena.Node(S_WHILE, line, col);
        n->a = ParseCommaExpr();
        Expect(')');
        n->b = ParseStatement();
        return n;
    }
    case TK_DO: {
        Lex();
        SQNode* n = _arena.Node(S_DOWHILE, line, col);
        n->b = ParseStatement();
        Expect(TK_WHILE);
        Expect('(');
        n->a = ParseCommaExpr();
        Expect(')');
        if (_tok.type == ';')
            Lex();
        return n;
    }
    case TK_FOR:
        return ParseFor();
    case TK_FOREACH:
        return ParseForeach();
    case TK_SWITCH:
        return ParseSwitch();
    case TK_LOCAL: {
        SQNode* n = ParseLocal(false);
        if (n->kind == S_LOCAL)
            ExpectEndOfStatement();
        return n;
    }
    case TK_RETURN:
    case TK_YIELD: {
        bool isYield = _tok.type == TK_YIELD;
        Lex();
        SQNode* n = _arena.Node(isYield ? S_YIELD : S_RETURN, line, col);
        if (isYield)
            _funcStack.back()->generator = true;
        if (!IsEndOfStatement())
            n->a = ParseCommaExpr();
        ExpectEndOfStatement();
        return n;
    }
    case TK_BREAK:
    case TK_CONTINUE: {
        SQNode* n = _arena.Node(_tok.type == TK_BREAK ? S_BREAK : S_CONTINUE, line, col);
        Lex();
        ExpectEndOfStatement();
        return n;
    }
    case TK_FUNCTION:
        return ParseFunctionStatement();
    case TK_CLASS:
        return ParseClassStatement();
    case TK_ENUM:
        return ParseEnum();
    case TK_CONST:
        return ParseConst();
    case TK_TRY:
        return ParseTry();
    case TK_THROW: {
        Lex();
        SQNode* n = _arena.Node(S_THROW, line, col);
        n->a = ParseCommaExpr();
        ExpectEndOfStatement();
        return n;
    }
    default: {
        SQNode* n = _arena.Node(S_EXPR, line, col);
        n->a = ParseCommaExpr();
        ExpectEndOfStatement();
        return n;
    }
    }
}

SQNode* CSqParser::ParseBlock() {
    SQNode* n = _arena.Node(S_BLOCK, _tok.line, _tok.col);
    Expect('{');
    while (_tok.type != '}') {
        if (_tok.type == TK_EOF)
            Error("expected '}'");
        n->list.push_back(ParseStatement());
    }
    Lex();
    return n;
}

SQNode* CSqParser::ParseIf() {
    SQNode* n = _arena.Node(S_IF, _tok.line, _tok.col);
    for (;;) {
        Lex(); // 'if'
        Expect('(');
        n->list.push_back(ParseCommaExpr());
        Expect(')');
        n->list2.push_back(ParseStatement());
        if (_tok.type != TK_ELSE)
            break;
        Lex();
        if (_tok.type == TK_IF)
            continue; // else-if chains stay flat so long chains do not nest
        n->a = ParseStatement();
        break;
    }
    return n;
}

SQNode* CSqParser::ParseLocal(bool inFor) {
    int line = _tok.line, col = _tok.col;
    Lex(); // 'local'
    if (_tok.type == TK_FUNCTION && !inFor) {
        SQNode* n = _arena.Node(S_LOCALFUNC, line, col);
        n->a = ParseNamedFunction();
        n->names.push_back(n->a->func->name);
        return n;
    }
    SQNode* n = _arena.Node(S_LOCAL, line, col);
    for (;;) {
        n->names.push_back(ExpectIdentifier());
        if (_tok.type == '=') {
            Lex();
            n->list.push_back(ParseExpression());
        } else {
            n->list.push_back(nullptr);
        }
        if (_tok.type != ',')
            break;
        Lex();
    }
    return n;
}

SQNode* CSqParser::ParseFor() {
    SQNode* n = _arena.Node(S_FOR, _tok.line, _tok.col);
    Lex();
    Expect('(');
    if (_tok.type == TK_LOCAL) {
        n->a = ParseLocal(true);
    } else if (_tok.type != ';') {
        SQNode* e = _arena.Node(S_EXPR, _tok.line, _tok.col);
        e->a = ParseCommaExpr();
        n->a = e;
    }
    Expect(';');
    if (_tok.type != ';')
        n->b = ParseCommaExpr();
    Expect(';');
    if (_tok.type != ')')
        n->c = ParseCommaExpr();
    Expect(')');
    n->d = ParseStatement();
    return n;
}

SQNode* CSqParser::ParseForeach() {
    SQNode* n = _arena.Node(S_FOREACH, _tok.line, _tok.col);
    Lex();
    Expect('(');
    std::string first = ExpectIdentifier();
    if (_tok.type == ',') {
        Lex();
        n->names.push_back(first);
        n->names.push_back(ExpectIdentifier());
    } else {
        n->names.push_back("");
        n->names.push_back(first);
    }
    Expect(TK_IN);
    n->a = ParseCommaExpr();
    Expect(')');
    n->b = ParseStatement();
    return n;
}

SQNode* CSqParser::ParseSwitch() {
    SQNode* n = _arena.Node(S_SWITCH, _tok.line, _tok.col);
    Lex();
    Expect('(');
    n->a = ParseCommaExpr();
    Expect(')');
    Expect('{');
    while (_tok.type == TK_CASE) {
        Lex();
        n->list.push_back(ParseExpression());
        Expect(':');
        n->list2.push_back(ParseCaseBody(false));
    }
    if (_tok.type == TK_DEFAULT) {
        Lex();
        Expect(':');
        n->c = ParseCaseBody(true);
    }
    Expect('}');
    return n;
}

SQNode* CSqParser::ParseCaseBody(bool isDefault) {
    SQNode* body = _arena.Node(S_BLOCK, _tok.line, _tok.col);
    // the default comes last: only the end of the switch ends it
    while (_tok.type != '}' && (isDefault || (_tok.type != TK_CASE && _tok.type != TK_DEFAULT))) {
        if (_tok.type == TK_EOF)
            Error("expected '}'");
        body->list.push_back(ParseStatement());
    }
    return body;
}

SQNode* CSqParser::ParseTry() {
    SQNode* n = _arena.Node(S_TRY, _tok.line, _tok.col);
    Lex();
    n->a = ParseStatement();
    Expect(TK_CATCH);
    Expect('(');
    n->names.push_back(ExpectIdentifier());
    Expect(')');
    n->b = ParseStatement();
    return n;
}

SQNode* CSqParser::ParseDefinitionTarget(std::string& last) {
    int nl = _tok.line, nc = _tok.col;
    last = ExpectIdentifier();
    // a.b::c stores into a.b.c; a plain name goes into `this`
    SQNode* holder = _arena.Node(N_THIS, nl, nc);
    bool first = true;
    while (_tok.type == TK_DOUBLE_COLON || _tok.type == '.') {
        Lex();
        int kl = _tok.line, kc = _tok.col;
        std::string next = ExpectIdentifier();
        if (first) {
            holder = _arena.Node(N_IDENT, nl, nc);
            holder->str = last;
            first = false;
        } else {
            SQNode* m = _arena.Node(N_MEMBER, kl, kc);
            m->a = holder;
            m->b = StringLiteral(last, kl, kc);
            holder = m;
        }
        last = next;
    }
    SQNode* target = _arena.Node(N_MEMBER, nl, nc);
    target->a = holder;
    target->b = StringLiteral(last, nl, nc);
    return target;
}

SQNode* CSqParser::NewSlotStatement(SQNode* target, SQNode* value, int line, int col) {
    SQNode* assign = _arena.Node(N_ASSIGN, line, col);
    assign->op = TK_NEWSLOT;
    assign->a = target;
    assign->b = value;
    SQNode* st = _arena.Node(S_EXPR, line, col);
    st->a = assign;
    return st;
}

SQNode* CSqParser::ParseFunctionStatement() {
    int line = _tok.line, col = _tok.col;
    Lex(); // 'function'
    std::string name;
    SQNode* target = ParseDefinitionTarget(name);
    return NewSlotStatement(target, FunctionNode(name, line, col, false), line, col);
}

SQNode* CSqParser::ParseClassStatement() {
    int line = _tok.line, col = _tok.col;
    Lex(); // 'class'
    std::string name;
    SQNode* target = ParseDefinitionTarget(name);
    return NewSlotStatement(target, ParseClassRest(line, col), line, col);
}

SQNode* CSqParser::ParseClassRest(int line, int col) {
    SQNode* base = nullptr;
    SQNode* attrs = nullptr;
    if (_tok.type == TK_EXTENDS) {
        Lex();
        base = ParsePostfix();
    }
    if (_tok.type == TK_ATTR_OPEN)
        attrs = ParseAttributes();
    return ParseClassBody(base, attrs, line, col);
}

bool CSqParser::ScalarToken(SQLiteral& lit) const {
    switch (_tok.type) {
    case TK_INTEGER:
        lit.kind = SQLiteral::INT;
        lit.i = _tok.ival;
        return true;
    case TK_FLOAT:
        lit.kind = SQLiteral::FLOAT;
        lit.f = _tok.fval;
        return true;
    case TK_STRING_LITERAL:
        lit.kind = SQLiteral::STRING;
        lit.s = _tok.text;
        return true;
    case TK_TRUE:
    case TK_FALSE:
        lit.kind = SQLiteral::BOOL;
        lit.i = _tok.type == TK_TRUE ? 1 : 0;
        return true;
    default:
        return false;
    }
}

SQLiteral CSqParser::ParseScalar() {
    SQLiteral lit;
    bool negate = false;
    if (_tok.type == '-') {
        negate = true;
        Lex();
        if (_tok.type != TK_INTEGER && _tok.type != TK_FLOAT)
            Error("scalar expected : integer, float, bool or string");
    }
    if (!ScalarToken(lit))
        Error("scalar expected : integer, float, bool or string");
    if (negate && lit.kind == SQLiteral::INT)
        lit.i = static_cast<SQInteger>(0 - static_cast<uint64_t>(lit.i));
    else if (negate)
        lit.f = -lit.f;
    Lex();
    return lit;
}

SQNode* CSqParser::ParseEnum() {
    SQNode* n = _arena.Node(S_ENUM, _tok.line, _tok.col);
    Lex();
    n->names.push_back(ExpectIdentifier());
    Expect('{');
    SQInteger next = 0;
    while (_tok.type != '}') {
        int line = _tok.line, col = _tok.col;
        n->names.push_back(ExpectIdentifier());
        SQLiteral lit;
        if (_tok.type == '=') {
            Lex();
            lit = ParseScalar();
        } else {
            lit.kind = SQLiteral::INT;
            lit.i = next++;
        }
        n->list.push_back(Literal(std::move(lit), line, col));
        if (_tok.type == ',')
            Lex();
    }
    Lex();
    return n;
}

SQNode* CSqParser::ParseConst() {
    SQNode* n = _arena.Node(S_CONST, _tok.line, _tok.col);
    Lex();
    n->names.push_back(ExpectIdentifier());
    Expect('=');
    int line = _tok.line, col = _tok.col;
    n->a = Literal(ParseScalar(), line, col);
    ExpectEndOfStatement();
    return n;
}

SQNode* CSqParser::ParseCommaExpr() {
    SQNode* first = ParseExpression();
    if (_tok.type != ',')
        return first;
    SQNode* n = _arena.Node(N_COMMA, first->line, first->col);
    n->list.push_back(first);
    while (_tok.type == ',') {
        Lex();
        n->list.push_back(ParseExpression());
    }
    return n;
}

SQNode* CSqParser::ParseExpression() {
    DepthGuard guard(*this);
    SQNode* lhs = ParseTernary();
    switch (_tok.type) {
    case '=':
    case TK_NEWSLOT:
    case TK_PLUSEQ:
    case TK_MINUSEQ:
    case TK_MULEQ:
    case TK_DIVEQ:
    case TK_MODEQ: {
        if (!IsAssignable(lhs))
            Error("can't assign expression");
        SQNode* n = _arena.Node(N_ASSIGN, _tok.line, _tok.col);
        n->op = _tok.type;
        Lex();
        n->a = lhs;
        n->b = ParseExpression();
        return n;
    }
    default:
        return lhs;
    }
}

SQNode* CSqParser::ParseTernary() {
    SQNode* cond = ParseBinary(1);
    if (_tok.type != '?')
        return cond;
    SQNode* n = _arena.Node(N_TERNARY, _tok.line, _tok.col);
    Lex();
    n->a = cond;
    n->b = ParseExpression();
    Expect(':');
    n->c = ParseExpression();
    return n;
}

namespace {
int BinaryPrecedence(int tok) {
    switch (tok) {
    case TK_OR: return 1;
    case TK_AND:
    case TK_IN: return 2;
    case '|': return 3;
    case '^': return 4;
    case '&': return 5;
    case TK_EQ:
    case TK_NE:
    case TK_3WAYSCMP: return 6;
    case '<':
    case '>':
    case TK_LE:
    case TK_GE:
    case TK_INSTANCEOF: return 7;
    case TK_SHIFTL:
    case TK_SHIFTR:
    case TK_USHIFTR: return 8;
    case '+':
    case '-': return 9;
    case '*':
    case '/':
    case '%': return 10;
    default: return -1;
    }
}
} // namespace

SQNode* CSqParser::ParseBinary(int minPrec) {
    SQNode* lhs = ParseUnary();
    for (;;) {
        int prec = BinaryPrecedence(_tok.type);
        if (prec < 0 || prec < minPrec)
            return lhs;
        int op = _tok.type;
        SQNode* n = _arena.Node(op == TK_AND ? N_AND : op == TK_OR ? N_OR : N_BINARY, _tok.line, _tok.col);
        Lex();
        n->op = op;
        n->a = lhs;
        n->b = ParseBinary(prec + 1);
        lhs = n;
    }
}

SQNode* CSqParser::ParseUnary() {
    int line = _tok.line, col = _tok.col;
    switch (_tok.type) {
    case '-':
    case '!':
    case '~':
    case TK_TYPEOF:
    case TK_CLONE:
    case TK_RESUME:
    case TK_DELETE:
    case TK_PLUSPLUS:
    case TK_MINUSMINUS:
        break;
    default:
        return ParsePostfix();
    }
    // only a chain of unary operators nests here; plain operands go straight to the postfix level
    DepthGuard guard(*this);
    switch (_tok.type) {
    case '-': {
        Lex();
        SQNode* e = ParseUnary();
        if (e->kind == N_LITERAL && e->lit.kind == SQLiteral::INT) {
            e->lit.i = static_cast<SQInteger>(0 - static_cast<uint64_t>(e->lit.i));
            return e;
        }
        if (e->kind == N_LITERAL && e->lit.kind == SQLiteral::FLOAT) {
            e->lit.f = -e->lit.f;
            return e;
        }
        SQNode* n = _arena.Node(N_UNARY, line, col);
        n->op = '-';
        n->a = e;
        return n;
    }
    case '!':
    case '~':
    case TK_TYPEOF:
    case TK_CLONE:
    case TK_RESUME: {
        int op = _tok.type;
        Lex();
        SQNode* n = _arena.Node(N_UNARY, line, col);
        n->op = op;
        n->a = ParseUnary();
        return n;
    }
    case TK_DELETE: {
        Lex();
        SQNode* e = ParseUnary();
        if (!IsAssignable(e))
            Error("can't delete an expression");
        SQNode* n = _arena.Node(N_UNARY, line, col);
        n->op = TK_DELETE;
        n->a = e;
        return n;
    }
    case TK_PLUSPLUS:
    case TK_MINUSMINUS: {
        int op = _tok.type;
        Lex();
        SQNode* e = ParseUnary();
        if (!IsAssignable(e))
            Error("can't '++' or '--' an expression");
        SQNode* n = _arena.Node(N_PREINC, line, col);
        n->op = op;
        n->a = e;
        return n;
    }
    default:
        return ParsePostfix();
    }
}

SQNode* CSqParser::ParsePostfix() {
    SQNode* e = ParsePrimary();
    for (;;) {
        switch (_tok.type) {
        case '.': {
            Lex();
            int line = _tok.line, col = _tok.col;
            // member names may be keywords (base.constructor, t.class ...)
            if (_tok.type != TK_IDENTIFIER && (_tok.type < TK_WHILE || _tok.type > TK___FILE__))
                Error("expected 'IDENTIFIER'");
            std::string name = _tok.text;
            Lex();
            SQNode* m = _arena.Node(N_MEMBER, line, col);
            m->a = e;
            m->b = StringLiteral(name, line, col);
            e = m;
            break;
        }
        case '[': {
            // a '[' on a new line starts the next element of a table or array, not an index
            if (_tok.newlineBefore)
                return e;
            int line = _tok.line, col = _tok.col;
            Lex();
            SQNode* m = _arena.Node(N_MEMBER, line, col);
            m->a = e;
            m->b = ParseExpression();
            Expect(']');
            e = m;
            break;
        }
        case '(': {
            if (_tok.newlineBefore)
                return e;
            SQNode* call = _arena.Node(N_CALL, e->line, e->col);
            Lex();
            call->a = e;
            while (_tok.type != ')') {
                call->list.push_back(ParseExpression());
                if (_tok.type == ',') {
                    Lex();
                    if (_tok.type == ')')
                        Error("expression expected, found ')'");
                } else if (_tok.type != ')') {
                    Error("expected ')' or ','");
                }
            }
            Lex();
            e = call;
            break;
        }
        case TK_PLUSPLUS:
        case TK_MINUSMINUS: {
            if (_tok.newlineBefore)
                return e;
            if (!IsAssignable(e))
                Error("can't '++' or '--' an expression");
            SQNode* n = _arena.Node(N_POSTINC, _tok.line, _tok.col);
            n->op = _tok.type;
            n->a = e;
            Lex();
            return n;
        }
        default:
            return e;
        }
    }
}

SQNode* CSqParser::ParsePrimary() {
    int line = _tok.line, col = _tok.col;
    SQLiteral lit;
    if (ScalarToken(lit)) {
        Lex();
        return Literal(std::move(lit), line, col);
    }
    switch (_tok.type) {
    case TK_NULL:
        Lex();
        return Literal(std::move(lit), line, col);
    case TK___LINE__:
        lit.kind = SQLiteral::INT;
        lit.i = line;
        Lex();
        return Literal(std::move(lit), line, col);
    case TK___FILE__: {
        Lex();
        return StringLiteral(_sourcename, line, col);
    }
    case TK_IDENTIFIER: {
        SQNode* n = _arena.Node(N_IDENT, line, col);
        n->str = _tok.text;
        Lex();
        return n;
    }
    case TK_THIS:
        Lex();
        return _arena.Node(N_THIS, line, col);
    case TK_BASE:
        Lex();
        return _arena.Node(N_BASE, line, col);
    case TK_DOUBLE_COLON: {
        Lex();
        int kl = _tok.line, kc = _tok.col;
        std::string name = ExpectIdentifier();
        SQNode* m = _arena.Node(N_MEMBER, kl, kc);
        m->b = StringLiteral(name, kl, kc);
        return m;
    }
    case '(': {
        Lex();
        SQNode* e = ParseCommaExpr();
        Expect(')');
        return e;
    }
    case '{':
        return ParseTable();
    case '[':
        return ParseArray();
    case TK_FUNCTION: {
        Lex();
        std::string name;
        if (_tok.type == TK_IDENTIFIER) {
            name = _tok.text;
            Lex();
        }
        return FunctionNode(name, line, col, false);
    }
    case '@':
        Lex();
        return FunctionNode("", line, col, true);
    case TK_CLASS:
        Lex();
        return ParseClassRest(line, col);
    default:
        Error("expression expected");
    }
}

SQNode* CSqParser::ParseTable() {
    SQNode* n = _arena.Node(N_TABLE, _tok.line, _tok.col);
    Lex(); // '{'
    while (_tok.type != '}') {
        int line = _tok.line, col = _tok.col;
        if (_tok.type == TK_FUNCTION) {
            SQNode* f = ParseNamedFunction();
            n->list.push_back(StringLiteral(f->func->name, f->line, f->col));
            n->list2.push_back(f);
        } else if (_tok.type == '[') {
            Lex();
            n->list.push_back(ParseCommaExpr());
            Expect(']');
            Expect('=');
            n->list2.push_back(ParseExpression());
        } else if (_tok.type == TK_STRING_LITERAL) {
            n->list.push_back(StringLiteral(_tok.text, line, col));
            Lex();
            if (_tok.type != ':' && _tok.type != '=')
                Error("expected ':'");
            Lex();
            n->list2.push_back(ParseExpression());
        } else {
            std::string name = ExpectIdentifier();
            Expect('=');
            n->list.push_back(StringLiteral(name, line, col));
            n->list2.push_back(ParseExpression());
        }
        if (_tok.type == ',')
            Lex();
        if (_tok.type == TK_EOF)
            Error("expected '}'");
    }
    Lex();
    return n;
}

SQNode* CSqParser::ParseArray() {
    SQNode* n = _arena.Node(N_ARRAY, _tok.line, _tok.col);
    Lex(); // '['
    while (_tok.type != ']') {
        if (_tok.type == TK_EOF)
            Error("expected ']'");
        n->list.push_back(ParseExpression());
        if (_tok.type == ',')
            Lex();
    }
    Lex();
    return n;
}

SQNode* CSqParser::ParseAttributes() {
    SQNode* n = _arena.Node(N_TABLE, _tok.line, _tok.col);
    Lex(); // '</'
    while (_tok.type != TK_ATTR_CLOSE) {
        int line = _tok.line, col = _tok.col;
        if (_tok.type == TK_EOF)
            Error("expected '/>'");
        if (_tok.type == '[') {
            Lex();
            n->list.push_back(ParseCommaExpr());
            Expect(']');
        } else {
            n->list.push_back(StringLiteral(ExpectIdentifier(), line, col));
        }
        Expect('=');
        n->list2.push_back(ParseExpression());
        if (_tok.type == ',')
            Lex();
    }
    Lex();
    return n;
}

SQNode* CSqParser::ParseClassBody(SQNode* base, SQNode* attrs, int line, int col) {
    SQNode* n = _arena.Node(N_CLASS, line, col);
    SQClassNode* cls = _arena.Class();
    n->cls = cls;
    cls->base = base;
    cls->attrs = attrs;
    Expect('{');
    while (_tok.type != '}') {
        if (_tok.type == TK_EOF)
            Error("expected '}'");
        SQClassMemberNode m;
        if (_tok.type == TK_ATTR_OPEN)
            m.attrs = ParseAttributes();
        if (_tok.type == TK_STATIC) {
            m.isStatic = true;
            Lex();
        }
        int ml = _tok.line, mc = _tok.col;
        if (_tok.type == TK_FUNCTION) {
            m.value = ParseNamedFunction();
            m.key = StringLiteral(m.value->func->name, m.value->line, m.value->col);
        } else if (_tok.type == TK_CONSTRUCTOR) {
            Lex();
            m.key = StringLiteral("constructor", ml, mc);
            m.value = FunctionNode("constructor", ml, mc, false);
        } else if (_tok.type == '[') {
            Lex();
            m.key = ParseCommaExpr();
            Expect(']');
            Expect('=');
            m.value = ParseExpression();
        } else {
            std::string name = ExpectIdentifier();
            m.key = StringLiteral(name, ml, mc);
            Expect('=');
            m.value = ParseExpression();
        }
        cls->members.push_back(m);
        if (_tok.type == ';' || _tok.type == ',')
            Lex();
    }
    Lex();
    return n;
}

SQFuncNode* CSqParser::ParseFunctionRest(const std::string& name, int line, int col, bool lambda) {
    DepthGuard guard(*this);
    SQFuncNode* f = _arena.Func();
    f->name = name;
    f->line = line;
    f->col = col;
    Expect('(');
    while (_tok.type != ')') {
        if (_tok.type == TK_VARPARAMS) {
            f->varargs = true;
            Lex();
            if (_tok.type != ')')
                Error("expected ')'");
            break;
        }
        std::string p = ExpectIdentifier();
        for (const auto& existing : f->params)
            if (existing == p)
                Error("parameter '" + p + "' declared twice");
        f->params.push_back(p);
        if (_tok.type == '=') {
            Lex();
            f->defaults.push_back(ParseExpression());
        } else if (!f->defaults.empty()) {
            Error("expected '='");
        }
        if (_tok.type == ',')
            Lex();
        else if (_tok.type != ')')
            Error("expected ')' or ','");
    }
    Lex();
    if (_tok.type == ':') {
        Lex();
        Expect('(');
        while (_tok.type != ')') {
            f->freevars.push_back(ExpectIdentifier());
            if (_tok.type == ',')
                Lex();
            else if (_tok.type != ')')
                Error("expected ')' or ','");
        }
        Lex();
    }
    _funcStack.push_back(f);
    if (lambda) {
        SQNode* ret = _arena.Node(S_RETURN, _tok.line, _tok.col);
        ret->a = ParseExpression();
        f->body = ret;
    } else {
        f->body = ParseStatement();
    }
    _funcStack.pop_back();
    return f;
}

} // namespace Squirrel
