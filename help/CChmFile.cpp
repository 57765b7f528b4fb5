#include "help/CChmFile.h"

namespace {

// A help topic is a few kilobytes; a larger length is a damaged file, not something to allocate.
constexpr LONGUINT64 MAX_OBJECT_BYTES = 16u * 1024u * 1024u;

} // namespace

CChmFile::CChmFile(const SChmApi& api, const std::string& path) : m_api(api)
{
    m_file = m_api.open(path.c_str());
}

CChmFile::~CChmFile()
{
    if (m_file != nullptr)
        m_api.close(m_file);
}

std::string CChmFile::ObjectPath(const std::string& objectName)
{
    std::string path = objectName.substr(0, objectName.find('#'));
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    return path;
}

bool CChmFile::Contains(const std::string& objectName) const
{
    chmUnitInfo info{};
    const std::string path = ObjectPath(objectName);
    return m_file != nullptr && path.size() > 1 &&
           m_api.resolve(m_file, path.c_str(), &info) == CHM_RESOLVE_SUCCESS;
}

std::optional<std::string> CChmFile::Read(const std::string& objectName) const
{
    chmUnitInfo info{};
    const std::string path = ObjectPath(objectName);
    if (m_file == nullptr || path.size() < 2 ||
        m_api.resolve(m_file, path.c_str(), &info) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (info.length > MAX_OBJECT_BYTES)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(info.length), '\0');
    if (info.length == 0)
        return bytes;
    const LONGINT64 got = m_api.retrieve(m_file, &info, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                         static_cast<LONGINT64>(info.length));
    if (got != static_cast<LONGINT64>(info.length))
        return std::nullopt;
    return bytes;
}
