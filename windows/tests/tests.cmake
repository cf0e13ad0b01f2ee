# Both DLLs: plain export names, system imports only.
foreach(arch x86 x64)
    add_test(NAME windows_dll_${arch}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_dll.sh ${LUMENORD_WINDOWS_BUILD}/Lumenord/${arch}/Lumenord.dll)
endforeach()

# The 64-bit DLL under wine (this machine runs no 32-bit programs): the bridge of the 64-bit
# build drives every export against ptys on the Linux side.
find_program(LUMENORD_WINE_PROGRAM wine REQUIRED)
find_program(LUMENORD_WINESERVER_PROGRAM wineserver REQUIRED)
add_executable(wine_driver_tests tests/wine_driver_test.cpp tests/wine_session.cpp)
target_include_directories(wine_driver_tests PRIVATE tests)
target_link_libraries(wine_driver_tests PRIVATE lumenord_test_support padsim_engine
                      GTest::gtest GTest::gtest_main)
target_compile_definitions(wine_driver_tests PRIVATE
    LUMENORD_WINDOWS_BIN="${LUMENORD_WINDOWS_BUILD}/build-x64/bin"
    LUMENORD_WINE="${LUMENORD_WINE_PROGRAM}"
    LUMENORD_WINESERVER="${LUMENORD_WINESERVER_PROGRAM}"
    LUMENORD_WINE_PREFIX="${CMAKE_BINARY_DIR}/wine-prefix")
add_test(NAME wine_driver_tests COMMAND wine_driver_tests)
set_tests_properties(wine_driver_tests PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
