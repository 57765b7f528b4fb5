# The submission: the request body and headers as a loopback server receives them, the outcomes
# of every kind of answer, and the questionnaire dialog under Xvfb.
add_library(tv_loopback_http STATIC ${CMAKE_CURRENT_LIST_DIR}/LoopbackHttpServer.cpp)
target_include_directories(tv_loopback_http PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tv_loopback_http PUBLIC Threads::Threads PRIVATE tv_warnings)

foreach(name submission_body submission_exchange)
  add_executable(${name}_test ${CMAKE_CURRENT_LIST_DIR}/${name}_test.cpp)
  target_link_libraries(${name}_test PRIVATE tv_results tv_loopback_http tv_test_support GTest::gtest_main
                        tv_warnings)
  add_test(NAME ${name} COMMAND ${name}_test)
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS "results")
endforeach()

if(TONVALE_BUILD_GUI)
  tv_add_gui_test(questionnaire_dialog_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_dialog_test.cpp
    LIBS tv_results_gui tv_loopback_http
    TIMEOUT 120)
  tv_add_gui_test(questionnaire_main_window_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_main_window_test.cpp
    LIBS tv_shell tv_loopback_http
    TIMEOUT 120)
  # The Help test opens the questionnaire's topic from the compiled help file beside the tests.
  if(TARGET tv_help)
    add_dependencies(questionnaire_dialog_test tv_help)
  endif()
endif()

if(TONVALE_BUILD_GUI)
  # Reads the dialog through the accessibility bus with a pyatspi script.
  tv_add_gui_test(questionnaire_a11y_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_a11y_test.cpp
    LIBS tv_results_gui
    TIMEOUT 150)
  # The distribution's Python, where python3-pyatspi installs (a Python of one's own may shadow it).
  target_compile_definitions(questionnaire_a11y_test PRIVATE
    TONVALE_A11Y_PYTHON="/usr/bin/python3"
    TONVALE_A11Y_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/questionnaire_a11y.py")
endif()
