#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <functional>

struct PaDeviceInfo;

namespace velk::voice {

// One PortAudio device; index is PortAudio's global device index.
struct VoiceDevice {
    qint32 index = -1;
    QByteArray name; // exactly as PortAudio reports it
    qint32 hostApi = -1;
    qint32 maxInputChannels = 0;
    qint32 maxOutputChannels = 0;
    double defaultSampleRate = 0.0;
};

// One PortAudio host API (driver); type is PortAudio's host-API type id.
struct VoiceHostApi {
    qint32 index = -1;
    quint8 type = 0;
    QByteArray name;
    qint32 defaultInputDevice = -1;
    qint32 defaultOutputDevice = -1;
};

using DeviceFilter = std::function<bool(const PaDeviceInfo*)>;

// Each call brackets its work with its own PortAudio initialisation.
QList<VoiceDevice> enumerateDevices(const DeviceFilter& filter);
QList<VoiceDevice> getVoiceInputDevices();
QList<VoiceDevice> getVoiceInputDevices(int hostApi);
QList<VoiceDevice> getVoiceOutputDevices();
QList<VoiceDevice> getVoiceOutputDevices(int hostApi);
QList<VoiceHostApi> getHostApiNames();
// PortAudio's default host API (the first one with a default device); -1 when none.
int getDefaultHostApi();
int getDefaultInputDevice();
int getDefaultOutputDevice();
// Throws std::runtime_error("Failed to get device info") for an unknown index.
VoiceDevice getDeviceInfo(int index);

} // namespace velk::voice
