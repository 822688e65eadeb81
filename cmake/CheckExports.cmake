# Checks the dynamic interface of the built library (run by ctest):
#   cmake -DLIBRARY=<file> -DNM=<nm> -DREADELF=<readelf> -DOPERATIONS=<op|op|...> [-DSONAME=<name>]
#         -P CheckExports.cmake
# (without SONAME the library must have none)
#   With -DPREFIX=<namespace::> every exported symbol must lie in that namespace (its functions,
#   vtables and type information) instead of belonging to store::Server.
# Every defined dynamic symbol must belong to store::Server (its operations, vtable and
# typeinfo), every operation of the public class must be there, the SONAME must match and the
# library may need nothing but the C and C++ runtime (and sanitizer runtimes in such builds).
cmake_minimum_required(VERSION 3.25)

foreach(var LIBRARY NM READELF OPERATIONS)
  if(NOT ${var})
    message(FATAL_ERROR "CheckExports: ${var} not given")
  endif()
endforeach()

execute_process(COMMAND "${NM}" -D --defined-only -C "${LIBRARY}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

if(PREFIX)
  set(owner "${PREFIX}")
else()
  set(owner "store::Server")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(foreign "")
set(names "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>"; the name may contain spaces.
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND names "${name}")
  if(PREFIX)
    string(FIND "${name}" "${PREFIX}" at)
    if(NOT at EQUAL 0 AND NOT name MATCHES "^(vtable|typeinfo|typeinfo name|VTT) for ${PREFIX}")
      list(APPEND foreign "${name}")
    endif()
  elseif(name MATCHES "^store::Server::Impl" OR name MATCHES "^store::Server::[A-Za-z]+::")
    list(APPEND foreign "${name}")
  elseif(NOT name MATCHES "^store::Server::"
         AND NOT name MATCHES "^(vtable|typeinfo|typeinfo name) for store::Server$")
    list(APPEND foreign "${name}")
  endif()
endforeach()
if(foreign)
  list(JOIN foreign "\n  " text)
  message(FATAL_ERROR "Exported symbols outside ${owner}:\n  ${text}")
endif()

string(REPLACE "|" ";" operations "${OPERATIONS}")
if(PREFIX)
  set(required ${operations})
else()
  set(required ${operations}
    "vtable for store::Server" "typeinfo for store::Server" "typeinfo name for store::Server")
endif()
foreach(name IN LISTS required)
  if(NOT name IN_LIST names)
    message(FATAL_ERROR "Not exported: ${name}")
  endif()
endforeach()

execute_process(COMMAND "${READELF}" -d "${LIBRARY}"
  OUTPUT_VARIABLE dynamic RESULT_VARIABLE readelf_result)
if(NOT readelf_result EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
if(SONAME AND NOT dynamic MATCHES "Library soname: \\[${SONAME}\\]")
  message(FATAL_ERROR "SONAME is not ${SONAME}:\n${dynamic}")
elseif(NOT SONAME AND dynamic MATCHES "Library soname")
  message(FATAL_ERROR "The library must have no SONAME:\n${dynamic}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
foreach(entry IN LISTS needed)
  string(REGEX REPLACE "Shared library: \\[(.*)\\]" "\\1" lib "${entry}")
  if(NOT lib MATCHES "^lib(c|m|stdc\\+\\+|c\\+\\+|c\\+\\+abi|gcc_s|pthread|dl|rt|asan|ubsan|tsan)\\.so(\\.[0-9]+)*$"
     AND NOT lib MATCHES "^ld-linux")
    message(FATAL_ERROR "Needs a library that is not a system runtime: ${lib}")
  endif()
endforeach()
list(LENGTH names count)
message(STATUS "${LIBRARY}: ${count} exported symbols, all of ${owner}")
