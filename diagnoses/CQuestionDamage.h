#pragma once
// Whether the sound of one question reached the listener whole. A question's window of device
// frames runs from its first tone's onset to the end of its last tone's decay (or to a later
// point its dialog names, such as the end of the range check's last slot); a zero-filled frame
// or a reported underflow inside it means the listener may have heard a tone cut short, or none,
// and the answer would measure the fault instead of the ear. The dialog then shows
// QUESTION_DAMAGED_TEXT and asks the question again.
//
// GUI thread only; the frames come from the engine's device position, whose count the engine's
// damage record uses too.
#include <cstdint>
#include <functional>

extern const char* const QUESTION_DAMAGED_TEXT;

class CQuestionDamage {
public:
    // Answers whether a damaged frame fell in [from, end) (the engine's DamagedBetween).
    using DamageRecord = std::function<bool(std::uint32_t from, std::uint32_t end)>;

    // `leadFrames`: how far ahead of the device position the engine renders, so that a tone
    // whose gate changes at position p sounds from at most p + leadFrames on.
    explicit CQuestionDamage(int leadFrames);

    // A new question (or tone) begins: no window yet.
    void Begin();
    // A tone's gate opens while the device is at `position`; the first one opens the window
    // (its onset follows within one lead, so the window starts no later than the onset).
    void ToneOn(std::uint32_t position);
    // The tone's gate closes at `position`; its decay lasts `decayFrames`.
    void ToneOff(std::uint32_t position, int decayFrames);
    // Stretches the window to `position` (a question whose silent slots count too).
    void ExtendTo(std::uint32_t position);

    bool HasWindow() const { return m_hasWindow; }
    // Where the window ends: once the device has taken this frame, the question can be judged.
    std::uint32_t End() const { return m_end; }
    // Judges the question with the device at `position`: frames at or past it were never
    // played (the engine stops), so only the window's part before it counts.
    bool Damaged(const DamageRecord& record, std::uint32_t position) const;

private:
    int m_leadFrames;
    bool m_hasWindow = false;
    std::uint32_t m_from = 0;
    std::uint32_t m_end = 0;
};
