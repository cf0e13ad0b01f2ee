# lumenord as a process against padsim as a process.
add_executable(cli_tests ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp)
target_link_libraries(cli_tests PRIVATE lumenord_test_support nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
add_dependencies(cli_tests lumenord padsim)
target_compile_definitions(cli_tests PRIVATE
    LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>"
    PADSIM_PROGRAM="$<TARGET_FILE:padsim>"
    ACCEPTANCE_SCRIPT="${PROJECT_SOURCE_DIR}/examples/acceptance.lumenord")
add_test(NAME cli_tests COMMAND cli_tests)
set_tests_properties(cli_tests PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")

# The tool's usage errors, in this process through RunTool.
lumenord_add_gtest(cli_usage_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/usage_test.cpp
                   LIBS lumenord_cli lumenord_test_support)

# Test records (--record, --junit): lumenord against padsim and a scripted pad, the option
# checks in this process.
add_executable(cli_records_tests ${CMAKE_CURRENT_LIST_DIR}/records_test.cpp)
target_link_libraries(cli_records_tests PRIVATE lumenord_cli lumenord_test_support GTest::gtest GTest::gtest_main)
add_dependencies(cli_records_tests lumenord padsim)
target_compile_definitions(cli_records_tests PRIVATE
    LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>"
    PADSIM_PROGRAM="$<TARGET_FILE:padsim>"
    ACCEPTANCE_SCRIPT="${PROJECT_SOURCE_DIR}/examples/acceptance.lumenord")
add_test(NAME cli_records_tests COMMAND cli_records_tests)
set_tests_properties(cli_records_tests PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
