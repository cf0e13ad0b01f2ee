# A test of lumenord as a process against padsim as a process: `name` built from SOURCES, with
# the paths of both programs and of the acceptance script, and leak checks on.
function(lumenord_add_tool_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE lumenord_cli lumenord_test_support
                          nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
    add_dependencies(${name} lumenord padsim)
    target_compile_definitions(${name} PRIVATE
        LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>"
        PADSIM_PROGRAM="$<TARGET_FILE:padsim>"
        ACCEPTANCE_SCRIPT="${PROJECT_SOURCE_DIR}/examples/acceptance.lumenord"
        LUMENORD_VERSION_TEXT="${PROJECT_VERSION}")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
endfunction()

# Whole operations and run files, the program's verdicts for pad statuses, --quiet.
lumenord_add_tool_test(cli_tests SOURCES cli_test.cpp verdict_test.cpp)
# Ctrl-C and SIGTERM while the tool waits on padsim.
lumenord_add_tool_test(cli_interrupt_tests SOURCES interrupt_test.cpp)
# Secrets and the key store: key sources in this process, flows against padsim as a process.
lumenord_add_tool_test(cli_secrets_tests SOURCES secrets_test.cpp)
# Test records (--record, --junit): against padsim and a scripted pad, option checks in process.
lumenord_add_tool_test(cli_records_tests SOURCES records_test.cpp)
# One run file on several pads at once; the key store written by several processes at once.
lumenord_add_tool_test(cli_fleet_tests SOURCES fleet_test.cpp)

# The tool's usage errors, in this process through RunTool.
lumenord_add_gtest(cli_usage_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/usage_test.cpp
                   LIBS lumenord_cli lumenord_test_support)
target_compile_definitions(cli_usage_tests PRIVATE EXPECTED_VERSION="${PROJECT_VERSION}")

# Why the port could not be opened: the tool as a process, the error mapping in process.
lumenord_add_gtest(cli_open_failure_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/open_failure_test.cpp
                   LIBS lumenord_cli lumenord_test_support)
add_dependencies(cli_open_failure_tests lumenord)
target_compile_definitions(cli_open_failure_tests PRIVATE LUMENORD_PROGRAM="$<TARGET_FILE:lumenord>")
# certify: a clean padsim conforms, each fault is caught where it lies, Ctrl-C leaves a report.
lumenord_add_tool_test(cli_certify_tests SOURCES certify_test.cpp)
# Where the browser's screenshot of a certificate is kept.
target_compile_definitions(cli_certify_tests PRIVATE
    CERTIFICATE_SCREENSHOT="${CMAKE_BINARY_DIR}/certificate.png")
