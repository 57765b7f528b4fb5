// The choice of device for streams that are not given one. GUI thread only.
#include "audio/WaveDevice.h"

#include <utility>

namespace {
WaveDeviceFactory& Factory()
{
    static WaveDeviceFactory factory;
    return factory;
}
} // namespace

WaveDeviceFactory SetWaveDeviceFactory(WaveDeviceFactory factory)
{
    return std::exchange(Factory(), std::move(factory));
}

std::shared_ptr<CWaveDevice> CreateWaveDevice()
{
    if (Factory())
        return Factory()();
    return CreatePortAudioDevice();
}
