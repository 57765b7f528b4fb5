#pragma once
// The main window's questionnaire commands.
class wxWindow;

// "Send Result": runs the questionnaire dialog modally.
void RunQuestionnaire();

// "Show Result": opens the results page when the results were sent, else shows the notice.
void ShowResultPage(wxWindow* owner);

// The quit-time offer: asks, when something is measured and nothing was sent, and runs the
// questionnaire if the user agrees. Quitting goes on whatever happens here.
void OfferQuestionnaireAtQuit();
