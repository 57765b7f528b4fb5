#include "synth/CPlayedStretch.h"

namespace {
// Whether frame a lies after frame b on the device's wrapping count.
bool After(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) > 0;
}
} // namespace

CPlayedStretch::CPlayedStretch(int leadFrames) : m_leadFrames(leadFrames > 0 ? leadFrames : 0)
{
}

void CPlayedStretch::Begin()
{
    m_hasTone = false;
    m_from = 0;
    m_end = 0;
}

void CPlayedStretch::ToneOn(std::uint32_t position)
{
    if (!m_hasTone) {
        m_hasTone = true;
        m_from = position;
        m_end = position;
    }
    // An open gate sounds at least until one lead past it.
    ExtendTo(position + static_cast<std::uint32_t>(m_leadFrames));
}

void CPlayedStretch::ToneOff(std::uint32_t position, int decayFrames)
{
    if (!m_hasTone)
        return;
    ExtendTo(position + static_cast<std::uint32_t>(m_leadFrames) +
             static_cast<std::uint32_t>(decayFrames > 0 ? decayFrames : 0));
}

void CPlayedStretch::ExtendTo(std::uint32_t position)
{
    if (m_hasTone && After(position, m_end))
        m_end = position;
}

bool CPlayedStretch::TakenBy(std::uint32_t position) const
{
    return !After(m_end, position);
}

bool CPlayedStretch::Damaged(const DamageRecord& record, std::uint32_t position) const
{
    if (!m_hasTone || !record)
        return false;
    const std::uint32_t end = After(m_end, position) ? position : m_end;
    return After(end, m_from) && record(m_from, end);
}
