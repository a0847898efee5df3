cmake_minimum_required(VERSION 3.20)
# libxsisdk.so exports the SDK and nothing else: every defined dynamic symbol
# is in namespace XSI (or is a plain C name the toolchain adds), never one of
# the runtime's host:: symbols, nor a standard library instantiation.
#   cmake -DLIB=<path of libxsisdk.so> -P check_sdk_exports.cmake
execute_process(COMMAND nm -D --defined-only -C "${LIB}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D ${LIB} failed: ${err}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(problems "")
set(count 0)
foreach(line IN LISTS lines)
  # "<address> <type> <name>"
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  # The SDK's own: XSI::..., and its vtables, type names and guard variables.
  if(name MATCHES "^(vtable for |typeinfo for |typeinfo name for |guard variable for |VTT for )?XSI::")
    continue()
  endif()
  # C names with no namespace (_init, _fini, __bss_start and the like).
  if(NOT name MATCHES "::" AND NOT name MATCHES "[(<]")
    continue()
  endif()
  list(APPEND problems "${name}")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "nm -D ${LIB} lists no symbols")
endif()
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "libxsisdk.so exports what is not the SDK's:\n  ${text}")
endif()
message(STATUS "libxsisdk.so exports ${count} symbols, all the SDK's")
