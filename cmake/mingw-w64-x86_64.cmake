# Cross build for Windows x86-64 with the mingw-w64 compilers of Debian
# (g++-mingw-w64-x86-64-posix). The posix flavour is needed: the engine and the tests use C++
# threads, which that flavour provides through winpthread.
#
#   cmake --preset windows        (see CMakePresets.json; scripts/test-windows.sh does it all)
#
# Everything is linked with -static, so the DLLs and the test programs need no libgcc, libstdc++
# or libwinpthread DLL beside them: only OstrelDAQEngine.dll and OstrelBoardSim.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTREL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${OSTREL_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${OSTREL_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

# Look for libraries and headers only in the target's sysroot, for programs only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
