# Turns a text file into a C++ header holding it as one string constant, so that the program
# never needs the original file at run time.
#   cmake -DINPUT=<file> -DOUTPUT=<header> -DNAME=<constant name> -P embed_text.cmake
file(READ "${INPUT}" content)
set(delimiter "tervane_embed")
string(FIND "${content}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )${delimiter}\"")
endif()
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
  "// Generated at build time from ${source_name}; edit that file, not this one.\n"
  "#pragma once\n\n"
  "namespace tervane::store {\n\n"
  "inline constexpr char ${NAME}[] = R\"${delimiter}(${content})${delimiter}\";\n\n"
  "}  // namespace tervane::store\n")
