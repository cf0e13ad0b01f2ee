# One test executable per driver layer. Tests of the exports load the shared library itself.
lumenord_add_gtest(serial_tests SOURCES tests/serial_channel_test.cpp LIBS lumenord_core lumenord_test_support)
lumenord_add_gtest(frame_tests SOURCES tests/frame_exchange_test.cpp LIBS lumenord_core lumenord_test_support)
lumenord_add_gtest(setup_tests SOURCES tests/setup_commands_test.cpp LIBS lumenord_core lumenord_test_support)
lumenord_add_gtest(trace_tests SOURCES tests/trace_test.cpp LIBS lumenord_test_support ${CMAKE_DL_LIBS})
lumenord_add_gtest(des_tests SOURCES tests/des_engine_test.cpp LIBS lumenord_core OpenSSL::Crypto)
lumenord_add_gtest(commands_tests SOURCES tests/commands_test.cpp tests/frame_monitor_test.cpp tests/replies_test.cpp tests/system_calls_test.cpp tests/failure_reasons_test.cpp LIBS lumenord_core lumenord_test_support padsim_engine OpenSSL::Crypto)
add_dependencies(trace_tests Lumenord)
target_compile_definitions(trace_tests PRIVATE LUMENORD_LIBRARY_PATH="$<TARGET_FILE:Lumenord>")

add_test(NAME exported_symbols
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/check_exports.sh $<TARGET_FILE:Lumenord>)
