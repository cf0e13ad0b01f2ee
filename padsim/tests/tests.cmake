# Tests of the simulated pad: the engine alone, the driver against PtyPad, the front end program.
lumenord_add_gtest(padsim_engine_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_test.cpp
                   LIBS padsim_engine lumenord_test_support)

# The driver against PtyPad. The tests that wait out the driver's read time-out (named Slow...)
# run as entries of their own so that ctest can run them side by side.
add_executable(padsim_driver_tests ${CMAKE_CURRENT_LIST_DIR}/driver_test.cpp)
target_link_libraries(padsim_driver_tests PRIVATE padsim_engine lumenord_test_support lumenord_core
                      GTest::gtest GTest::gtest_main)
add_test(NAME padsim_driver_tests COMMAND padsim_driver_tests --gtest_filter=-*.Slow*)
set(padsim_driver_test_names padsim_driver_tests)
foreach(slow SilentPad SilentPadOnPinStart ReplyBeyondTheTimeOut ReplyCutShort)
    add_test(NAME padsim_driver_slow_${slow} COMMAND padsim_driver_tests --gtest_filter=Driver.Slow${slow})
    list(APPEND padsim_driver_test_names padsim_driver_slow_${slow})
endforeach()
set_tests_properties(${padsim_driver_test_names} PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")

lumenord_add_gtest(padsim_frontend_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/frontend_test.cpp
                   LIBS lumenord_core lumenord_test_support nlohmann_json::nlohmann_json)
add_dependencies(padsim_frontend_tests padsim)
target_compile_definitions(padsim_frontend_tests PRIVATE PADSIM_PROGRAM="$<TARGET_FILE:padsim>")

# Every export against every injected fault; cells run side by side in child processes, each
# fault an entry of its own.
lumenord_add_gtest_cases(fault_matrix_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/fault_matrix_test.cpp
                         LIBS padsim_engine lumenord_test_support lumenord_core
                         LABELS "device;slow")

# The soak program: scripts/soak runs 100,000 commands; ctest a short run.
add_executable(soak_run ${CMAKE_CURRENT_LIST_DIR}/soak_main.cpp)
target_link_libraries(soak_run PRIVATE padsim_engine lumenord_test_support lumenord_core)
add_test(NAME soak_2000 COMMAND soak_run 2000 8192)
