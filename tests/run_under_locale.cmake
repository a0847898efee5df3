cmake_minimum_required(VERSION 3.20)
# Runs test executables with LC_ALL set to LOCALE; each takes that locale
# (tests/support/locale_main.cpp). Where the machine lacks the locale it says
# so and the test is skipped (scripts/setup.sh generates de_DE.UTF-8).
#   cmake -DLOCALE=de_DE.UTF-8 "-DTESTS=<exe>;<exe>" -P run_under_locale.cmake
execute_process(COMMAND locale -a OUTPUT_VARIABLE available RESULT_VARIABLE rc ERROR_QUIET)
string(TOLOWER "${available}" available)
string(TOLOWER "${LOCALE}" wanted)
string(REPLACE "utf-8" "utf8" wanted "${wanted}")
string(REPLACE "utf-8" "utf8" available "${available}")
string(REPLACE "\n" ";" available "${available}")
if(NOT rc EQUAL 0 OR NOT wanted IN_LIST available)
  message("SKIPPED: this machine has no ${LOCALE} locale (scripts/setup.sh generates it)")
  return()
endif()

set(failed "")
foreach(exe IN LISTS TESTS)
  get_filename_component(dir "${exe}" DIRECTORY)
  get_filename_component(name "${exe}" NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=${LOCALE} "${exe}" --gtest_brief=1
                  WORKING_DIRECTORY "${dir}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(APPEND failed "${name}")
  endif()
endforeach()
if(failed)
  list(JOIN failed ", " text)
  message(FATAL_ERROR "under LC_ALL=${LOCALE} these fail: ${text}")
endif()
list(LENGTH TESTS count)
message(STATUS "${count} test programs pass under LC_ALL=${LOCALE}")
