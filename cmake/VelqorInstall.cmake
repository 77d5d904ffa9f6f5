# What `cmake --install` puts where: the toolkit for developers (libraries, public headers, the
# CMake package Velqor and velqor.pc; component "dev") and the programs with their desktop entry,
# icon, manual pages and shell completion (component "tagscope").
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELQOR_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/velqor)
set(VELQOR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Velqor)

# The toolkit's libraries, lowest layer last (the order a static link needs). Each is exported as
# Velqor::<name>; Velqor::Velqor is all of them through the component model. A build without
# the XML-DA transport (Windows) has the COM side alone.
set(VELQOR_LIBRARIES)
foreach(_name model xmlda com complatform soap http dom xmlguard browse contract runtime)
  if(TARGET velqor_${_name})
    list(APPEND VELQOR_LIBRARIES ${_name})
  endif()
endforeach()
add_library(velqor INTERFACE)
target_link_libraries(velqor INTERFACE velqor_model velqor_com)
if(TARGET velqor_xmlda)
  target_link_libraries(velqor INTERFACE velqor_xmlda)
endif()
set_target_properties(velqor PROPERTIES EXPORT_NAME Velqor)
add_library(Velqor::Velqor ALIAS velqor)
set(_velqor_targets velqor velqor_version velqor_warnings)
foreach(_name IN LISTS VELQOR_LIBRARIES)
  set_target_properties(velqor_${_name} PROPERTIES EXPORT_NAME ${_name})
  add_library(Velqor::${_name} ALIAS velqor_${_name})
  list(APPEND _velqor_targets velqor_${_name})
endforeach()
set_target_properties(velqor_version PROPERTIES EXPORT_NAME version)
# The project's warning set travels with the static libraries' link interface; installed, it is
# empty (Warnings.cmake gives its options to this build only).
set_target_properties(velqor_warnings PROPERTIES EXPORT_NAME build_warnings)
foreach(_target velqor_runtime velqor_version)
  target_include_directories(${_target} INTERFACE $<INSTALL_INTERFACE:${VELQOR_INSTALL_INCLUDEDIR}>)
endforeach()
target_compile_features(velqor_runtime INTERFACE cxx_std_20)

install(TARGETS ${_velqor_targets} EXPORT VelqorTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT VelqorTargets NAMESPACE Velqor:: DESTINATION ${VELQOR_INSTALL_CMAKEDIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/VelqorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VelqorConfig.cmake INSTALL_DESTINATION ${VELQOR_INSTALL_CMAKEDIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelqorConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VelqorConfig.cmake ${PROJECT_BINARY_DIR}/VelqorConfigVersion.cmake
  DESTINATION ${VELQOR_INSTALL_CMAKEDIR} COMPONENT dev)

list(TRANSFORM VELQOR_LIBRARIES PREPEND "-lvelqor_" OUTPUT_VARIABLE _velqor_pc_libs)
list(JOIN _velqor_pc_libs " " VELQOR_PC_LIBS)
# velqor.pc finds the prefix from its own place, so the installed tree may be moved.
file(RELATIVE_PATH VELQOR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VELQOR_PC_TO_PREFIX "${VELQOR_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/velqor.pc.in ${PROJECT_BINARY_DIR}/velqor.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velqor.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Public headers, by layer and folder, so that a header added to a layer is installed with it.
# Left out: the runtime's class table and the registration calls meant for tests and simulated
# servers, the markup pre-scan (used inside the DOM library only), and the Windows proxy/stub
# build's own folder.
foreach(_layer runtime contract browse com soap http xmlda model)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/toolkit/${_layer}
    DESTINATION ${VELQOR_INSTALL_INCLUDEDIR} COMPONENT dev
    FILES_MATCHING PATTERN "*.h"
    PATTERN "ComClassTable.h" EXCLUDE
    PATTERN "ComRuntimeControl.h" EXCLUDE
    PATTERN "idl" EXCLUDE)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/contract/VelqorVersion.h
  DESTINATION ${VELQOR_INSTALL_INCLUDEDIR}/contract COMPONENT dev)

# The programs and what makes them at home on the desktop and in the shell. Manual pages are
# written in roff and installed compressed, as Debian's policy asks.
set(_man_pages)
foreach(_program tagscope tagscope-cli tagscope-bridge xmlda-sim)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tagscope)
    set(_page ${PROJECT_BINARY_DIR}/man/${_program}.1)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${_program}.1.in ${_page} @ONLY)
    add_custom_command(OUTPUT ${_page}.gz
      COMMAND gzip -9 -n -f -k ${_page}
      DEPENDS ${_page} VERBATIM)
    list(APPEND _man_pages ${_page}.gz)
    install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tagscope)
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_man_pages})
# The bridge as a service: one instance per session file (tagscope-bridge@NAME reads
# /etc/tagscope/NAME.json and its broker from /etc/tagscope/NAME.env).
if(TARGET tagscope-bridge)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/tagscope-bridge@.service.in
    ${PROJECT_BINARY_DIR}/tagscope-bridge@.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tagscope-bridge@.service
    DESTINATION lib/systemd/system COMPONENT tagscope)
endif()
if(TARGET tagscope)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tagscope.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tagscope)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tagscope.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tagscope)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tagscope-session.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tagscope.xml COMPONENT tagscope)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/tagscope-cli.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tagscope-cli
  COMPONENT tagscope)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tagscope COMPONENT tagscope)
foreach(_component tagscope dev)
  set(_doc tagscope)
  if(_component STREQUAL "dev")
    set(_doc libvelqor-dev)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_doc}
    RENAME copyright COMPONENT ${_component})
endforeach()
