# Install rules and the exported "scenehost" CMake package. Included at the
# end of the top-level CMakeLists.txt, once every target exists.
#
#   <prefix>/bin/scenehost
#   <prefix>/<libdir>/libxsisdk.so, libxsiruntime.so (the runtime behind it)
#   <prefix>/<libdir>/scenehost/plugins/*.so        (add_xsi_plugin)
#   <prefix>/include/xsi/*.h
#   <prefix>/share/scenehost/home/...
#   <prefix>/<libdir>/cmake/scenehost/               find_package(scenehost)
#   <prefix>/lib/python3.X/dist-packages/scenehost/      import scenehost
#
# A third-party plug-in project then does
#   find_package(scenehost REQUIRED)
#   add_xsi_plugin(myplugin SOURCES myplugin.cpp)
# and links xsi::sdk.
include(CMakePackageConfigHelpers)

set(XSI_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/scenehost")

install(TARGETS scenehost RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The runtime is in the package only because the SDK library needs it at
# run time; plug-ins link xsi::sdk.
set_target_properties(xsiruntime PROPERTIES EXPORT_NAME runtime_library)
install(TARGETS xsiruntime EXPORT scenehostTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
# GeoTIFF support, which the runtime loads from its own folder when needed.
install(TARGETS xsigdal LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
# `scenehost view`, which scenehost loads from beside the runtime to serve.
install(TARGETS scenehost_view_module LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
set_target_properties(xsisdk PROPERTIES EXPORT_NAME sdk)
install(TARGETS xsisdk EXPORT scenehostTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/host/include/xsi/"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/xsi"
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/home/"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/scenehost/home")

install(EXPORT scenehostTargets
  NAMESPACE xsi::
  FILE scenehostTargets.cmake
  DESTINATION "${XSI_INSTALL_CMAKEDIR}")
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/scenehostConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/cmake/scenehostConfig.cmake"
  INSTALL_DESTINATION "${XSI_INSTALL_CMAKEDIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/cmake/scenehostConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/cmake/scenehostConfig.cmake"
  "${PROJECT_BINARY_DIR}/cmake/scenehostConfigVersion.cmake"
  "${PROJECT_SOURCE_DIR}/cmake/XsiPlugin.cmake"
  DESTINATION "${XSI_INSTALL_CMAKEDIR}")

# The Python package (the compiled module, its Python files and stubs), where
# the system's python3 finds it (XSI_PYTHON_INSTALL_DIR, python/CMakeLists.txt).
if(TARGET scenehost_py)
  install(TARGETS scenehost_py LIBRARY DESTINATION "${XSI_PYTHON_INSTALL_DIR}/scenehost")
  foreach(f ${XSI_PYTHON_SOURCES})
    install(FILES "${PROJECT_SOURCE_DIR}/python/scenehost/${f}" DESTINATION "${XSI_PYTHON_INSTALL_DIR}/scenehost")
  endforeach()
  install(FILES "${PROJECT_BINARY_DIR}/python/install/_paths.py" DESTINATION "${XSI_PYTHON_INSTALL_DIR}/scenehost")
endif()
