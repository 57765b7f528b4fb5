# The result file's tests. No window needed.
tv_add_test(results_result_file_test SOURCES result_file_block_test.cpp result_file_save_test.cpp
            LIBS tv_results LABELS results)
# Read-only files and directories: run as an ordinary user, since root may write them anyway.
tv_add_test(results_result_file_permission_test SOURCES result_file_permission_test.cpp LIBS tv_results
            LABELS results
            COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run-unprivileged.sh
                    $<TARGET_FILE:results_result_file_permission_test>)
