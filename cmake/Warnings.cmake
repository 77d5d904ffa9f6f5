# One warning set for every target of the project (this build only: the installed toolkit passes
# no options on to the programs built against it).
set(_velqor_warning_options
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)
add_library(velqor_warnings INTERFACE)
target_compile_options(velqor_warnings INTERFACE "$<BUILD_INTERFACE:${_velqor_warning_options}>")
