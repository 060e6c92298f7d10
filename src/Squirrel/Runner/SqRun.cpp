// sqrun: runs a Squirrel script with the base and standard libraries.
//   sqrun [--] script.nut [arguments...]
// The arguments reach the script as strings in vargv. Compile and runtime errors are printed as
// "source:line:column: error: message" on standard error; the exit status is 1 after an error.

#include "Squirrel/SqStdLib.h"
#include "Squirrel/Squirrel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

void PrintOut(HSQUIRRELVM, const SQChar* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vfprintf(stdout, fmt, args);
    va_end(args);
}

void PrintErr(HSQUIRRELVM, const SQChar* fmt, ...) {
    // keep the order of both streams when they go to the same place
    fflush(stdout);
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
}

int Usage() {
    fprintf(stderr, "usage: sqrun [--] script.nut [arguments...]\n");
    return 2;
}

bool ReadFile(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buf;
    buf << in.rdbuf();
    out = buf.str();
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--version") == 0) {
        printf("sqrun: Squirrel 3.2 language, interpreter version %lld\n", static_cast<long long>(sq_getversion()));
        return 0;
    }
    if (first < argc && (std::strcmp(argv[first], "-h") == 0 || std::strcmp(argv[first], "--help") == 0))
        return Usage();
    if (first < argc && std::strcmp(argv[first], "--") == 0)
        ++first;
    if (first >= argc)
        return Usage();
    const char* path = argv[first];
    std::string source;
    if (!ReadFile(path, source)) {
        fprintf(stderr, "sqrun: cannot read '%s'\n", path);
        return 1;
    }

    HSQUIRRELVM v = sq_open(1024);
    sq_setprintfunc(v, PrintOut, PrintErr);
    sqstd_seterrorhandlers(v);
    sqstd_setstdinenabled(v, SQTrue);
    sq_pushroottable(v);
    sqstd_register_bloblib(v);
    sqstd_register_iolib(v);
    sqstd_register_mathlib(v);
    sqstd_register_systemlib(v);
    sqstd_register_stringlib(v);
    sq_pop(v, 1);

    int status = 0;
    // a source may start with a "#!" line; '#' starts a comment in Squirrel, so it needs no special case
    if (SQ_FAILED(sq_compilebuffer(v, source.data(), static_cast<SQInteger>(source.size()), path, SQTrue))) {
        status = 1;
    } else {
        sq_pushroottable(v);
        for (int i = first + 1; i < argc; ++i)
            sq_pushstring(v, argv[i], -1);
        if (SQ_FAILED(sq_call(v, argc - first, SQFalse, SQTrue)))
            status = 1;
        sq_pop(v, 1);
    }
    fflush(stdout);
    sq_close(v);
    return status;
}
