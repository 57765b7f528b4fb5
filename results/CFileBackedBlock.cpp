#include "results/CFileBackedBlock.h"

#include "results/CGeneralFile.h"

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

CFileBackedBlock::CFileBackedBlock(int directory, const std::string& name, void* block, int length,
                                   const void* defaults)
    : m_directory(directory == AT_FDCWD ? AT_FDCWD : ::fcntl(directory, F_DUPFD_CLOEXEC, 0)), m_name(name),
      m_block(block), m_length(length > 0 ? length : 0)
{
    if (CGeneralFile::Exists(m_directory, m_name)) {
        // One byte more than the block tells a longer file from a full one. A short file fills
        // only the leading bytes; the rest keep what they held. The count read is not kept: the
        // whole block goes back at the end, so that nothing measured in this run is dropped and a
        // failed load never leads to an emptied file.
        std::vector<unsigned char> data(static_cast<std::size_t>(m_length) + 1);
        int count = m_length + 1;
        CGeneralFile::Load(m_directory, m_name, data.data(), count);
        m_foreign = count > m_length;
        if (!m_foreign) {
            if (count > 0)
                std::memcpy(m_block, data.data(), static_cast<std::size_t>(count));
            return;
        }
    }
    if (m_length > 0 && defaults != m_block)
        std::memcpy(m_block, defaults, static_cast<std::size_t>(m_length));
}

CFileBackedBlock::CFileBackedBlock(const std::string& path, void* block, int length, const void* defaults)
    : CFileBackedBlock(AT_FDCWD, path, block, length, defaults)
{
}

CFileBackedBlock::~CFileBackedBlock()
{
    if (!m_abandoned && !m_foreign)
        CGeneralFile::Save(m_directory, m_name, m_block, m_length);
    if (m_directory >= 0)
        ::close(m_directory);
}

void CFileBackedBlock::Abandon()
{
    m_abandoned = true;
}
