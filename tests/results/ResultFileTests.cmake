# The result file's tests. No window needed.
add_executable(resultfile_tests
  result_file_block_test.cpp
  result_file_save_test.cpp)
target_link_libraries(resultfile_tests PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
add_test(NAME resultfile_tests COMMAND resultfile_tests)
set_tests_properties(resultfile_tests PROPERTIES TIMEOUT 60 LABELS results)

# Read-only files and directories: run as an ordinary user, since root may write them anyway.
add_executable(resultfile_permission_tests result_file_permission_test.cpp)
target_link_libraries(resultfile_permission_tests PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
add_test(NAME resultfile_permission_tests
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run-unprivileged.sh $<TARGET_FILE:resultfile_permission_tests>)
set_tests_properties(resultfile_permission_tests PROPERTIES TIMEOUT 60 LABELS results)
