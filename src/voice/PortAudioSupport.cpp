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
        m_callback = request.callback;
        m_userData = request.userData;
        m_seenCallbacks = m_callbacks.load();
        m_quietChecks = 0;
        PortAudioStreamRequest counted = request;
        counted.callback = &CallbackStream::countingCallback;
        counted.userData = this;
        m_stream = openAndStartStream(counted);
        if (!m_stream) {
            return false;
        }
    }
    m_running = true;
    qDebug().noquote() << QLatin1String(request.owner) + QLatin1String(": started");
    return true;
}

int CallbackStream::countingCallback(const void* input, void* output, unsigned long frames,
                                     const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                                     void* self) {
    auto* stream = static_cast<CallbackStream*>(self);
    stream->m_callbacks.fetch_add(1, std::memory_order_relaxed);
    return stream->m_callback(input, output, frames, time, flags, stream->m_userData);
}

bool CallbackStream::deviceStopped() {
    std::lock_guard lock(portAudioMutex());
    if (!m_stream) {
        return false;
    }
    if (Pa_IsStreamActive(m_stream) != 1) {
        return true; // ended by its device
    }
    const std::uint64_t callbacks = m_callbacks.load(std::memory_order_relaxed);
    if (callbacks != m_seenCallbacks) {
        m_seenCallbacks = callbacks;
        m_quietChecks = 0;
        return false;
    }
    return ++m_quietChecks >= kQuietChecks;
}

void CallbackStream::close() {
    std::lock_guard lock(portAudioMutex());
    if (m_stream && Pa_IsStreamActive(m_stream) == 1) {
        Pa_StopStream(m_stream);
        Pa_CloseStream(m_stream);
    } else if (m_stream) {
        // Its device ended it (a sound server that stopped, a device unplugged).
        // Stopping it would wait for a callback that never comes (ten minutes
        // on JACK): it is left open, and a hold on PortAudio is kept for it so
        // that no termination closes it either.
        Pa_Initialize();
        qWarning() << "CallbackStream: a stream its device ended is let go without closing it";
    }
    m_stream = nullptr;
    m_running = false;
}

} // namespace velk::voice
