#include "results/QuestionnaireCommands.h"

// The questionnaire arrives with the submission; until then these do nothing.
void RunQuestionnaire() {}
void ShowResultPage(wxWindow*) {}
void OfferQuestionnaireAtQuit() {}
