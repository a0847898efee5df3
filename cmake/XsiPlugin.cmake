# add_xsi_plugin(<name> SOURCES <src>... [LIBRARIES <lib>...] [NO_INSTALL])
#
# A host plug-in: a shared library with no "lib" prefix whose symbols are
# hidden except the entry points marked XSIPLUGINCALLBACK. Built plug-ins go
# to <build>/plugins, where scenehost looks by default.
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
    install(TARGETS ${name} LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}/scenehost/plugins")
  endif()
endfunction()
