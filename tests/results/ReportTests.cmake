# The log and the "My Results" page. The page is rendered in headless Chromium; its screenshots
# stay in the build tree for a person to look at.
add_executable(check_log_test ${CMAKE_CURRENT_LIST_DIR}/check_log_test.cpp)
target_link_libraries(check_log_test PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
add_test(NAME check_log COMMAND check_log_test)
set_tests_properties(check_log PROPERTIES TIMEOUT 60 LABELS "results")

add_executable(result_report_test ${CMAKE_CURRENT_LIST_DIR}/result_report_test.cpp)
target_link_libraries(result_report_test PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
target_compile_definitions(result_report_test PRIVATE TONVALE_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_test(NAME result_report COMMAND result_report_test)
set_tests_properties(result_report PROPERTIES TIMEOUT 180 LABELS "results")
