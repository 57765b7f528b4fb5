#pragma once
// Whether a stretch of the engine's sound (one question of a check) reached the listener whole.
// The stretch runs over device frames from its first tone's onset to the end of its last tone's
// decay (or to a later point its owner names, such as the end of a question's last silent slot);
// a zero-filled frame or a reported underflow inside it means the listener may have heard a tone
// cut short, or none, and an answer would measure the fault instead of the ear.
//
// The engine's own (GUI thread); the frames are the device's count, which the engine's damage
// record uses too.
#include <cstdint>
#include <functional>

class CPlayedStretch {
public:
    // Answers whether a damaged frame fell in [from, end) (the engine's DamagedBetween).
    using DamageRecord = std::function<bool(std::uint32_t from, std::uint32_t end)>;

    // `leadFrames`: how far ahead of the device position the engine renders, so that a tone
    // whose gate changes at position p sounds from at most p + leadFrames on.
    explicit CPlayedStretch(int leadFrames = 0);

    // A new stretch begins: nothing in it yet.
    void Begin();
    // A tone's gate opens while the device is at `position`; the first one opens the stretch
    // (its onset follows within one lead, so the stretch starts no later than the onset).
    void ToneOn(std::uint32_t position);
    // The tone's gate closes at `position`; its decay lasts `decayFrames`.
    void ToneOff(std::uint32_t position, int decayFrames);
    // Stretches it to `position` (silent time after the last tone counts too).
    void ExtendTo(std::uint32_t position);

    bool HasTone() const { return m_hasTone; }
    // Where it ends: once the device has taken this frame, the stretch can be judged.
    std::uint32_t End() const { return m_end; }
    // Whether the device at `position` has taken the whole stretch.
    bool TakenBy(std::uint32_t position) const;
    // Judges the stretch with the device at `position`: frames at or past it were never played
    // (the engine stops), so only the part before it counts.
    bool Damaged(const DamageRecord& record, std::uint32_t position) const;

private:
    int m_leadFrames;
    bool m_hasTone = false;
    std::uint32_t m_from = 0;
    std::uint32_t m_end = 0;
};
