#pragma once
// The reader of compiled help files (chmlib), located on first use.
//
// The help viewer must never stop the program: where the library is missing, help simply shows
// nothing. The library is looked up once; a failure is remembered, so later calls return at once.
// GUI thread only.
#include <chm_lib.h>

#include <string>

struct SChmApi {
    decltype(&chm_open) open = nullptr;
    decltype(&chm_close) close = nullptr;
    decltype(&chm_resolve_object) resolve = nullptr;
    decltype(&chm_retrieve_object) retrieve = nullptr;
};

class CChmLibrary {
public:
    explicit CChmLibrary(std::string soname);
    ~CChmLibrary();
    CChmLibrary(const CChmLibrary&) = delete;
    CChmLibrary& operator=(const CChmLibrary&) = delete;

    // The entry points, or nullptr when the library or one of them cannot be found.
    const SChmApi* Api();

    // How often loading was tried (at most once).
    int LoadAttempts() const { return m_attempts; }

private:
    std::string m_soname;
    void* m_handle = nullptr;
    SChmApi m_api;
    bool m_failed = false;
    int m_attempts = 0;
};

// The process's one reader, kept loaded until the process ends.
CChmLibrary& HelpReaderLibrary();
