// Default error reporting for hosts that do not bring their own: "source:line:column: message" lines
// through the shared state's error function.

#include "SqLibUtil.h"
#include "Squirrel/SqStdLib.h"

using namespace Squirrel;

namespace {

SQInteger aux_errorhandler(HSQUIRRELVM v) {
    std::string msg = "unknown error";
    if (sq_gettop(v) >= 2) {
        const SQObjectPtr& err = Arg(v, 2);
        if (err._type == OT_STRING) {
            msg = StrOf(err);
        } else {
            SQObjectPtr text = v->PrintableValue(err);
            msg = std::string("(") + TypeName(err._type) + ") " + StrOf(text);
        }
    }
    // level 0 is this handler; the first script level is where the error happened
    SQStackInfos si;
    SQInteger level = 1;
    while (SQ_SUCCEEDED(sq_stackinfos(v, level, &si)) && si.line < 0)
        ++level;
    if (SQPRINTFUNCTION f = sq_geterrorfunc(v)) {
        if (SQ_SUCCEEDED(sq_stackinfos(v, level, &si)))
            f(v, "%s:%lld:%lld: error: %s\n", si.source ? si.source : "unknown", static_cast<long long>(si.line),
              static_cast<long long>(si.column), msg.c_str());
        else
            f(v, "error: %s\n", msg.c_str());
    }
    sqstd_printcallstack(v);
    return 0;
}

void aux_compilererror(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
    if (SQPRINTFUNCTION f = sq_geterrorfunc(v))
        f(v, "%s:%lld:%lld: error: %s\n", source ? source : "unknown", static_cast<long long>(line),
          static_cast<long long>(column), desc);
}

} // namespace

void sqstd_printcallstack(HSQUIRRELVM v) {
    SQPRINTFUNCTION f = sq_geterrorfunc(v);
    if (!f)
        return;
    SQStackInfos si;
    SQInteger levels = 1;
    while (SQ_SUCCEEDED(sq_stackinfos(v, levels, &si)))
        ++levels;
    // a runaway recursion is shown by its first and last levels
    constexpr SQInteger kHead = 20, kTail = 5;
    for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); ++level) {
        if (levels > kHead + kTail + 1 && level == kHead + 1) {
            f(v, "  ... %lld more levels ...\n", static_cast<long long>(levels - kHead - kTail - 1));
            level = levels - kTail - 1;
            continue;
        }
        const char* name = si.funcname ? si.funcname : "unknown";
        if (si.line < 0)
            f(v, "  in native function '%s'\n", name);
        else
            f(v, "  in function '%s' at %s:%lld:%lld\n", name, si.source ? si.source : "unknown",
              static_cast<long long>(si.line), static_cast<long long>(si.column));
    }
}

void sqstd_seterrorhandlers(HSQUIRRELVM v) {
    sq_setcompilererrorhandler(v, aux_compilererror);
    sq_newclosure(v, aux_errorhandler, 0);
    sq_setnativeclosurename(v, -1, "errorhandler");
    sq_seterrorhandler(v);
}
