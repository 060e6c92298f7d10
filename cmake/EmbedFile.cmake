# cmake -DINPUT=<file> -DOUTPUT=<cpp> -DSYMBOL=<name> -P EmbedFile.cmake
# Writes a C++ source that holds the file's bytes and a function returning them.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated at build time from ${INPUT}; do not edit.\n#include <cstddef>\n#include <cstdint>\n#include <span>\n\nnamespace {\nalignas(16) const uint8_t kData[${size} + 1] = {\n${bytes}0};\n}\n\nstd::span<const uint8_t> ${SYMBOL}()\n{\n    return {kData, ${size}};\n}\n")
