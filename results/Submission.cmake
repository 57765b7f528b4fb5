# The request to the questionnaire server (tv_results) and the questionnaire dialog (tv_results_gui).
