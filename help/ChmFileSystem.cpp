#include "help/ChmFileSystem.h"

#include "help/CChmFile.h"

#include <wx/filename.h>
#include <wx/mstream.h>

namespace {

const wxString PROTOCOL = "tvchm";

} // namespace

bool CChmFSHandler::CanOpen(const wxString& location)
{
    return GetProtocol(location) == PROTOCOL;
}

wxFSFile* CChmFSHandler::OpenFile(wxFileSystem&, const wxString& location)
{
    const wxFileName chmName = wxFileSystem::URLToFileName(GetLeftLocation(location));
    const wxString right = GetRightLocation(location);
    CChmFile chm(m_api, NativeFileName(chmName.GetFullPath()));
    const std::optional<std::string> bytes = chm.Read(std::string(right.utf8_str()));
    if (!bytes)
        return nullptr;

    // The system's MIME table maps ".htm" to a type that wxHtmlWindow shows as plain text.
    const wxString ext = wxFileName(right).GetExt().Lower();
    const wxString mime = (ext == "htm" || ext == "html") ? wxString("text/html") : GetMimeTypeFromExt(right);

    wxMemoryOutputStream out;
    out.Write(bytes->data(), bytes->size());
    return new wxFSFile(new wxMemoryInputStream(out), location, mime, GetAnchor(location), wxDateTime());
}

wxString ChmTopicLocation(const std::filesystem::path& chmFile, const wxString& topic)
{
    wxString path = topic;
    if (!path.StartsWith("/"))
        path.Prepend("/");
    return wxFileSystem::FileNameToURL(wxFileName(wxString(chmFile.c_str(), *wxConvFileName))) + "#" +
           PROTOCOL + ":" + path;
}

std::string NativeFileName(const wxString& name)
{
    const wxScopedCharBuffer bytes = name.fn_str();
    return bytes.data() != nullptr ? std::string(bytes.data(), bytes.length()) : std::string();
}
