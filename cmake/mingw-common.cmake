# What both mingw-w64 toolchain files share; each sets VO_MINGW_TRIPLE, VO_MINGW_THREADS (the
# compiler's thread model, posix or win32) and the processor first. Everything is linked
# statically, so the programs need no DLL beyond the Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

find_program(VO_MINGW_CXX NAMES ${VO_MINGW_TRIPLE}-g++-${VO_MINGW_THREADS}
                                ${VO_MINGW_TRIPLE}-c++-${VO_MINGW_THREADS} REQUIRED)
set(CMAKE_CXX_COMPILER ${VO_MINGW_CXX})
set(CMAKE_RC_COMPILER ${VO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
