# The help: the compiled file and its reader (no window), and the help window under Xvfb.
if(TONVALE_BUILD_GUI)
  find_library(CHMLIB_LIBRARY chm REQUIRED)
  set(help_test_definitions
      TONVALE_TEST_HELP_FILE="${TONVALE_HELP_FILE}"
      TONVALE_TEST_PROGRAM_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")

  add_executable(help_reader_test reader_test.cpp)
  target_link_libraries(help_reader_test PRIVATE tv_help_reader tv_version tv_test_support ${CHMLIB_LIBRARY}
                        GTest::gtest_main tv_warnings)
  target_compile_definitions(help_reader_test PRIVATE ${help_test_definitions})
  add_dependencies(help_reader_test tv_help)
  add_test(NAME help_reader_test COMMAND help_reader_test)
  set_tests_properties(help_reader_test PROPERTIES TIMEOUT 60)

  tv_add_gui_test(help_viewer_test
    SOURCES viewer_test.cpp
    LIBS tv_help_viewer
    TIMEOUT 180)
  target_compile_definitions(help_viewer_test PRIVATE ${help_test_definitions})
  add_dependencies(help_viewer_test tv_help)
endif()
