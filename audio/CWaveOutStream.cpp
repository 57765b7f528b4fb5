// Threads: GUI thread for everything but GetPosition, Write and PostClip, which the render thread
// calls without locking. The render thread writes sample contents only, the GUI thread touches
// headers only, and the device reads the buffers it has taken from its queue.
#include "audio/CWaveOutStream.h"

#include "ui/Language.h"
#include "ui/Message.h"

#include <cstring>
#include <new>
#include <utility>

CWaveOutStream::CWaveOutStream(int deviceId, const WaveFormat& format, int bufferBytes, int bufferCount)
    : CWaveOutStream(deviceId, format, bufferBytes, bufferCount, CreateWaveDevice())
{
}

CWaveOutStream::CWaveOutStream(int deviceId, const WaveFormat& format, int bufferBytes, int bufferCount,
                               std::shared_ptr<CWaveDevice> device)
    : m_deviceId(deviceId), m_pFormat(&format), m_pDevice(std::move(device))
{
    m_pBuffers = new CWaveBufferSet(bufferBytes, bufferCount);
}

CWaveOutStream::~CWaveOutStream()
{
    // The owner closes the device first. If it did not, the device would keep pointers into the
    // ring freed here: stop and close it now, quietly, since nobody is left to tell.
    if (IsOpen()) {
        m_pDevice->Reset();
        m_pDevice->Close();
    }
    delete m_pBuffers;
}

int CWaveOutStream::SamplesPerBuffer() const
{
    if (m_pFormat->nBlockAlign == 0 || m_pBuffers->m_bufferBytes <= 0)
        return 0;
    return m_pBuffers->m_bufferBytes / m_pFormat->nBlockAlign;
}

int CWaveOutStream::QueryFormat()
{
    if (m_pDevice && m_pDevice->QueryFormat(m_deviceId, *m_pFormat) == MMSYSERR_NOERROR)
        return 1;
    ShowMessage(Translate("サポートされていないフォーマットです。"));
    return 0;
}

std::uint32_t CWaveOutStream::NativeRate()
{
    return m_pDevice ? m_pDevice->NativeRate(m_deviceId) : 0;
}

int CWaveOutStream::ResizeBuffers(int bufferBytes)
{
    if (IsOpen())
        return 0;
    if (m_pBuffers->IsReady() && m_pBuffers->m_bufferBytes == bufferBytes)
        return 1;
    CWaveBufferSet* buffers = nullptr;
    try {
        buffers = new CWaveBufferSet(bufferBytes, m_pBuffers->m_bufferCount);
    } catch (const std::bad_alloc&) {
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
        return 0;
    }
    // The set has told its own failure.
    if (!buffers->IsReady()) {
        delete buffers;
        return 0;
    }
    delete m_pBuffers;
    m_pBuffers = buffers;
    return 1;
}

int CWaveOutStream::Open(CWaveOutOwner* owner)
{
    if (IsOpen()) {
        ShowMessage(Translate("再生デバイスはオープン済みです。"));
        return 0;
    }
    if (!m_pDevice || m_pDevice->Open(m_deviceId, *m_pFormat, owner) != MMSYSERR_NOERROR) {
        ShowMessage(Translate("再生デバイスのオープンに失敗しました。"));
        return 0;
    }
    m_open.store(true, std::memory_order_release);
    return 1;
}

int CWaveOutStream::Close()
{
    if (!IsOpen())
        return 1;
    const int result = m_pDevice->Close();
    m_open.store(false, std::memory_order_release);
    if (result != MMSYSERR_NOERROR) {
        ShowMessage(Translate("再生デバイスのクローズに失敗しました。"));
        return 0;
    }
    return 1;
}

int CWaveOutStream::Prime()
{
    if (!m_pBuffers->IsReady() || !IsOpen())
        return 0;
    m_pBuffers->Clear();
    m_pDevice->Pause();
    for (int i = 0; i < m_pBuffers->m_bufferCount; ++i) {
        WaveHeader* header = m_pBuffers->m_headers[i];
        header->lpData = m_pBuffers->m_data[i];
        header->dwBufferLength = static_cast<std::uint32_t>(m_pBuffers->m_bufferBytes);
        header->dwUser = 0;
        header->dwFlags.store(0, std::memory_order_relaxed);
        header->dwLoops = 0;
        if (m_pDevice->Prepare(header) != MMSYSERR_NOERROR) {
            ShowMessage(Translate("バッファが再生用に準備できませんでした。"));
            return 0;
        }
        if (m_pDevice->Write(header) != MMSYSERR_NOERROR) {
            ShowMessage(Translate("バッファを再生キューに登録できませんでした。"));
            return 0;
        }
    }
    return 1;
}

void CWaveOutStream::Restart()
{
    if (IsOpen())
        m_pDevice->Restart();
}

void CWaveOutStream::Reset()
{
    if (!m_pBuffers->IsReady() || !IsOpen())
        return;
    m_pDevice->Reset();
    for (int i = 0; i < m_pBuffers->m_bufferCount; ++i) {
        WaveHeader* header = m_pBuffers->m_headers[i];
        const std::uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
        if ((flags & WHDR_PREPARED) && (flags & WHDR_DONE))
            m_pDevice->Unprepare(header);
    }
}

int CWaveOutStream::Requeue(WaveHeader* header)
{
    if (!header || !m_pDevice)
        return 0;
    const std::uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED) || !(flags & WHDR_DONE))
        return 0;
    if (m_pDevice->Unprepare(header) != MMSYSERR_NOERROR)
        ShowMessage(Translate("再生用バッファの開放に失敗しました。"));
    header->dwFlags.store(0, std::memory_order_relaxed);
    if (m_pDevice->Prepare(header) != MMSYSERR_NOERROR)
        ShowMessage(Translate("バッファを再生用に準備できませんでした。"));
    if (m_pDevice->Write(header) != MMSYSERR_NOERROR) {
        ShowMessage(Translate("バッファを再生キューに登録できませんでした。"));
        return 0;
    }
    return 1;
}

unsigned CWaveOutStream::GetPosition()
{
    if (!IsOpen())
        return 0;
    return m_pDevice->GetPosition();
}

void CWaveOutStream::Write(unsigned index, unsigned offset, const void* samples, int count)
{
    const int samplesPerBuffer = SamplesPerBuffer();
    const int bufferCount = m_pBuffers->m_bufferCount;
    if (!m_pBuffers->IsReady() || samplesPerBuffer <= 0 || count < 1)
        return;
    const unsigned s = static_cast<unsigned>(samplesPerBuffer);
    const unsigned n = static_cast<unsigned>(bufferCount);
    const int capacity = samplesPerBuffer * bufferCount;
    if (index >= n)
        index = n - 1;
    if (offset >= s)
        offset = s - 1;
    if (count > capacity)
        count = capacity;

    const std::size_t frameBytes = m_pFormat->nBlockAlign;
    const char* source = static_cast<const char*>(samples);
    const unsigned frames = static_cast<unsigned>(count);
    const unsigned room = s - offset;
    if (frames <= room) {
        std::memcpy(m_pBuffers->m_data[index] + offset * frameBytes, source, frames * frameBytes);
    } else {
        std::memcpy(m_pBuffers->m_data[index] + offset * frameBytes, source, room * frameBytes);
        source += room * frameBytes;
        unsigned rest = frames - room;
        unsigned g = (index + 1) % n;
        while (rest >= s) {
            std::memcpy(m_pBuffers->m_data[g], source, s * frameBytes);
            source += s * frameBytes;
            rest -= s;
            g = (g + 1) % n;
        }
        if (rest > 0)
            std::memcpy(m_pBuffers->m_data[g], source, rest * frameBytes);
    }
}

void CWaveOutStream::Publish(unsigned from, unsigned end)
{
    if (m_pDevice)
        m_pDevice->SamplesWritten(from, end);
}

SoundDamage CWaveOutStream::Damage() const
{
    return m_pDevice ? m_pDevice->Damage() : SoundDamage{};
}

bool CWaveOutStream::DamagedBetween(unsigned from, unsigned end) const
{
    return m_pDevice && m_pDevice->DamagedBetween(from, end);
}

void CWaveOutStream::PostClip(int clipped)
{
    if (m_pDevice && IsOpen())
        m_pDevice->PostClip(clipped);
}
