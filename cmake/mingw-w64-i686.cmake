# Cross-compiling for 32-bit Windows (g++-mingw-w64-i686): in-process servers are loaded only by
# clients of their own bitness, and most OPC servers are 32-bit. Use:
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(VELQOR_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
