// The PortAudio backend: the system's default output (through ALSA and the desktop's sound server)
// or a PortAudio device number.
//
// Thread map:
//   GUI thread          QueryFormat, the backend hooks (PortAudio is initialised per use, so that
//                       a later Start finds a sound server that was missing before)
//   PortAudio callback  Callback -> Consume: copies queued samples and counts frames. No lock, no
//                       allocation, no notice: posting an event can block.
#include "audio/CQueuedWaveDevice.h"
#include "audio/RealtimeScheduling.h"
#include "audio/SoundServerRate.h"

#include <portaudio.h>

#include <algorithm>
#include <memory>

namespace {

constexpr double MIN_LATENCY_S = 0.05;
// Frames per callback: one period. Left to itself, PortAudio takes the whole latency in one
// callback.
unsigned long FramesPerCallback(const WaveFormat& format)
{
    return std::max(1ul, static_cast<unsigned long>(format.nSamplesPerSec) * PERIOD_MS / 1000);
}

// How long the sound server may take to tell its rate, asked at every start.
constexpr int SERVER_RATE_TIMEOUT_MS = 500;

class CPortAudioDevice : public CQueuedWaveDevice {
public:
    ~CPortAudioDevice() override
    {
        if (IsOpen())
            CQueuedWaveDevice::Close();
    }

    int QueryFormat(int deviceId, const WaveFormat& format) override
    {
        PaStreamParameters parameters;
        int result = InitialiseFor(deviceId, format, parameters);
        if (result != MMSYSERR_NOERROR)
            return result;
        if (Pa_IsFormatSupported(nullptr, &parameters, format.nSamplesPerSec) != paFormatIsSupported)
            result = WAVERR_BADFORMAT;
        Pa_Terminate();
        return result;
    }

    // The system's default output is the desktop's sound server (through ALSA's pulse or pipewire
    // plugin, which accept any rate and convert it): ask the server. A device number is a device
    // of PortAudio's own, which knows its rate.
    std::uint32_t NativeRate(int deviceId) override
    {
        if (deviceId == WAVE_MAPPER)
            return SoundServerRate(SERVER_RATE_TIMEOUT_MS);
        if (Pa_Initialize() != paNoError)
            return 0;
        std::uint32_t rate = 0;
        if (deviceId >= 0 && deviceId < Pa_GetDeviceCount())
            if (const PaDeviceInfo* info = Pa_GetDeviceInfo(PaDeviceIndex(deviceId));
                info && info->defaultSampleRate > 0)
                rate = static_cast<std::uint32_t>(info->defaultSampleRate);
        Pa_Terminate();
        return rate;
    }

protected:
    int OpenBackend(int deviceId, const WaveFormat& format) override
    {
        PaStreamParameters parameters;
        int result = InitialiseFor(deviceId, format, parameters);
        if (result != MMSYSERR_NOERROR)
            return result;
        if (Pa_OpenStream(&m_stream, nullptr, &parameters, format.nSamplesPerSec, FramesPerCallback(format),
                          paNoFlag, &CPortAudioDevice::Callback, this) != paNoError) {
            m_stream = nullptr;
            result = MMSYSERR_ERROR;
        }
        if (result == MMSYSERR_NOERROR)
            NewCallbackThread();
        if (result == MMSYSERR_NOERROR && Pa_StartStream(m_stream) != paNoError) {
            Pa_CloseStream(m_stream);
            m_stream = nullptr;
            result = MMSYSERR_ERROR;
        }
        if (result != MMSYSERR_NOERROR) {
            Pa_Terminate();
            return result;
        }
        m_started = true;
        return MMSYSERR_NOERROR;
    }

    int CloseBackend() override
    {
        int result = MMSYSERR_NOERROR;
        if (m_started && Pa_AbortStream(m_stream) != paNoError)
            result = MMSYSERR_ERROR;
        m_started = false;
        if (Pa_CloseStream(m_stream) != paNoError)
            result = MMSYSERR_ERROR;
        m_stream = nullptr;
        Pa_Terminate();
        return result;
    }

    // Pa_AbortStream returns once the callback has finished for good, and Pa_StartStream starts
    // a new callback thread: neither overlaps with a running callback.
    void QuiesceConsumer() override
    {
        if (m_started)
            Pa_AbortStream(m_stream);
        m_started = false;
    }

    int ResumeConsumer() override
    {
        if (m_started)
            return MMSYSERR_NOERROR;
        NewCallbackThread();
        if (Pa_StartStream(m_stream) != paNoError)
            return MMSYSERR_ERROR;
        m_started = true;
        return MMSYSERR_NOERROR;
    }

    // The callback only copies, so it may run ahead of everything else on a busy machine: its
    // thread is made real-time where the system grants it. Queued here, on the notification
    // thread, once per stream start (the callback never takes a lock); the request itself is made
    // on a thread of its own, so that buffers are handed back meanwhile.
    void NotifierTick() override
    {
        const std::uint64_t thread = m_callbackThread.load(std::memory_order_acquire);
        if (thread == 0 || thread == m_realtimeAsked)
            return;
        m_realtimeAsked = thread;
        RequestThreadRealtime(static_cast<pid_t>(thread & 0xFFFFFFFFu), CALLBACK_RT_PRIORITY);
        // Through ALSA's pulse plugin the samples go on to the sound server from a thread of
        // the plugin's, which exists once the stream is open.
        RequestThreadsNamedRealtime(SOUND_CLIENT_THREAD, CALLBACK_RT_PRIORITY);
    }

private:
    // Before each stream start (GUI thread): PortAudio starts a new callback thread, which
    // publishes its id on its first call.
    void NewCallbackThread()
    {
        m_generation.fetch_add(1, std::memory_order_relaxed);
        m_threadPublished.store(false, std::memory_order_relaxed);
    }

    // Checks the format, initialises PortAudio and fills in `parameters`. On success PortAudio
    // stays initialised for the caller to terminate; on failure it is not left initialised.
    static int InitialiseFor(int deviceId, const WaveFormat& format, PaStreamParameters& parameters)
    {
        if (!SampleFormatOf(format, parameters.sampleFormat))
            return WAVERR_BADFORMAT;
        if (Pa_Initialize() != paNoError)
            return MMSYSERR_NODRIVER;
        const int result = DeviceParameters(deviceId, format, parameters);
        if (result != MMSYSERR_NOERROR)
            Pa_Terminate();
        return result;
    }

    static bool SampleFormatOf(const WaveFormat& format, PaSampleFormat& sampleFormat)
    {
        if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels < 1 || format.nSamplesPerSec == 0 ||
            format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
            return false;
        if (format.wBitsPerSample == 16)
            sampleFormat = paInt16;
        else if (format.wBitsPerSample == 8)
            sampleFormat = paUInt8;
        else
            return false;
        return true;
    }

    // Fills in the device, channels and latency (the sample format is set already). PortAudio
    // must be initialised.
    static int DeviceParameters(int deviceId, const WaveFormat& format, PaStreamParameters& parameters)
    {
        const PaDeviceIndex device =
            deviceId == WAVE_MAPPER ? Pa_GetDefaultOutputDevice() : PaDeviceIndex(deviceId);
        if (device == paNoDevice)
            return MMSYSERR_NODRIVER;
        if (device < 0 || device >= Pa_GetDeviceCount())
            return MMSYSERR_BADDEVICEID;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        if (!info || info->maxOutputChannels < format.nChannels)
            return MMSYSERR_BADDEVICEID;
        parameters.device = device;
        parameters.channelCount = format.nChannels;
        // Between the two limits of the latency: through the sound server, the default (about
        // 35 ms) ran dry whenever a busy machine held up the server's client for a moment, and
        // the server filled the hole with silence; but the device refills its whole buffer at
        // once when the server drains it, so a latency near the engine's lead (90 ms) lets the
        // callback take samples the engine has not rendered yet.
        parameters.suggestedLatency = std::max(info->defaultHighOutputLatency, MIN_LATENCY_S);
        parameters.hostApiSpecificStreamInfo = nullptr;
        return MMSYSERR_NOERROR;
    }

    static int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags status, void* self)
    {
        auto* device = static_cast<CPortAudioDevice*>(self);
        if (!device->m_threadPublished.load(std::memory_order_relaxed)) {
            // One store for the notification thread, which asks for real-time scheduling.
            device->m_threadPublished.store(true, std::memory_order_relaxed);
            device->m_callbackThread.store(
                static_cast<std::uint64_t>(device->m_generation.load(std::memory_order_relaxed)) << 32 |
                    static_cast<std::uint32_t>(CurrentThreadId()),
                std::memory_order_release);
        }
        // Where the host API reports an underflow, the hole it left counts as damage too.
        device->Consume(output, static_cast<std::uint32_t>(frames), (status & paOutputUnderflow) != 0);
        return paContinue;
    }

    PaStream* m_stream = nullptr;
    bool m_started = false; // GUI thread only
    // The callback's thread: generation (stream starts) in the high half, kernel id in the low.
    std::atomic<std::uint64_t> m_callbackThread{0};
    std::atomic<std::uint32_t> m_generation{0};
    std::atomic<bool> m_threadPublished{false};
    std::uint64_t m_realtimeAsked = 0; // notification thread only
};

} // namespace

std::shared_ptr<CWaveDevice> CreatePortAudioDevice()
{
    return std::make_shared<CPortAudioDevice>();
}
