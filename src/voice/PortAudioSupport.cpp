#include "voice/PortAudioSupport.h"

#include <QDebug>

namespace velk::voice {

std::recursive_mutex& portAudioMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

PortAudioScope::PortAudioScope() : m_lock(portAudioMutex()), m_ok(Pa_Initialize() == paNoError) {}

PortAudioScope::~PortAudioScope() {
    if (m_ok) {
        Pa_Terminate();
    }
}

PaStream* openAndStartStream(const PortAudioStreamRequest& request) {
    std::lock_guard lock(portAudioMutex());
    const PaDeviceIndex device =
        request.device ? *request.device
                       : (request.input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice());
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    if (!info) {
        qWarning().noquote() << QStringLiteral("%1: no device information for device %2, stream not opened")
                                    .arg(QLatin1String(request.owner))
                                    .arg(device);
        return nullptr;
    }
    PaStreamParameters params{};
    params.device = device;
    params.channelCount = request.channels;
    params.sampleFormat = request.format;
    params.suggestedLatency = request.input ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
    params.hostApiSpecificStreamInfo = nullptr;

    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, request.input ? &params : nullptr, request.input ? nullptr : &params,
                                request.sampleRate, request.framesPerBuffer, paClipOff, request.callback,
                                request.userData);
    if (err != paNoError) {
        qWarning().noquote() << QLatin1String(request.owner) + QLatin1String(": Pa_OpenStream failed:")
                             << Pa_GetErrorText(err);
        return nullptr;
    }
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        qWarning().noquote() << QLatin1String(request.owner) + QLatin1String(": Pa_StartStream failed:")
                             << Pa_GetErrorText(err);
        Pa_CloseStream(stream);
        return nullptr;
    }
    return stream;
}

bool CallbackStream::start(const PortAudioStreamRequest& request, bool openDevice,
                           const std::function<bool()>& setUp) {
    std::lock_guard lock(portAudioMutex());
    if (m_running) {
        return true;
    }
    if (!setUp()) {
        return false;
    }
    if (openDevice) {
        m_stream = openAndStartStream(request);
        if (!m_stream) {
            return false;
        }
    }
    m_running = true;
    qDebug().noquote() << QLatin1String(request.owner) + QLatin1String(": started");
    return true;
}

void CallbackStream::close() {
    std::lock_guard lock(portAudioMutex());
    if (m_stream) {
        Pa_StopStream(m_stream);
        Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }
    m_running = false;
}

} // namespace velk::voice
