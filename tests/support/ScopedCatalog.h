#pragma once
// A test's catalog: installed for a scope, and none again when it ends, however the test leaves it.
#include "ui/Catalog.h"

#include <string>

struct SCatalog {
    explicit SCatalog(const char* lcMessages) : language(InstallCatalog(lcMessages)) {}
    ~SCatalog() { InstallCatalog("C"); }
    SCatalog(const SCatalog&) = delete;
    SCatalog& operator=(const SCatalog&) = delete;
    // The catalog's language, "" when none was installed.
    std::string language;
};
