# Installs the build into a fresh prefix, moves the prefix elsewhere and
# checks that the moved scenehost still finds its library, its plug-ins and
# its home folder, and that a plug-in builds against the installed package.
#   cmake -DBUILD=<build dir> -DSOURCE=<source dir> -DWORK=<scratch dir> -P install_check.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected '${part}' in:\n${text}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
run(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${WORK}/prefix")
file(RENAME "${WORK}/prefix" "${WORK}/moved")
set(host "${WORK}/moved/bin/scenehost")

run("${host}" --help)
expect("${out}" "  Translate object x y z")
expect("${out}" "  SaveScene path")
if(EXISTS "${BUILD}/plugins/RaiseTower.so")
  expect("${out}" "  RaiseTower buildingname")
endif()

run(${CMAKE_COMMAND} -S "${SOURCE}/tests/scenehost/thirdparty" -B "${WORK}/thirdparty"
    "-DCMAKE_PREFIX_PATH=${WORK}/moved")
run(${CMAKE_COMMAND} --build "${WORK}/thirdparty")
run("${host}" --plugin "${WORK}/thirdparty/plugins/whereami.so" whereami)
expect("${out}" "${WORK}/moved/share/scenehost/home\n")
file(REMOVE_RECURSE "${WORK}")
