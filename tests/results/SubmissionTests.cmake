# The submission: the request body and headers as a loopback server receives them, the outcomes
# of every kind of answer, and the questionnaire dialog under Xvfb.
add_library(tv_loopback_http STATIC ${CMAKE_CURRENT_LIST_DIR}/LoopbackHttpServer.cpp)
target_link_libraries(tv_loopback_http PUBLIC Threads::Threads PRIVATE tv_warnings)

foreach(topic submission_body submission_exchange)
  tv_add_test(results_${topic}_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/${topic}_test.cpp
              LIBS tv_results tv_loopback_http LABELS results TIMEOUT 120)
endforeach()

if(TONVALE_BUILD_GUI)
  # Help opens the questionnaire's topic from the compiled help file beside the tests.
  tv_add_test(results_questionnaire_dialog_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_dialog_test.cpp
              LIBS tv_results_gui tv_loopback_http GUI SHARDS 3 TIMEOUT 120 DEPENDS tv_help)
  tv_add_test(results_questionnaire_main_window_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_main_window_test.cpp
              LIBS tv_shell tv_loopback_http GUI SHARDS 2 TIMEOUT 120)
  # Reads the dialog through the accessibility bus with a pyatspi script, in the distribution's
  # Python, where python3-pyatspi installs (a Python of one's own may shadow it).
  tv_add_test(results_questionnaire_a11y_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/questionnaire_a11y_test.cpp
              LIBS tv_results_gui GUI TIMEOUT 150
              DEFINITIONS TONVALE_A11Y_PYTHON="/usr/bin/python3"
                          TONVALE_A11Y_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/questionnaire_a11y.py")
endif()
