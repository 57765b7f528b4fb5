#include "diagnoses/CQuestionDamage.h"

const char* const QUESTION_DAMAGED_TEXT =
    "音が途切れたため、この質問は判定しません。もう一度やり直してください。";

namespace {
// Whether frame a lies after frame b on the device's wrapping count.
bool After(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) > 0;
}
} // namespace

CQuestionDamage::CQuestionDamage(int leadFrames) : m_leadFrames(leadFrames > 0 ? leadFrames : 0)
{
}

void CQuestionDamage::Begin()
{
    m_hasWindow = false;
    m_from = 0;
    m_end = 0;
}

void CQuestionDamage::ToneOn(std::uint32_t position)
{
    if (!m_hasWindow) {
        m_hasWindow = true;
        m_from = position;
        m_end = position;
    }
    // An open gate sounds at least until one lead past it.
    ExtendTo(position + static_cast<std::uint32_t>(m_leadFrames));
}

void CQuestionDamage::ToneOff(std::uint32_t position, int decayFrames)
{
    if (!m_hasWindow)
        return;
    ExtendTo(position + static_cast<std::uint32_t>(m_leadFrames) +
             static_cast<std::uint32_t>(decayFrames > 0 ? decayFrames : 0));
}

void CQuestionDamage::ExtendTo(std::uint32_t position)
{
    if (m_hasWindow && After(position, m_end))
        m_end = position;
}

bool CQuestionDamage::Damaged(const DamageRecord& record, std::uint32_t position) const
{
    if (!m_hasWindow || !record)
        return false;
    const std::uint32_t end = After(m_end, position) ? position : m_end;
    return After(end, m_from) && record(m_from, end);
}
