lumenord_label_tests_at_end()
# Qt Test cases of the test program, run offscreen; each case works in its own temporary folder.
find_package(Qt6 REQUIRED COMPONENTS Test)

# testapp_add_qtest(name SOURCES ... LIBS ...): one Qt Test executable registered with ctest.
function(testapp_add_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE testapp_pages Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    # LeakSanitizer reports allocations that Qt and fontconfig keep until exit.
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0")
endfunction()

testapp_add_qtest(testapp_logic_tests SOURCES tests/logic_test.cpp)
testapp_add_qtest(testapp_startup_tests SOURCES tests/startup_test.cpp)
# Tab, Return, Escape and F12 in the window and the monitor.
testapp_add_qtest(testapp_keyboard_tests SOURCES tests/keyboard_test.cpp)
testapp_add_qtest(testapp_operations_logic_tests SOURCES tests/operations_logic_test.cpp)
testapp_add_qtest(testapp_cleartext_logic_tests SOURCES tests/cleartext_logic_test.cpp)
# The serial devices on the "Commu para" page, from a fake sysfs tree.
testapp_add_qtest(testapp_serial_devices_tests SOURCES tests/serial_devices_page_test.cpp
    LIBS lumenord_test_support)

# The end-to-end cases need the driver library beside them and the simulated pad.
if(TARGET Lumenord AND TARGET padsim_engine)
    # Which file of the driver is loaded, from a program folder made by the test.
    testapp_add_qtest(testapp_loader_tests SOURCES tests/loader_test.cpp)
    target_compile_definitions(testapp_loader_tests PRIVATE
        LUMENORD_LIBRARY_PATH="$<TARGET_FILE:Lumenord>")
    add_dependencies(testapp_loader_tests Lumenord)
    testapp_add_qtest(testapp_shell_device_tests SOURCES tests/shell_device_test.cpp
        LIBS padsim_engine)
    testapp_add_qtest(testapp_pages_device_tests SOURCES tests/pages_device_test.cpp
        LIBS padsim_engine)
    testapp_add_qtest(testapp_cleartext_ic_device_tests SOURCES tests/cleartext_ic_device_test.cpp
        LIBS padsim_engine lumenord_test_support)
    add_dependencies(testapp_cleartext_ic_device_tests Lumenord)
    add_dependencies(testapp_shell_device_tests Lumenord)
    add_dependencies(testapp_pages_device_tests Lumenord)
    # Random operator actions on every page.
    testapp_add_qtest(testapp_operator_monkey_tests SOURCES tests/operator_monkey_test.cpp
        LIBS padsim_engine)
    add_dependencies(testapp_operator_monkey_tests Lumenord)
    # MONKEY_ACTIONS and MONKEY_SEED set the length and the seed of a run by hand.
    # The pad unplugged at every moment and plugged back.
    testapp_add_qtest(testapp_unplug_device_tests SOURCES tests/unplug_device_test.cpp
        LIBS padsim_engine)
    add_dependencies(testapp_unplug_device_tests Lumenord)
    # The frame monitor and the operation history.
    testapp_add_qtest(testapp_monitor_tests SOURCES tests/monitor_device_test.cpp
        LIBS padsim_engine)
    add_dependencies(testapp_monitor_tests Lumenord)
    # The certification from the monitor window.
    testapp_add_qtest(testapp_certify_tests SOURCES tests/certify_device_test.cpp
        LIBS padsim_engine)
    add_dependencies(testapp_certify_tests Lumenord)
    # The PIN, MAC and data pages and the two halves of the key management page; expected
    # values computed with OpenSSL.
    foreach(page pin_page operation_pages keys_clear keys_cipher)
        testapp_add_qtest(testapp_${page}_tests SOURCES tests/${page}_test.cpp
            LIBS padsim_engine lumenord_test_support)
        add_dependencies(testapp_${page}_tests Lumenord)
    endforeach()
endif()

# Pictures of the pages for the documentation; built on request, never run as a test.
if(TARGET padsim_engine)
    add_executable(testapp_screenshots EXCLUDE_FROM_ALL tests/screenshots.cpp)
    target_link_libraries(testapp_screenshots PRIVATE testapp_pages padsim_engine)
    add_dependencies(testapp_screenshots Lumenord)
endif()

# --help and --version answer without a display (the manual page is made from them); an
# argument beside them that is not the program's is a usage error. Each row: name, exit code,
# a pattern of the output, arguments.
set(check_run [=[
expected=$1
pattern=$2
shift 2
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
[ "$rc" -eq "$expected" ] || { echo "exit $rc, expected $expected"
                                exit 1
                              }
printf '%s\n' "$out" | grep -qE -- "$pattern"
]=])
foreach(row "version|0|^Tallowbench_english ${PROJECT_VERSION}$|--version"
            "help|0|LUMENORD_LIBRARY|--help"
            "unknown_option|2|Unknown option 'frobnicate'|--help --frobnicate")
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 name)
    list(GET row 1 code)
    list(GET row 2 pattern)
    list(GET row 3 arguments)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    add_test(NAME testapp_command_line_${name}
             COMMAND sh -c "${check_run}" sh ${code} "${pattern}"
                     ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                     --unset=QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0
                     $<TARGET_FILE:Tallowbench_english> ${arguments})
endforeach()

# Real clicks and key presses from an X server: the focus after a first click on a window not
# yet active, and keys pressed while an operation runs. Needs xvfb-run and xdotool (both
# installed by scripts/setup); without them the cases skip and say why.
find_program(XVFB_RUN xvfb-run)
find_program(XDOTOOL xdotool)
if(TARGET Lumenord AND TARGET padsim_engine)
    add_executable(testapp_real_clicks_tests tests/real_clicks_test.cpp)
    target_link_libraries(testapp_real_clicks_tests PRIVATE testapp_pages Qt6::Test padsim_engine)
    add_dependencies(testapp_real_clicks_tests Lumenord)
    if(XVFB_RUN AND XDOTOOL)
        add_test(NAME testapp_real_clicks_tests
                 COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x800x24"
                         $<TARGET_FILE:testapp_real_clicks_tests>)
        set_tests_properties(testapp_real_clicks_tests PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=xcb;ASAN_OPTIONS=detect_leaks=0")
    else()
        add_test(NAME testapp_real_clicks_tests COMMAND testapp_real_clicks_tests)
        set_tests_properties(testapp_real_clicks_tests PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0")
    endif()
endif()
