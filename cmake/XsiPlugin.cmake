# add_xsi_plugin(<name> SOURCES <src>... [LIBRARIES <lib>...] [NO_INSTALL])
#
# A host plug-in: a shared library with no "lib" prefix whose symbols are
# hidden except the entry points marked XSIPLUGINCALLBACK. Built plug-ins go
# to <build>/plugins, where scenehost looks by default. Installed plug-ins go
# to <libdir>/scenehost/plugins and find libxsisdk.so two levels up, in
# <libdir>, or where the SDK they were linked against lives.
function(add_xsi_plugin name)
  cmake_parse_arguments(ARG "NO_INSTALL" "" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE xsi::sdk ${ARG_LIBRARIES})
  if(TARGET xsi_build_options)
    target_link_libraries(${name} PRIVATE xsi_build_options)
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/plugins")
  if(NOT ARG_NO_INSTALL)
    set(libdir "${CMAKE_INSTALL_LIBDIR}")
    if(NOT libdir)
      set(libdir lib)
    endif()
    set_target_properties(${name} PROPERTIES
      INSTALL_RPATH "$ORIGIN/../.."
      INSTALL_RPATH_USE_LINK_PATH ON)
    install(TARGETS ${name} LIBRARY DESTINATION "${libdir}/scenehost/plugins")
  endif()
endfunction()
