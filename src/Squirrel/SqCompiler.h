#pragma once
// Source to bytecode: a parser that builds a syntax tree and a code generator that allocates registers.

#include "SqAst.h"
#include "SqLexer.h"
#include "SqObject.h"

#include <string>

namespace Squirrel {

class CSqVM;

struct SQCompileError {
    std::string message;
    int line = 0;
    int col = 0;
};

// Nesting bound for statements and expressions, so hostile sources cannot exhaust the C++ stack.
constexpr int kMaxParseDepth = 200;
constexpr int kMaxCodegenDepth = 400;

class CSqParser {
public:
    CSqParser(CSqLexer& lexer, CSqAstArena& arena, std::string sourcename);
    // Throws SQCompileError.
    SQFuncNode* ParseProgram();

private:
    struct DepthGuard {
        explicit DepthGuard(CSqParser& p);
        ~DepthGuard() { --_p._depth; }
        CSqParser& _p;
    };

    [[noreturn]] void Error(const std::string& msg);
    void Lex();
    void Expect(int tok);
    std::string ExpectIdentifier();
    bool IsEndOfStatement() const;
    void ExpectEndOfStatement();

    SQNode* ParseStatement();
    SQNode* ParseBlock();
    SQNode* ParseIf();
    SQNode* ParseLocal(bool inFor);
    SQNode* ParseFor();
    SQNode* ParseForeach();
    SQNode* ParseSwitch();
    SQNode* ParseTry();
    SQNode* ParseFunctionStatement();
    SQNode* ParseClassStatement();
    SQNode* ParseEnum();
    SQNode* ParseConst();

    SQNode* ParseCommaExpr();
    SQNode* ParseExpression();
    SQNode* ParseTernary();
    SQNode* ParseBinary(int minPrec);
    SQNode* ParseUnary();
    SQNode* ParsePostfix();
    SQNode* ParsePrimary();
    SQNode* ParseTable();
    SQNode* ParseArray();
    SQNode* ParseAttributes();
    SQNode* ParseClassRest(int line, int col);
    SQNode* ParseClassBody(SQNode* base, SQNode* attrs, int line, int col);
    SQNode* ParseCaseBody(bool isDefault);
    // `name.b::c` of a function or class statement: the member it is stored into; `last` gets the final name.
    SQNode* ParseDefinitionTarget(std::string& last);
    SQNode* NewSlotStatement(SQNode* target, SQNode* value, int line, int col);
    // `function name(...)` where the name is the function's own (local functions, table and class members).
    SQNode* ParseNamedFunction();
    SQNode* FunctionNode(const std::string& name, int line, int col, bool lambda);
    SQFuncNode* ParseFunctionRest(const std::string& name, int line, int col, bool lambda);
    // The literal spelled by the current token when it is a number, a string or a boolean.
    bool ScalarToken(SQLiteral& lit) const;
    SQLiteral ParseScalar();

    SQNode* Literal(SQLiteral lit, int line, int col);
    SQNode* StringLiteral(const std::string& s, int line, int col);
    static bool IsAssignable(const SQNode* n) { return n->kind == N_IDENT || n->kind == N_MEMBER; }

    CSqLexer& _lexer;
    CSqAstArena& _arena;
    std::string _sourcename;
    SQToken _tok;
    int _prevLine = 1;
    int _depth = 0;
    std::vector<SQFuncNode*> _funcStack;
};

// Compiles a whole source into the prototype of its main function. On failure fills `error`.
bool CompileToProto(CSqVM* vm, const std::string& src, int badCharPos, const char* sourcename,
                    SQObjectPtr& proto, SQCompileError& error);

} // namespace Squirrel
