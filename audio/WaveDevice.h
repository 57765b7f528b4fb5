#pragma once
// The sound device under the wave output stream: what the stream needs from it, the wave format and
// buffer header it works with, and how the program chooses a device.
//
// A device plays queued buffers strictly in queue order, can be asked about a format without being
// opened, can be paused before its first buffer and restarted, reports each finished buffer to its
// owner, counts the frames it has taken from its queue, can be reset (every queued buffer is marked
// done and dropped, the position returns to 0) and closed.
//
// Threads:
//   - GUI thread: every operation except the three below.
//   - Render thread: GetPosition, SamplesWritten, PostClip. They never lock, allocate or wait.
//   - Any thread: Damage, DamagedBetween (atomics only).
//   - The device's own notification thread: CWaveOutOwner::PostBufferDone and PostClip, between
//     Open and the return of Close; never after Close returns.
// Backends: PortAudio (CreatePortAudioDevice, the program's default) and CVirtualWaveDevice for
// tests (audio/CVirtualWaveDevice.h).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class CWaveOutOwner;

// The default output device.
inline constexpr int WAVE_MAPPER = -1;

// Results of device operations: 0 is success.
inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_ERROR = 1;
inline constexpr int MMSYSERR_BADDEVICEID = 2;
inline constexpr int MMSYSERR_ALLOCATED = 4;
inline constexpr int MMSYSERR_INVALHANDLE = 5;
inline constexpr int MMSYSERR_NODRIVER = 6;
inline constexpr int MMSYSERR_NOMEM = 7;
inline constexpr int MMSYSERR_INVALPARAM = 11;
inline constexpr int WAVERR_BADFORMAT = 32;
inline constexpr int WAVERR_STILLPLAYING = 33;
inline constexpr int WAVERR_UNPREPARED = 34;

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// The output format is 16-bit mono PCM. Its rate is this one unless the device runs at a higher
// one (see CWaveDevice::NativeRate): the engine then renders at the device's rate instead.
inline constexpr int SAMPLE_RATE = 44100;

// The period of the sound's timing: the device takes this much per callback, and the engine that
// feeds it renders once per period (the dialogs build their engines with it).
inline constexpr int PERIOD_MS = 10;

struct WaveFormat {
    std::uint16_t wFormatTag = WAVE_FORMAT_PCM;
    std::uint16_t nChannels = 1;
    std::uint32_t nSamplesPerSec = SAMPLE_RATE;
    std::uint32_t nAvgBytesPerSec = SAMPLE_RATE * 2;
    std::uint16_t nBlockAlign = 2;
    std::uint16_t wBitsPerSample = 16;
    std::uint16_t cbSize = 0;
};

// Header flags.
inline constexpr std::uint32_t WHDR_DONE = 0x01;     // the device has finished with the buffer
inline constexpr std::uint32_t WHDR_PREPARED = 0x02; // prepared for the device
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;  // queued on the device

// One buffer of the ring as the device sees it. The flags are atomic because the notification
// thread sets WHDR_DONE while the GUI thread may look at them.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0; // bytes
    std::uintptr_t dwUser = 0;
    std::atomic<std::uint32_t> dwFlags{0};
    std::uint32_t dwLoops = 0;
};

// What went wrong with the sound of one run (since Open), for the GUI thread to read.
struct SoundDamage {
    std::uint64_t unrenderedFrames = 0;   // played as zeros: not rendered for this pass
    std::uint64_t dryFrames = 0;          // played as zeros: nothing queued
    std::uint64_t underflowCallbacks = 0; // the host reported an output underflow
    // Render steps that found more due than one block, or the device past them (the engine's
    // count; diagnostic only: a late step that caught up damaged nothing).
    std::uint64_t lateSteps = 0;
};

class CWaveDevice {
public:
    virtual ~CWaveDevice();

    // Whether device `deviceId` (WAVE_MAPPER or a device number) plays `format`; nothing is opened.
    virtual int QueryFormat(int deviceId, const WaveFormat& format) = 0;
    // The rate at which the device, or the sound server behind it, runs: a stream at that rate
    // reaches it without conversion. 0 when it cannot tell. Nothing is opened; GUI thread.
    virtual std::uint32_t NativeRate(int deviceId);
    // Opens the device, playing (not paused) with an empty queue. `owner` receives the notices and
    // may be null. Fails with MMSYSERR_ALLOCATED when already open.
    virtual int Open(int deviceId, const WaveFormat& format, CWaveOutOwner* owner) = 0;
    // Stops the device and its notification thread; the device is closed afterwards even when the
    // backend reports a failure. Buffers still queued are dropped.
    virtual int Close() = 0;
    virtual int Prepare(WaveHeader* header) = 0;
    virtual int Unprepare(WaveHeader* header) = 0; // refuses a queued buffer (WAVERR_STILLPLAYING)
    virtual int Write(WaveHeader* header) = 0;     // queues a prepared buffer at the end of the queue
    virtual int Pause() = 0;
    virtual int Restart() = 0;
    // Marks every queued buffer done and drops it without a notice (its owner is stopping), and sets
    // the position to 0.
    virtual int Reset() = 0;

    // Frames taken from the queue since Open or Reset (the device reads them no earlier than this).
    virtual std::uint32_t GetPosition() = 0;
    // Publishes what the ring holds for this pass: frames [from, end) on the same counter as the
    // position, compared by wrap-safe difference (a release store that the device acquires before
    // it copies). Until the first call after Open or Reset every frame counts as written (the
    // ring's initial silence); afterwards frames outside the stretch play as zeros and count as
    // unrendered, since the ring holds a previous pass there.
    virtual void SamplesWritten(std::uint32_t from, std::uint32_t end) = 0;
    virtual SoundDamage Damage() const = 0;
    // Whether a zero-filled frame or a reported underflow of this run fell in frames [from, end).
    // Any thread.
    virtual bool DamagedBetween(std::uint32_t from, std::uint32_t end) const = 0;
    // Has the notification thread pass `clipped` to the owner's PostClip. Notices posted faster than
    // they are delivered merge into the latest.
    virtual void PostClip(int clipped) = 0;
};

// The PortAudio backend: the system's default output (WAVE_MAPPER) or a PortAudio device number.
std::shared_ptr<CWaveDevice> CreatePortAudioDevice();

// The device a stream gets when none is given: PortAudio, unless a test installed a factory.
// SetWaveDeviceFactory returns the previous factory; an empty one restores PortAudio. GUI thread.
using WaveDeviceFactory = std::function<std::shared_ptr<CWaveDevice>()>;
WaveDeviceFactory SetWaveDeviceFactory(WaveDeviceFactory factory);
std::shared_ptr<CWaveDevice> CreateWaveDevice();
