# Cross-building for 32-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-i686-win32).
set(LUMENORD_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
