if(TONVALE_BUILD_GUI)
  # The main window and the About box, under Xvfb.
  tv_add_gui_test(shell_main_window_test
    SOURCES main_window_test.cpp
    LIBS tv_shell
    TIMEOUT 120)

  # The real program as a process: how it ends, and what it leaves in its working directory.
  add_test(NAME shell_process_test
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/process_test.sh $<TARGET_FILE:tonvale>)
  set_tests_properties(shell_process_test PROPERTIES TIMEOUT 120 LABELS "gui" RUN_SERIAL TRUE)
endif()
