// Render thread only (the engine's cursors); no allocation, no lock.
#include "audio/CRingCursor.h"

CRingCursor::CRingCursor(int bufferBytes, int bufferCount, const WaveFormat& format)
    : m_bufferBytes(bufferBytes), m_bufferCount(bufferCount), m_format(&format)
{
}

CRingCursor::~CRingCursor() = default;

int CRingCursor::SamplesPerBuffer() const
{
    if (m_format->nBlockAlign == 0 || m_bufferBytes <= 0)
        return 0;
    return m_bufferBytes / m_format->nBlockAlign;
}

void CRingCursor::SetPosition(unsigned position)
{
    m_samplePosition = position;
    const int samplesPerBuffer = SamplesPerBuffer();
    // A ring without room for a frame keeps every position at its start.
    if (samplesPerBuffer <= 0 || m_bufferCount <= 0) {
        m_bufferIndex = 0;
        m_sampleOffset = 0;
        return;
    }
    const unsigned s = static_cast<unsigned>(samplesPerBuffer);
    m_bufferIndex = (position / s) % static_cast<unsigned>(m_bufferCount);
    m_sampleOffset = position % s;
}

void CRingCursor::Assign(const CRingCursor& other)
{
    if (&other == this)
        return;
    m_bufferIndex = other.m_bufferIndex;
    m_sampleOffset = other.m_sampleOffset;
    m_samplePosition = other.m_samplePosition;
}

int CRingCursor::DistanceTo(const CRingCursor& other) const
{
    const int s = SamplesPerBuffer();
    const int offset = static_cast<int>(m_sampleOffset);
    const int otherOffset = static_cast<int>(other.m_sampleOffset);
    if (m_bufferIndex == other.m_bufferIndex)
        return otherOffset - offset;
    for (int k = 1; k < m_bufferCount; ++k) {
        if ((m_bufferIndex + static_cast<unsigned>(k)) % static_cast<unsigned>(m_bufferCount) ==
            other.m_bufferIndex)
            return k * s + otherOffset - offset;
    }
    return 0;
}
