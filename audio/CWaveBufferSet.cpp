// GUI thread: construction, Clear and destruction. The render thread writes sample contents through
// CWaveOutStream::Write; the device reads them.
#include "audio/CWaveBufferSet.h"

#include "ui/Language.h"
#include "ui/Message.h"

#include <cstring>
#include <new>

// The ring's private heap: every block it hands out is zeroed, and destroying it releases them all.
// Its bookkeeping is sized when it is made, so it never allocates for itself afterwards.
class CRingHeap {
public:
    static CRingHeap* Create(int maxBlocks)
    {
        CRingHeap* heap = new (std::nothrow) CRingHeap;
        if (!heap)
            return nullptr;
        heap->m_blocks = new (std::nothrow) void*[maxBlocks > 0 ? maxBlocks : 1];
        if (!heap->m_blocks) {
            delete heap;
            return nullptr;
        }
        heap->m_capacity = maxBlocks;
        return heap;
    }

    ~CRingHeap()
    {
        for (int i = 0; i < m_count; ++i)
            ::operator delete(m_blocks[i]);
        delete[] m_blocks;
    }

    void* Alloc(std::size_t bytes)
    {
        if (m_count >= m_capacity)
            return nullptr;
        void* block = ::operator new(bytes, std::nothrow);
        if (!block)
            return nullptr;
        std::memset(block, 0, bytes);
        m_blocks[m_count++] = block;
        return block;
    }

private:
    CRingHeap() = default;
    void** m_blocks = nullptr;
    int m_capacity = 0;
    int m_count = 0;
};

CWaveBufferSet::CWaveBufferSet(int bufferBytes, int bufferCount)
    : m_bufferBytes(bufferBytes), m_bufferCount(bufferCount > 0 ? bufferCount : 0)
{
    // Ordinary allocations: their failure reaches the engine, which reports it; nothing may leak
    // on the way.
    m_headers = new WaveHeader*[m_bufferCount]();
    try {
        m_data = new char*[m_bufferCount]();
    } catch (...) {
        delete[] m_headers;
        throw;
    }
    m_ready = Allocate();
}

CWaveBufferSet::~CWaveBufferSet()
{
    if (m_hHeap) {
        for (int i = 0; i < m_bufferCount; ++i) {
            if (m_headers[i])
                m_headers[i]->~WaveHeader();
        }
        delete m_hHeap;
    }
    delete[] m_headers;
    delete[] m_data;
}

int CWaveBufferSet::Allocate()
{
    m_hHeap = CRingHeap::Create(2 * m_bufferCount);
    if (!m_hHeap)
        return 0;
    // A ring needs at least one buffer with room for a sample.
    bool failed = m_bufferCount <= 0 || m_bufferBytes <= 0;
    for (int i = 0; i < m_bufferCount; ++i) {
        void* header = m_hHeap->Alloc(sizeof(WaveHeader));
        m_headers[i] = header ? new (header) WaveHeader : nullptr;
        m_data[i] = m_bufferBytes > 0
                        ? static_cast<char*>(m_hHeap->Alloc(static_cast<std::size_t>(m_bufferBytes)))
                        : nullptr;
        if (!m_headers[i] || !m_data[i])
            failed = true;
    }
    if (failed) {
        ShowMessage(Translate("バッファの確保に失敗しました。"));
        return 0;
    }
    return 1;
}

void CWaveBufferSet::Clear()
{
    if (!m_ready)
        return;
    for (int i = 0; i < m_bufferCount; ++i)
        std::memset(m_data[i], 0, static_cast<std::size_t>(m_bufferBytes));
}
