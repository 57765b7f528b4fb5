#include "help/HtmlHelp.h"

#include "help/CChmFile.h"
#include "help/CChmLibrary.h"
#include "help/CHelpViewer.h"
#include "help/ChmFileSystem.h"
#include "help/HelpLookup.h"
#include "ui/Language.h"

#include <wx/filesys.h>

namespace {

wxWeakRef<CHelpViewer> g_viewer;

// The loader: the reader is looked up on the first call only; after a failure every call returns
// at once without trying again.
const SChmApi* HelpReader()
{
    static bool handlerAdded = false;
    const SChmApi* api = HelpReaderLibrary().Api();
    if (api != nullptr && !handlerAdded) {
        wxFileSystem::AddHandler(new CChmFSHandler(*api));
        handlerAdded = true;
    }
    return api;
}

} // namespace

CHelpViewer* ExistingHelpViewer()
{
    return g_viewer && !g_viewer->IsBeingDeleted() ? g_viewer.get() : nullptr;
}

CHelpViewer* ShowHelpTopic(wxWindow* caller, const wxString& file, const wxString& topic,
                           const std::vector<std::filesystem::path>& searchDirs, const std::string& language)
{
    const SChmApi* api = HelpReader();
    if (api == nullptr)
        return nullptr;
    const std::filesystem::path chmPath = ResolveHelpFile(NativeFileName(file), searchDirs, language);
    if (chmPath.empty())
        return nullptr;
    {
        const CChmFile chm(*api, chmPath.string());
        if (!chm.Contains(std::string(topic.utf8_str())))
            return nullptr;
    }

    // The help window belongs to the caller's window. One of another window goes: a user can only
    // have closed it, since it is modal over its owner.
    wxTopLevelWindow* owner =
        caller != nullptr ? dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(caller)) : nullptr;
    CHelpViewer* previous = ExistingHelpViewer();
    const bool created = previous == nullptr || previous->Owner() != owner;
    CHelpViewer* viewer = created ? new CHelpViewer(owner) : previous;
    if (!viewer->ShowPage(ChmTopicLocation(chmPath, topic))) {
        if (created)
            viewer->Destroy();
        return nullptr;
    }
    if (created && previous != nullptr)
        previous->Destroy();
    g_viewer = viewer;
    viewer->Present();
    return viewer;
}

wxWindow* HtmlHelp(wxWindow* caller, const wxString& file, unsigned command, const wxString& topic)
{
    if (command != HH_DISPLAY_TOPIC)
        return nullptr;
    // The help in the listener's language, where it has been translated.
    return ShowHelpTopic(caller, file, topic, DefaultHelpSearchDirs(), CatalogLanguage());
}
