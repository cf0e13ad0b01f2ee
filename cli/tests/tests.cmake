# lumenord as a process against padsim as a process.
add_executable(cli_tests ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/verdict_test.cpp)
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
target_compile_definitions(cli_usage_tests PRIVATE EXPECTED_VERSION="${PROJECT_VERSION}")

# Ctrl-C and SIGTERM while the tool waits on padsim.
add_executable(cli_interrupt_tests ${CMAKE_CURRENT_LIST_DIR}/interrupt_test.cpp)
target_link_libraries(cli_interrupt_tests PRIVATE lumenord_test_support nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
add_dependencies(cli_interrupt_tests lumenord padsim)
target_compile_definitions(cli_interrupt_tests PRIVATE
    LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>"
    PADSIM_PROGRAM="$<TARGET_FILE:padsim>")
add_test(NAME cli_interrupt_tests COMMAND cli_interrupt_tests)
set_tests_properties(cli_interrupt_tests PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")

# Why the port could not be opened: the tool as a process, the error mapping in process.
lumenord_add_gtest(cli_open_failure_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/open_failure_test.cpp
                   LIBS lumenord_cli lumenord_test_support)
add_dependencies(cli_open_failure_tests lumenord)
target_compile_definitions(cli_open_failure_tests PRIVATE LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>")

# Secrets and the key store: key sources in this process, flows against padsim as a process.
add_executable(cli_secrets_tests ${CMAKE_CURRENT_LIST_DIR}/secrets_test.cpp)
target_link_libraries(cli_secrets_tests PRIVATE lumenord_cli lumenord_test_support nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
add_dependencies(cli_secrets_tests lumenord padsim)
target_compile_definitions(cli_secrets_tests PRIVATE
    LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>"
    PADSIM_PROGRAM="$<TARGET_FILE:padsim>")
add_test(NAME cli_secrets_tests COMMAND cli_secrets_tests)

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
