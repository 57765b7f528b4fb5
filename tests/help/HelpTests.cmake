# The help: the compiled file and its reader (no window), and the help window under Xvfb.
if(TONVALE_BUILD_GUI)
  find_library(CHMLIB_LIBRARY chm REQUIRED)
  set(help_test_definitions
      TONVALE_TEST_HELP_FILE="${TONVALE_HELP_FILE}"
      TONVALE_TEST_PROGRAM_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  tv_add_test(help_reader_test SOURCES reader_test.cpp LIBS tv_help_reader tv_version ${CHMLIB_LIBRARY}
              DEFINITIONS ${help_test_definitions} DEPENDS tv_help)
  tv_add_test(help_viewer_test SOURCES viewer_test.cpp LIBS tv_help_viewer GUI SHARDS 3 TIMEOUT 180
              DEFINITIONS ${help_test_definitions} DEPENDS tv_help)
endif()
