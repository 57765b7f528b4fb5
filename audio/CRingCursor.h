#pragma once
// A position in the ring of wave buffers: an absolute sample position turned into a buffer index and
// a sample offset, and the distance forward to another position. Used by the render thread only.
#include "audio/WaveDevice.h"

class CRingCursor {
public:
    // The ring has `bufferCount` buffers of `bufferBytes` bytes; `format` (not owned, must outlive the
    // cursor) gives the bytes per sample frame.
    CRingCursor(int bufferBytes, int bufferCount, const WaveFormat& format);
    virtual ~CRingCursor();

    void SetPosition(unsigned position);
    // Takes over the other cursor's position (not its ring geometry).
    void Assign(const CRingCursor& other);
    // Samples from this position forward to `other`, at most one ring; negative when `other` lies
    // behind within the same buffer.
    int DistanceTo(const CRingCursor& other) const;

    // Samples per buffer (0 for a ring without room for a frame).
    int SamplesPerBuffer() const;

    int m_bufferBytes;
    int m_bufferCount;
    const WaveFormat* m_format;
    unsigned m_bufferIndex = 0;
    unsigned m_sampleOffset = 0;
    unsigned m_samplePosition = 0;
};
