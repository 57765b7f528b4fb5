# The request to the questionnaire server (tv_results) and the questionnaire dialog (tv_results_gui).
find_package(CURL REQUIRED)
target_sources(tv_results PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SurveyExchange.cpp)
target_link_libraries(tv_results PRIVATE CURL::libcurl)

if(TONVALE_BUILD_GUI)
  target_sources(tv_results_gui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CQuestionnaireDlg.cpp)
endif()
