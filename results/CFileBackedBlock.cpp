#include "results/CFileBackedBlock.h"

#include "results/CGeneralFile.h"

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

CFileBackedBlock::ELoad CFileBackedBlock::Load(int directory, const std::string& name, void* block,
                                               int length, const void* defaults)
{
    length = length > 0 ? length : 0;
    const auto useDefaults = [&] {
        if (length > 0 && defaults != block)
            std::memcpy(block, defaults, static_cast<std::size_t>(length));
    };
    if (!CGeneralFile::Exists(directory, name)) {
        useDefaults();
        return ELoad::Missing;
    }
    // One byte more than the block tells a longer file from a full one. A short file fills only
    // the leading bytes; the rest keep what they held.
    std::vector<unsigned char> data(static_cast<std::size_t>(length) + 1);
    int count = length + 1;
    if (!CGeneralFile::Load(directory, name, data.data(), count))
        return ELoad::Failed;
    if (count > length) {
        useDefaults();
        return ELoad::Foreign;
    }
    if (count > 0)
        std::memcpy(block, data.data(), static_cast<std::size_t>(count));
    return ELoad::Loaded;
}

CFileBackedBlock::CFileBackedBlock(int directory, const std::string& name, void* block, int length,
                                   const void* defaults)
    : m_directory(directory == AT_FDCWD ? AT_FDCWD : ::fcntl(directory, F_DUPFD_CLOEXEC, 0)), m_name(name),
      m_block(block), m_length(length > 0 ? length : 0)
{
    // The count read is not kept: the whole block goes back at the end, so that nothing measured
    // in this run is dropped and a failed load never leads to an emptied file.
    m_foreign = Load(m_directory, m_name, m_block, m_length, defaults) == ELoad::Foreign;
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
