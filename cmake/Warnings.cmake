# One warning set for every target of the project (this build only: the installed toolkit passes
# no options on to the programs built against it).
set(_velqor_warning_options
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)
if(WIN32)
  # The platform's interface declarations have public non-virtual destructors by design (COM
  # objects die through Release), which every implementing class would be warned about.
  list(APPEND _velqor_warning_options -Wno-non-virtual-dtor)
endif()
add_library(velqor_warnings INTERFACE)
target_compile_options(velqor_warnings INTERFACE "$<BUILD_INTERFACE:${_velqor_warning_options}>")
