# Cross build for 32-bit Windows with mingw-w64. The posix thread model gives std::thread,
# which the archive writer uses; everything is linked statically so Setup.exe needs no DLL
# beyond the Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

find_program(VO_MINGW_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-c++-posix
             i686-w64-mingw32-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${VO_MINGW_CXX})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
