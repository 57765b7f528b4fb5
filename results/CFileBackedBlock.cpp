#include "results/CFileBackedBlock.h"

#include "results/CGeneralFile.h"

#include <cstring>

CFileBackedBlock::CFileBackedBlock(const std::string& path, void* block, int length, const void* defaults)
    : m_path(path), m_block(block), m_length(length > 0 ? length : 0)
{
    if (CGeneralFile::Exists(m_path)) {
        // A short file fills only the leading bytes; the rest keep what they held. The count
        // read is not kept: the whole block goes back at the end, so that nothing measured in
        // this run is dropped and a failed load never leads to an emptied file.
        int count = m_length;
        CGeneralFile::Load(m_path, m_block, count);
    } else if (m_length > 0 && defaults != m_block) {
        std::memcpy(m_block, defaults, static_cast<std::size_t>(m_length));
    }
}

CFileBackedBlock::~CFileBackedBlock()
{
    if (!m_abandoned)
        CGeneralFile::Save(m_path, m_block, m_length);
}

void CFileBackedBlock::Abandon()
{
    m_abandoned = true;
}

std::string ResultFilePath(const std::string& directory)
{
    if (directory.empty())
        return "result.dat";
    return directory + (directory.back() == '/' ? "" : "/") + "result.dat";
}
