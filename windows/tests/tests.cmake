lumenord_label_tests_at_end()
# Both DLLs: plain export names, system imports only.
foreach(arch x86 x64)
    add_test(NAME windows_dll_${arch}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_dll.sh ${LUMENORD_WINDOWS_BUILD}/Lumenord/${arch}/Lumenord.dll)
endforeach()

# Both DLLs under wine: the bridge and the key store writer of each bitness run against ptys and
# files on the Linux side, with wine's loader of that bitness (Debian's "wine" script picks the
# 32-bit one whenever wine32 is installed, so the loaders are named directly). On a machine that
# cannot run 32-bit programs the x86 run says why and is reported as skipped.
find_program(LUMENORD_WINE64_LOADER wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
set(LUMENORD_WINE32_LOADER /usr/lib/wine/wine CACHE FILEPATH "wine's loader of 32-bit programs")
find_program(LUMENORD_WINESERVER_PROGRAM wineserver REQUIRED)
add_executable(wine_driver_tests tests/wine_driver_test.cpp tests/wine_key_store_test.cpp
                                 tests/wine_session.cpp)
# pinpad.h for the result codes and frame directions by name.
target_include_directories(wine_driver_tests PRIVATE tests ${PROJECT_SOURCE_DIR}/driver/include)
target_link_libraries(wine_driver_tests PRIVATE lumenord_test_support padsim_engine platform
                      GTest::gtest)
target_compile_definitions(wine_driver_tests PRIVATE
    LUMENORD_WINDOWS_BUILD="${LUMENORD_WINDOWS_BUILD}"
    LUMENORD_WINE64_LOADER="${LUMENORD_WINE64_LOADER}"
    LUMENORD_WINE32_LOADER="${LUMENORD_WINE32_LOADER}"
    LUMENORD_WINESERVER="${LUMENORD_WINESERVER_PROGRAM}"
    LUMENORD_WINE_PREFIX_BASE="${CMAKE_BINARY_DIR}/wine-prefix")
foreach(arch x86 x64)
    add_test(NAME wine_driver_tests_${arch} COMMAND wine_driver_tests ${arch})
    set_tests_properties(wine_driver_tests_${arch} PROPERTIES
        ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1" SKIP_RETURN_CODE 77)
endforeach()

# The test program's own sources: no POSIX header outside *_posix.cpp, and every source without
# Qt compiles for 32-bit Windows (no link).
find_program(LUMENORD_MINGW32_CXX NAMES i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++ REQUIRED)
add_test(NAME windows_program_sources
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_program_sources.sh ${LUMENORD_MINGW32_CXX})
