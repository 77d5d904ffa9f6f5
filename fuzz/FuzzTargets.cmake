# What every libFuzzer target shares: the flags, and the libraries under test built with the
# coverage feedback.
set(VELQOR_FUZZ_FLAGS -fsanitize=fuzzer-no-link)
set(VELQOR_FUZZ_LINK -fsanitize=fuzzer)
if(NOT VELQOR_SANITIZE STREQUAL "address")
  list(APPEND VELQOR_FUZZ_FLAGS -fsanitize=address,undefined)
  list(APPEND VELQOR_FUZZ_LINK -fsanitize=address,undefined)
endif()

# velqor_fuzz_instrument(<library>...): coverage feedback from the code under test.
function(velqor_fuzz_instrument)
  foreach(_lib IN LISTS ARGN)
    target_compile_options(${_lib} PRIVATE ${VELQOR_FUZZ_FLAGS})
  endforeach()
endfunction()

# velqor_add_fuzzer(<name> SOURCES <file>... LIBS <library>... [INCLUDES <dir>...])
function(velqor_add_fuzzer name)
  cmake_parse_arguments(PARSE_ARGV 1 _fz "" "" "SOURCES;LIBS;INCLUDES")
  add_executable(${name} ${_fz_SOURCES})
  target_include_directories(${name} PRIVATE ${_fz_INCLUDES})
  target_compile_options(${name} PRIVATE ${VELQOR_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE ${VELQOR_FUZZ_LINK})
  target_link_libraries(${name} PRIVATE ${_fz_LIBS} velqor_warnings)
endfunction()
