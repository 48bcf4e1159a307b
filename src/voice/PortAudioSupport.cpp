#include "voice/PortAudioSupport.h"

#include <QDebug>

#include <cstring>

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

// Held by each callback and by the let-go, so that the owner's work never runs
// after the owner let the stream go (it may be started again, or gone).
struct CallbackStream::Link {
    std::mutex mutex;
    bool live = true; // under mutex
    PaStreamCallback* callback = nullptr;
    void* userData = nullptr;
    unsigned long outputFrameBytes = 0; // zeroed by a callback of a stream let go
    std::atomic<std::uint64_t> callbacks{0};
    std::atomic<std::chrono::steady_clock::rep> lastCallback{0};

    void calledBack() {
        callbacks.fetch_add(1, std::memory_order_relaxed);
        lastCallback.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                           std::memory_order_relaxed);
    }
    bool answeredWithin(std::chrono::steady_clock::duration span) const {
        const auto last = std::chrono::steady_clock::duration(lastCallback.load(std::memory_order_relaxed));
        return std::chrono::steady_clock::now().time_since_epoch() - last <= span;
    }
};

CallbackStream::CallbackStream() = default;

CallbackStream::~CallbackStream() {
    close();
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
        auto link = std::make_unique<Link>();
        link->callback = request.callback;
        link->userData = request.userData;
        link->outputFrameBytes =
            request.input ? 0
                          : static_cast<unsigned long>(request.channels * Pa_GetSampleSize(request.format));
        link->calledBack(); // a start counts as an answer
        m_seenCallbacks = link->callbacks.load();
        m_quietChecks = 0;
        PortAudioStreamRequest linked = request;
        linked.callback = &CallbackStream::linkedCallback;
        linked.userData = link.get();
        m_stream = openAndStartStream(linked);
        if (!m_stream) {
            return false;
        }
        m_link = std::move(link);
    }
    m_running = true;
    qDebug().noquote() << QLatin1String(request.owner) + QLatin1String(": started");
    return true;
}

int CallbackStream::linkedCallback(const void* input, void* output, unsigned long frames,
                                   const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                                   void* userData) {
    auto* link = static_cast<Link*>(userData);
    std::lock_guard lock(link->mutex);
    if (!link->live) {
        if (output) {
            std::memset(output, 0, frames * link->outputFrameBytes);
        }
        return paContinue;
    }
    link->calledBack();
    return link->callback(input, output, frames, time, flags, link->userData);
}

bool CallbackStream::deviceStopped() {
    std::lock_guard lock(portAudioMutex());
    if (!m_stream) {
        return false;
    }
    if (Pa_IsStreamActive(m_stream) != 1) {
        return true; // ended by its device
    }
    const std::uint64_t callbacks = m_link->callbacks.load(std::memory_order_relaxed);
    if (callbacks != m_seenCallbacks) {
        m_seenCallbacks = callbacks;
        m_quietChecks = 0;
        return false;
    }
    return ++m_quietChecks >= kQuietChecks;
}

void CallbackStream::close() {
    std::lock_guard lock(portAudioMutex());
    if (m_stream && Pa_IsStreamActive(m_stream) == 1 && m_link->answeredWithin(kAnswerWithin)) {
        Pa_StopStream(m_stream);
        Pa_CloseStream(m_stream);
        m_link.reset();
    } else if (m_stream) {
        // Its device ended it or no longer calls back (a sound server that
        // stopped or hangs, a device unplugged). Stopping it would wait for a
        // callback that may never come: it is left open, cut off from its
        // owner, and a hold on PortAudio is kept for it so that no termination
        // closes it either.
        {
            std::lock_guard cut(m_link->mutex);
            m_link->live = false;
        }
        static_cast<void>(m_link.release()); // the open stream still calls it
        Pa_Initialize();
        qWarning() << "CallbackStream: a stream whose device ended or stopped calling back is let go without "
                      "closing it";
    }
    m_stream = nullptr;
    m_running = false;
}

} // namespace velk::voice
