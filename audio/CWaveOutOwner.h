#pragma once
// What a sound engine tells its owner (a test dialog, or a test): each finished buffer of its ring,
// and whether its blocks had to be clipped. The engine and its tests need no window for this.
struct WaveHeader;

class CWaveOutOwner {
public:
    virtual ~CWaveOutOwner() = default;

    // Both are called on the engine's notification thread: never on the GUI thread and never inside
    // the device's callback. Implementations hand the value to their own thread (a dialog queues a
    // wxWidgets event) and return at once; they must not call back into the engine.

    // A queued buffer has played. The owner's thread must pass `header` to the engine's
    // OnBufferDone, which queues it again.
    virtual void PostBufferDone(WaveHeader* header) = 0;

    // Whether the last rendered block had to be clipped (1) or not (0). Several steps' notices may
    // arrive as one; no owner acts on them.
    virtual void PostClip(int clipped) = 0;
};
