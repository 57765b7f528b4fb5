# The log and the "My Results" page. The page is rendered in headless Chromium; its screenshots
# stay in the build tree for a person to look at.
tv_add_test(results_check_log_test SOURCES check_log_test.cpp LIBS tv_results LABELS results)
tv_add_test(results_result_report_test SOURCES result_report_test.cpp LIBS tv_results LABELS results TIMEOUT 180 PROCESSORS 2
            DEFINITIONS TONVALE_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
