# Tests of the simulated pad: the engine alone, the driver against PtyPad, the front end program.
add_library(padsim_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/reference_crypto.cpp)
target_include_directories(padsim_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(padsim_test_support PUBLIC OpenSSL::Crypto)

lumenord_add_gtest(padsim_engine_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_test.cpp
                   LIBS padsim_engine padsim_test_support)
