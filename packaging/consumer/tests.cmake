lumenord_label_tests_at_end()
# The consumer test runs against the Release tree that scripts/package built and packaged (the
# test tree itself is built with sanitizers, which neither a plain consumer nor a package may
# depend on); scripts/test names that tree. Without it the test is skipped and says why.
set(LUMENORD_PACKAGE_BUILD "" CACHE PATH "Release tree built and packaged by scripts/package, for the consumer test")
if(LUMENORD_PACKAGE_BUILD)
    add_test(NAME package_consumer_tests
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/consumer_test.sh ${LUMENORD_PACKAGE_BUILD}
                     ${CMAKE_COMMAND} ${CMAKE_C_COMPILER})
else()
    add_test(NAME package_consumer_tests
             COMMAND sh -c "echo 'skipped: no package tree given (configure with -DLUMENORD_PACKAGE_BUILD=DIR after scripts/package, as scripts/test does)'; exit 77")
endif()
set_tests_properties(package_consumer_tests PROPERTIES SKIP_RETURN_CODE 77)
