# One warning set for every target of the project.
add_library(velqor_warnings INTERFACE)
target_compile_options(velqor_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)
if(WIN32)
  # The platform's interface declarations have public non-virtual destructors by design (COM
  # objects die through Release), which every implementing class would be warned about.
  target_compile_options(velqor_warnings INTERFACE -Wno-non-virtual-dtor)
endif()
