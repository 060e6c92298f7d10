#pragma once
// Standard libraries of our Squirrel interpreter: blob, input/output (the console streams only),
// mathematics, system and string. Each registers into the table on top of the stack.

#include "Squirrel/Squirrel.h"

SQRESULT sqstd_register_bloblib(HSQUIRRELVM v);
// Pushes a new blob of `size` bytes and returns its memory (null on failure, nothing pushed).
SQUserPointer sqstd_createblob(HSQUIRRELVM v, SQInteger size);
SQRESULT sqstd_getblob(HSQUIRRELVM v, SQInteger idx, SQUserPointer* ptr);
SQInteger sqstd_getblobsize(HSQUIRRELVM v, SQInteger idx);

// stdout, stderr (write only) and stdin (read only). There is no file class.
SQRESULT sqstd_register_iolib(HSQUIRRELVM v);
// While stdin is disabled (the default) it reads nothing: the host's console owns standard input.
void sqstd_setstdinenabled(HSQUIRRELVM v, SQBool enabled);

SQRESULT sqstd_register_mathlib(HSQUIRRELVM v);
// clock, time, date and getenv; nothing that runs commands or touches files.
SQRESULT sqstd_register_systemlib(HSQUIRRELVM v);
SQRESULT sqstd_register_stringlib(HSQUIRRELVM v);
// Formats like the script function format(); the text stays valid until the next call on the same state.
SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen, SQChar** output);

// Installs an error handler that prints the error and the call stack through the error function, and a
// compiler error handler that prints "source:line:column: message".
void sqstd_seterrorhandlers(HSQUIRRELVM v);
void sqstd_printcallstack(HSQUIRRELVM v);
