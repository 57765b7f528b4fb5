# The log of every question and result, and the "My Results" page (tv_results); the main window's
# command for the page (tv_results_gui).
target_sources(tv_results PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CheckLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResultReport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReportPage.cpp)

if(TONVALE_BUILD_GUI)
  target_sources(tv_results_gui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/MyResults.cpp)
endif()
