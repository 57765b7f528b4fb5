#include "app/HtmlHelp.h"

// Replaced by the help viewer.
wxWindow* HtmlHelp(wxWindow*, const wxString&, unsigned, const wxString&)
{
    return nullptr;
}
