#pragma once
// One compiled help file opened through the reader of ChmLibrary.h. GUI thread only.
#include "help/CChmLibrary.h"

#include <optional>
#include <string>

class CChmFile {
public:
    CChmFile(const SChmApi& api, const std::string& path);
    ~CChmFile();
    CChmFile(const CChmFile&) = delete;
    CChmFile& operator=(const CChmFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }

    // The bytes of a stored object ("index.htm" or "/index.htm"; an "#anchor" is ignored), or
    // nothing when it is not in the file or cannot be read whole.
    std::optional<std::string> Read(const std::string& objectName) const;
    bool Contains(const std::string& objectName) const;

    // The name as the file stores it: with a leading slash, without an anchor.
    static std::string ObjectPath(const std::string& objectName);

private:
    const SChmApi& m_api;
    chmFile* m_file = nullptr;
};
