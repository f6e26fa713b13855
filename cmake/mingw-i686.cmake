# Cross build for 32-bit Windows with mingw-w64: the Setup.exe that ships. The win32 thread
# model keeps the pthread emulation out of it, which the unwinder of this target would otherwise
# link for its locks: a quarter of the program. It has no std::thread, so this build makes the
# loader's programs only (the preset sets VO_TOOLS off).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VO_MINGW_TRIPLE i686-w64-mingw32)
set(VO_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
