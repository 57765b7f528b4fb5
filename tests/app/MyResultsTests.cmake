# The program's options, run without a display.
if(TARGET tonvale)
  add_executable(command_line_test command_line_test.cpp)
  target_link_libraries(command_line_test PRIVATE tv_results tv_test_support GTest::gtest_main tv_warnings)
  target_compile_definitions(command_line_test PRIVATE TONVALE_EXE="$<TARGET_FILE:tonvale>")
  add_dependencies(command_line_test tonvale)
  add_test(NAME command_line_test COMMAND command_line_test)
  set_tests_properties(command_line_test PROPERTIES TIMEOUT 60 LABELS "results")
endif()

# The context menu's My Results entry through the accessibility bus, with a pyatspi script.
if(TONVALE_BUILD_GUI)
  tv_add_gui_test(context_menu_a11y_test
    SOURCES context_menu_a11y_test.cpp
    LIBS tv_shell
    TIMEOUT 150)
  target_compile_definitions(context_menu_a11y_test PRIVATE
    TONVALE_A11Y_PYTHON="/usr/bin/python3"
    TONVALE_A11Y_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/context_menu_a11y.py")
endif()
