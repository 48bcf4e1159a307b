#include "voice/AudioDevices.h"

#include "voice/PortAudioSupport.h"

#include <algorithm>
#include <stdexcept>

namespace velk::voice {

namespace {

VoiceDevice toDevice(int index, const PaDeviceInfo& info) {
    return {index,
            QByteArray(info.name ? info.name : ""),
            info.hostApi,
            info.maxInputChannels,
            info.maxOutputChannels,
            info.defaultSampleRate};
}

} // namespace

QList<VoiceDevice> enumerateDevices(const DeviceFilter& filter) {
    PortAudioScope pa;
    QList<VoiceDevice> devices;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && (!filter || filter(info))) {
            devices.append(toDevice(i, *info));
        }
    }
    return devices;
}

QList<VoiceDevice> getVoiceInputDevices() {
    return enumerateDevices([](const PaDeviceInfo* d) { return d->maxInputChannels > 0; });
}

QList<VoiceDevice> getVoiceInputDevices(int hostApi) {
    return enumerateDevices(
        [hostApi](const PaDeviceInfo* d) { return d->maxInputChannels >= 1 && d->hostApi == hostApi; });
}

QList<VoiceDevice> getVoiceOutputDevices() {
    return enumerateDevices([](const PaDeviceInfo* d) { return d->maxOutputChannels > 0; });
}

QList<VoiceDevice> getVoiceOutputDevices(int hostApi) {
    return enumerateDevices(
        [hostApi](const PaDeviceInfo* d) { return d->maxOutputChannels >= 1 && d->hostApi == hostApi; });
}

QList<VoiceHostApi> getHostApiNames() {
    PortAudioScope pa;
    QList<VoiceHostApi> apis;
    const int count = Pa_GetHostApiCount();
    for (int i = 0; i < count; ++i) {
        const PaHostApiInfo* info = Pa_GetHostApiInfo(i);
        if (info) {
            apis.append({i, static_cast<quint8>(info->type), QByteArray(info->name ? info->name : ""),
                         info->defaultInputDevice, info->defaultOutputDevice});
        }
    }
    return apis;
}

int getDefaultHostApi() {
    PortAudioScope pa;
    return std::max(Pa_GetDefaultHostApi(), -1);
}

int getDefaultInputDevice() {
    PortAudioScope pa;
    return Pa_GetDefaultInputDevice();
}

int getDefaultOutputDevice() {
    PortAudioScope pa;
    return Pa_GetDefaultOutputDevice();
}

VoiceDevice getDeviceInfo(int index) {
    PortAudioScope pa;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (!info) {
        throw std::runtime_error("Failed to get device info");
    }
    return toDevice(index, *info);
}

} // namespace velk::voice
