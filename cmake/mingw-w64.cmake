# Cross-compiling for Windows with Debian's mingw-w64, POSIX thread model (std::thread and
# std::mutex need it): 64-bit (g++-mingw-w64-x86-64) by default, 32-bit through
# cmake/mingw-w64-i686.cmake (g++-mingw-w64-i686), which names the processor and includes this
# file. Use:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# With the libraries of scripts/setup-windows-deps.sh (Qt, libxml2, libcurl), the build also
# carries the window and the XML-DA transport:
#   cmake -S . -B build-winapp -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#     -DVELQOR_WINDOWS_DEPS=$(bash scripts/setup-windows-deps.sh | tail -1)
if(NOT DEFINED VELQOR_MINGW_PROCESSOR)
  set(VELQOR_MINGW_PROCESSOR x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELQOR_MINGW_PROCESSOR})
set(_triple ${VELQOR_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELQOR_MINGW_PROCESSOR VELQOR_WINDOWS_DEPS)
if(VELQOR_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VELQOR_WINDOWS_DEPS})
  # Qt's own tools (moc, uic, rcc) are the build machine's, of the same version.
  set(QT_HOST_PATH /usr)
  # Programs share the compiler's runtime DLLs with Qt's: one C++ runtime in a process. A DLL
  # that other programs load (the proxy/stub DLL, the in-process server) keeps its own.
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
else()
  # The programs run under Wine without the compiler's DLLs beside them.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
