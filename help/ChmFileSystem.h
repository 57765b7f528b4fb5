#pragma once
// Lets a wxHtmlWindow read topics straight from a compiled help file, so that relative links
// between topics resolve inside the same file. A topic's location is the file's URL, then
// "#tvchm:" and the topic's path: "file:///usr/share/tonvale/Tonvale.chm#tvchm:/range.htm".
#include "help/CChmLibrary.h"

#include <wx/filesys.h>

#include <filesystem>
#include <string>

class CChmFSHandler : public wxFileSystemHandler {
public:
    explicit CChmFSHandler(const SChmApi& api) : m_api(api) {}

    bool CanOpen(const wxString& location) override;
    wxFSFile* OpenFile(wxFileSystem& fs, const wxString& location) override;

private:
    const SChmApi& m_api;
};

// The location of `topic` ("index.htm") inside the compiled help file `chmFile` (an absolute path).
wxString ChmTopicLocation(const std::filesystem::path& chmFile, const wxString& topic);

// A file name as the operating system takes it (empty when it cannot be converted).
std::string NativeFileName(const wxString& name);
