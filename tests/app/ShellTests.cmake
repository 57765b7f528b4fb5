if(TONVALE_BUILD_GUI)
  # The main window and the About box, under Xvfb.
  tv_add_test(app_main_window_test SOURCES main_window_test.cpp LIBS tv_shell GUI SHARDS 2 TIMEOUT 120)

  # The real program as a process: how it ends, and what it leaves in its working directory.
  tv_add_test(app_process_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/process_test.sh $<TARGET_FILE:tonvale>
              GUI TIMEOUT 120)

  # The value fields of every dialog against their longest values, in the installed fonts.
  tv_add_test(app_value_fields_test SOURCES value_fields_test.cpp LIBS tv_shell GUI TIMEOUT 60)

  # The context menu's My Results entry through the accessibility bus, with a pyatspi script.
  tv_add_test(app_context_menu_a11y_test SOURCES context_menu_a11y_test.cpp LIBS tv_shell GUI TIMEOUT 150
              DEFINITIONS TONVALE_A11Y_PYTHON="/usr/bin/python3"
                          TONVALE_A11Y_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/context_menu_a11y.py")

  # The real program on Wayland with no X server, driven over the accessibility bus: on mutter, as
  # GNOME runs it, a check's help over the check, closed with Escape, and Quit; on weston, which has
  # no keyboard or pointer at all, start and Quit.
  foreach(compositor mutter weston)
    tv_add_test(app_wayland_${compositor}_test TIMEOUT 90
                COMMAND ${TV_PRIVATE_WAYLAND} --compositor ${compositor} -- /usr/bin/python3
                        ${CMAKE_CURRENT_SOURCE_DIR}/wayland_a11y.py $<TARGET_FILE:tonvale>)
  endforeach()

  # The program's options, run as a process without a display.
  tv_add_test(app_command_line_test SOURCES command_line_test.cpp LIBS tv_report tv_version LABELS results
              DEPENDS tonvale DEFINITIONS TONVALE_EXE="$<TARGET_FILE:tonvale>")
endif()
