# Cross build for 64-bit Windows with mingw-w64: the same loader as a PE32+ program, and the
# tools. The posix thread model gives std::thread, which the archive writer uses.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VO_MINGW_TRIPLE x86_64-w64-mingw32)
set(VO_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
