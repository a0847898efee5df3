# Installs the build into a fresh prefix, moves the prefix elsewhere and
# checks that the moved scenehost still finds its library, its plug-ins and
# its home folder, and that plug-ins build against the installed package:
# a small one and the example in examples/plugin, which then runs through the
# installed scenehost.
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

# GeoTIFFs read through the GDAL module installed beside the runtime.
run("${host}" GetRasterInfo "${SOURCE}/examples/region/district_elevation.tif")
expect("${out}" "\"crs\":\"EPSG:32633\"")

# The viewer page, when it was built, is installed with scenehost.
if(EXISTS "${BUILD}/bin/viewer/viewer.js")
  foreach(f index.html viewer.js)
    if(NOT EXISTS "${WORK}/moved/share/scenehost/viewer/${f}")
      message(FATAL_ERROR "the viewer's ${f} is not installed in share/scenehost/viewer")
    endif()
  endforeach()
  run("${host}" view --help)
  expect("${out}" "--listen")
endif()

run(${CMAKE_COMMAND} -S "${SOURCE}/tests/scenehost/thirdparty" -B "${WORK}/thirdparty"
    "-DCMAKE_PREFIX_PATH=${WORK}/moved")
run(${CMAKE_COMMAND} --build "${WORK}/thirdparty")
run("${host}" --plugin "${WORK}/thirdparty/plugins/whereami.so" whereami)
expect("${out}" "${WORK}/moved/share/scenehost/home\n")

# The plug-in author's example: four 10-unit cubes, each 10 up and 10 along.
run(${CMAKE_COMMAND} -S "${SOURCE}/examples/plugin" -B "${WORK}/example"
    "-DCMAKE_PREFIX_PATH=${WORK}/moved")
run(${CMAKE_COMMAND} --build "${WORK}/example")
set(stairs "${WORK}/example/plugins/Staircase.so")
run("${host}" --plugin "${stairs}" Staircase "${SOURCE}/examples/models/cube.obj" 4 10 10
    --save "${WORK}/stairs.obj")
if(NOT out STREQUAL "staircase\n")
  message(FATAL_ERROR "Staircase printed '${out}', expected 'staircase'")
endif()
file(STRINGS "${WORK}/stairs.obj" objects REGEX "^o ")
file(STRINGS "${WORK}/stairs.obj" vertices REGEX "^v ")
list(LENGTH vertices count)
if(NOT objects STREQUAL "o staircase" OR NOT count EQUAL 32)
  message(FATAL_ERROR "expected one object 'staircase' of 32 vertices, got ${objects}, ${count}")
endif()
list(FIND vertices "v -5 0 -5" bottom)
list(FIND vertices "v 35 40 5" top)
if(bottom EQUAL -1 OR top EQUAL -1)
  message(FATAL_ERROR "the steps are not where they belong:\n${vertices}")
endif()
execute_process(COMMAND "${host}" --plugin "${stairs}" Staircase "" 0
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 1)
  message(FATAL_ERROR "Staircase with bad arguments exited with ${rc}, expected 1")
endif()
expect("${err}" "Staircase: 'step' must name an .obj file")
file(REMOVE_RECURSE "${WORK}")
