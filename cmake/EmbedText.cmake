# cmake -DIN=file -DOUT=file.cpp -DNAME=symbol -P EmbedText.cmake
# Writes a C++ unit defining `const char NAME[]` with the file's text.
file(READ "${IN}" content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE "${OUT}" "// Generated from ${IN}.\nextern const char ${NAME}[];\nconst char ${NAME}[] = {${bytes}0x00};\n")
