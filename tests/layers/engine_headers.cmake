cmake_minimum_required(VERSION 3.25)
# The engines' own headers are reached only from the engines' folders.
# 1. A source built with the refusing folder does not compile when it includes
#    either header, and says why.
# 2. Every source of src/ and tools/ outside the engines' folders is built with
#    that folder (read from the build's compile_commands.json).
set(refuse "${SOURCE_DIR}/cmake/engine-headers")
foreach(header sqlite3.h libpq-fe.h)
  file(WRITE "${BINARY_DIR}/engine_probe.cpp" "#include <${header}>\n")
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${refuse} -isystem /usr/include/postgresql
                          "${BINARY_DIR}/engine_probe.cpp"
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "engine's own")
    message(FATAL_ERROR "a source outside the engines' folders could include ${header}: ${err}")
  endif()
endforeach()
file(READ "${BINARY_DIR}/compile_commands.json" commands)
string(JSON n LENGTH "${commands}")
math(EXPR last "${n} - 1")
set(checked 0)
foreach(i RANGE ${last})
  string(JSON file GET "${commands}" ${i} file)
  string(JSON command GET "${commands}" ${i} command)
  if(NOT file MATCHES "^${SOURCE_DIR}/(src|tools)/" OR file MATCHES "^${SOURCE_DIR}/src/data/(sqlite|pg)/")
    continue()
  endif()
  if(file IN_LIST STILL_USED)
    message(STATUS "still reaches an engine directly: ${file}")
    continue()
  endif()
  if(NOT command MATCHES "-I${refuse}")
    message(SEND_ERROR "${file} is built without ${refuse}: it could include an engine's header")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
message(STATUS "${checked} sources outside the engines' folders refuse the engines' headers")
