#include "help/CChmLibrary.h"

#include <dlfcn.h>

namespace {

template <class F> bool Resolve(void* handle, const char* name, F& entry)
{
    entry = reinterpret_cast<F>(dlsym(handle, name));
    return entry != nullptr;
}

} // namespace

CChmLibrary::CChmLibrary(std::string soname) : m_soname(std::move(soname))
{
}

CChmLibrary::~CChmLibrary()
{
    if (m_handle != nullptr)
        dlclose(m_handle);
}

const SChmApi* CChmLibrary::Api()
{
    if (m_api.open != nullptr)
        return &m_api;
    if (m_failed)
        return nullptr;

    ++m_attempts;
    m_handle = dlopen(m_soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    SChmApi api;
    if (m_handle != nullptr && Resolve(m_handle, "chm_open", api.open) &&
        Resolve(m_handle, "chm_close", api.close) && Resolve(m_handle, "chm_resolve_object", api.resolve) &&
        Resolve(m_handle, "chm_retrieve_object", api.retrieve)) {
        m_api = api;
        return &m_api;
    }
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
    m_failed = true;
    return nullptr;
}

CChmLibrary& HelpReaderLibrary()
{
    // Debian's libchm1; the development symlink (libchm.so) is not there on a user's machine. Never
    // unloaded: it lives as long as the process, and nothing may call into it after an unload.
    static CChmLibrary* library = new CChmLibrary("libchm.so.1");
    return *library;
}
