# The OPC interface definitions (toolkit/com/idl) compiled by widl into a C/C++ header, interface
# identifiers and proxy/stub sources. Found where Debian's mingw-w64-tools (widl) and
# libwine-dev (the platform's standard IDL files) are installed; VELQOR_HAVE_WIDL says so.
# One widl serves both bitnesses: -m32 or -m64 picks the layout of the generated proxies.
find_program(VELQOR_WIDL NAMES x86_64-w64-mingw32-widl i686-w64-mingw32-widl widl
  NO_CMAKE_FIND_ROOT_PATH)
find_path(VELQOR_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows
  /usr/include/wine/windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(VELQOR_WIDL AND VELQOR_WINE_IDL_DIR)
  set(VELQOR_HAVE_WIDL ON)
else()
  set(VELQOR_HAVE_WIDL OFF)
endif()
set(VELQOR_OPC_IDL_NAMES opc_common opc_da)
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  set(VELQOR_HAVE_WIDL OFF)
endif()

# velqor_opc_idl(<output dir> [32|64]): rules that write <name>.h, <name>_i.c and <name>_p.c for
# each definition file, plus dlldata.c, for the target's bitness or the one named. Proxies are
# stubless (-Oif): the only kind whose generated C builds against the mingw-w64 headers. widl's
# proxy source goes to widl/<name>_p.c (the file name gives the proxy's symbol names) and is
# corrected into <name>_p.c by FixStublessProxy.py (widl misplaces some string parameters and,
# in 32-bit proxies, the count of an embedded structure's array).
function(velqor_opc_idl outdir)
  if(ARGC GREATER 1)
    set(_widl_bits -m${ARGV1})
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_widl_bits -m32)
  else()
    set(_widl_bits -m64)
  endif()
  set(_outputs)
  foreach(_name IN LISTS VELQOR_OPC_IDL_NAMES)
    set(_idl ${PROJECT_SOURCE_DIR}/toolkit/com/idl/${_name}.idl)
    add_custom_command(
      OUTPUT ${outdir}/${_name}.h ${outdir}/${_name}_i.c ${outdir}/${_name}_p.c
      COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}/widl
      COMMAND ${VELQOR_WIDL} ${_widl_bits} -Oif -I${VELQOR_WINE_IDL_DIR} -h -H ${outdir}/${_name}.h
              -u -U ${outdir}/${_name}_i.c -p -P ${outdir}/widl/${_name}_p.c ${_idl}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/FixStublessProxy.py
              ${outdir}/widl/${_name}_p.c ${outdir}/${_name}_p.c
      DEPENDS ${_idl} ${PROJECT_SOURCE_DIR}/cmake/FixStublessProxy.py
      COMMENT "widl ${_name}.idl"
      VERBATIM)
    list(APPEND _outputs ${outdir}/${_name}.h ${outdir}/${_name}_i.c ${outdir}/${_name}_p.c)
  endforeach()
  add_custom_command(
    OUTPUT ${outdir}/dlldata.c
    COMMAND ${VELQOR_WIDL} --dlldata-only -o ${outdir}/dlldata.c ${VELQOR_OPC_IDL_NAMES}
    COMMENT "widl dlldata.c"
    VERBATIM)
  list(APPEND _outputs ${outdir}/dlldata.c)
  set(VELQOR_OPC_IDL_OUTPUTS ${_outputs} PARENT_SCOPE)
endfunction()
