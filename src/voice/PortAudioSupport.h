#pragma once

#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace velk::voice {

// PortAudio is not thread-safe: every Pa_* call outside the stream callbacks,
// and every replacement of a codec a callback uses, runs under this lock.
// Recursive, so that a device change can hold it across stop, codec and start.
std::recursive_mutex& portAudioMutex();

// A counted Pa_Initialize / Pa_Terminate pair; terminates only what it initialised.
class PortAudioScope {
public:
    PortAudioScope();
    ~PortAudioScope();
    PortAudioScope(const PortAudioScope&) = delete;
    PortAudioScope& operator=(const PortAudioScope&) = delete;
    bool ok() const { return m_ok; }

private:
    std::lock_guard<std::recursive_mutex> m_lock;
    bool m_ok = false;
};

// What a callback stream is opened with: one direction, 20 ms buffers, the
// device's default low latency, clipping off.
struct PortAudioStreamRequest {
    const char* owner = "";    // class name for the log lines
    bool input = false;        // capture when true, playback otherwise
    std::optional<int> device; // empty for the default device of the direction
    int channels = 1;
    PaSampleFormat format = paFloat32;
    double sampleRate = 44100.0;
    unsigned long framesPerBuffer = 0;
    PaStreamCallback* callback = nullptr;
    void* userData = nullptr;
};

// Opens and starts a stream under the lock; null, after a warning, when there
// is no such device or PortAudio refuses.
PaStream* openAndStartStream(const PortAudioStreamRequest& request);

// The device side of one callback stream: its handle and running flag.
class CallbackStream {
public:
    CallbackStream();
    ~CallbackStream();
    CallbackStream(const CallbackStream&) = delete;
    CallbackStream& operator=(const CallbackStream&) = delete;

    // Under the lock: true at once when running; otherwise setUp(), then the
    // device (unless openDevice is false: the owner then drives the callback's
    // work itself), then running and "<owner>: started".
    bool start(const PortAudioStreamRequest& request, bool openDevice, const std::function<bool()>& setUp);
    // Stops and closes the device under the lock; not running afterwards.
    // A stream whose device ended it or no longer calls back is only let go.
    void close();
    bool isRunning() const { return m_running.load(); }
    // For a watchdog that asks about once a second: true when the open device
    // ended the stream or has called back at none of the last kQuietChecks
    // asks (its server stopped or hangs, it was unplugged). Never true without a device.
    bool deviceStopped();
    static constexpr int kQuietChecks = 2;
    // A stream that has not called back for this long is let go, not stopped:
    // a stop waits for a callback (up to ten minutes on JACK).
    static constexpr std::chrono::milliseconds kAnswerWithin{500};

private:
    struct Link;
    // Counts the callbacks on their way to the owner's; a stream let go
    // reaches the owner no more.
    static int linkedCallback(const void* input, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* link);

    PaStream* m_stream = nullptr;
    std::atomic<bool> m_running{false};
    // What the open stream's callbacks reach; it stays with a stream let go.
    std::unique_ptr<Link> m_link;
    std::uint64_t m_seenCallbacks = 0; // under the lock
    int m_quietChecks = 0;             // under the lock
};

} // namespace velk::voice
