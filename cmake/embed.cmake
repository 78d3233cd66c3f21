# Turns a file into a C++ source defining a byte array, so that data such as
# the window description reaches the program the same way on every platform.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DNAMESPACE=ns -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n#include <cstdint>\nnamespace ${NAMESPACE} {\nextern const std::uint8_t ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\nconst std::uint8_t ${SYMBOL}[] = {\n${bytes}0};\nconst std::size_t ${SYMBOL}_size = ${size};\n}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
