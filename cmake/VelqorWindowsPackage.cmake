# The Windows programs as a user installs them: tagscope-<version>-win64-setup.exe (NSIS, with
# Start-menu entries and an uninstaller) and tagscope-<version>-win64-portable.zip, both from the
# install rules below. Everything lands in one folder: the programs, the DLLs they load (found
# by CMake from the programs themselves), Qt's platform plugin in platforms/, the OPC proxy/stub
# DLL and the simulated servers. Make them with `cpack` in the build tree
# (scripts/build-windows-installer.sh).
set(_programs tagscope tagscope-cli comda-sim)
if(TARGET xmlda-sim)
  list(APPEND _programs xmlda-sim)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION .)
# DLLs that other programs load carry their own runtime; they are installed as they are.
install(TARGETS velqor_opcproxy comda-sim-inproc RUNTIME DESTINATION . LIBRARY DESTINATION .)

# Qt's platform plugin is loaded at run time, not linked: it and what it needs are named here.
get_target_property(_qwindows Qt6::QWindowsIntegrationPlugin IMPORTED_LOCATION_RELEASE)
if(NOT _qwindows)
  get_target_property(_qwindows Qt6::QWindowsIntegrationPlugin IMPORTED_LOCATION)
endif()
install(FILES ${_qwindows} DESTINATION platforms)

# Where the DLLs come from: the compiler's runtime and the libraries of
# scripts/setup-windows-deps.sh. The system's own DLLs stay out; Wine's copies of them (the
# Windows stage installs Wine) let their names be told from ours.
set(_dll_dirs)
foreach(_dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_path ${_path} DIRECTORY)
  get_filename_component(_path ${_path} REALPATH)
  list(APPEND _dll_dirs ${_path})
endforeach()
if(VELQOR_WINDOWS_DEPS)
  list(APPEND _dll_dirs ${VELQOR_WINDOWS_DEPS}/bin)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_wine_system /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  file(GLOB _wine_system /usr/lib/*-linux-gnu/wine/i386-windows)
endif()
# Read at install time from the programs and the plugin themselves (cmake/WindowsRuntimeDlls.cmake).
list(TRANSFORM _programs REPLACE "(.+)" "$<TARGET_FILE:\\1>" OUTPUT_VARIABLE _program_files)
install(CODE "
  set(VELQOR_DLL_PROGRAMS \"${_program_files}\")
  set(VELQOR_DLL_PLUGINS \"${_qwindows}\")
  set(VELQOR_DLL_DIRS \"${_dll_dirs}\")
  set(VELQOR_DLL_SYSTEM \"${_wine_system}\")
  set(VELQOR_DLL_OBJDUMP \"${CMAKE_OBJDUMP}\")
  set(VELQOR_DLL_STRIP \"${CMAKE_STRIP}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/WindowsRuntimeDlls.cmake)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Tagscope)
set(CPACK_PACKAGE_VENDOR "The Tagscope authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client for OPC Data Access servers")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tagscope)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tagscope)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_EXECUTABLES tagscope Tagscope)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_bits win64)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
else()
  set(_bits win32)
endif()
set(VELQOR_WINDOWS_PACKAGE_BASE tagscope-${PROJECT_VERSION}-${_bits})
set(CPACK_PACKAGE_FILE_NAME ${VELQOR_WINDOWS_PACKAGE_BASE}-setup)
set(CPACK_NSIS_DISPLAY_NAME Tagscope)
set(CPACK_NSIS_PACKAGE_NAME Tagscope)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN tagscope.exe)
# The OPC proxy/stub DLL registers only the interfaces no other vendor's proxy has claimed, and
# unregisters only what names it; the simulated servers register as local servers, to explore
# before touching a plant. A 64-bit installer's programs are run from the 64-bit system folder.
set(_sysdir "$SYSDIR")
if(_bits STREQUAL win64)
  set(_sysdir "$WINDIR\\\\Sysnative")
endif()
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  ExecWait '\\\"${_sysdir}\\\\regsvr32.exe\\\" /s \\\"$INSTDIR\\\\opcproxy.dll\\\"'
  ExecWait '\\\"$INSTDIR\\\\comda-sim.exe\\\" /RegServer'")
# The window remembers the last server in tagscope.ini beside it where it may write there: that
# file goes with the installation.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  Delete \\\"$INSTDIR\\\\tagscope.ini\\\"
  ExecWait '\\\"$INSTDIR\\\\comda-sim.exe\\\" /UnregServer'
  ExecWait '\\\"${_sysdir}\\\\regsvr32.exe\\\" /s /u \\\"$INSTDIR\\\\opcproxy.dll\\\"'")
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/CPackOptions.cmake.in
  ${PROJECT_BINARY_DIR}/CPackWindowsOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackWindowsOptions.cmake)
include(CPack)
