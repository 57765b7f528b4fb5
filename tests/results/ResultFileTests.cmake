# The result file's tests. No window needed.
add_executable(resultfile_tests
  resultfile_block_tests.cpp)
target_link_libraries(resultfile_tests PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
add_test(NAME resultfile_tests COMMAND resultfile_tests)
set_tests_properties(resultfile_tests PROPERTIES TIMEOUT 60 LABELS results)
