# Cross-building for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-win32).
set(LUMENORD_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
