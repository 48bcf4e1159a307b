#pragma once

#include "voice/InputAudioStream.h"
#include "voice/MixedOutputAudioStream.h"
#include "voice/OpusCodec.h"
#include "voice/RadioChannel.h"
#include "voice/StreamConfig.h"
#include "voice/ToneGenerator.h"
#include "voice/VolumeInfo.h"

#include <QByteArray>
#include <QFlags>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace velk {
class AppConfig;
}

namespace velk::voice {

// The handler's record of one endpoint (capture, headphone, speaker).
struct AudioEndpointConfig {
    std::optional<qint32> device; // empty until a device has been chosen
    qint32 sampleRate = 44100;
    qint32 channels = 1;

    StreamConfig streamConfig() const { return StreamConfig::make(sampleRate, channels, device); }
};

enum class AudioStream : quint8 {
    Capture = 0x1,
    Headphone = 0x2,
    Speaker = 0x4,
};
Q_DECLARE_FLAGS(AudioStreams, AudioStream)

// Outcome of starting the streams.
struct StreamStartReport {
    AudioStreams failed;    // streams that did not open or start
    bool cancelled = false; // a stop or shutdown came first: nothing was started
    bool ok() const { return !cancelled && !failed; }
};

// "capture, headphone, speaker", as far as present.
QString audioStreamNames(AudioStreams streams);
// The same as the pilot's pages name the devices: "麦克风、耳机、扬声器".
QString audioDeviceNames(AudioStreams streams);

// The audio engine of the voice client: the capture stream with its encoder,
// the headphone and speaker streams, the press, release and conflict tones,
// and the voice settings that shape them.
class AudioHandler : public QObject {
    Q_OBJECT

public:
    // Playback source of the microphone test's loopback; radio ids are transmitter ids, never negative.
    static constexpr qint32 kLoopbackSourceId = -1;
    // How often the running streams are asked whether their devices still call back.
    static constexpr std::chrono::milliseconds kWatchInterval{1000};

    // config defaults to the process-wide store.
    explicit AudioHandler(AppConfig* config = nullptr);
    ~AudioHandler() override;

    void reloadSettings();
    // Applies the one voice setting named by key; other keys are ignored.
    void onSettingChanged(const QString& key);

    // A negative index picks PortAudio's default device of the direction.
    void setInputDevice(int deviceIndex);
    void setOutputHeadphoneDevice(int deviceIndex);
    void setOutputSpeakerDevice(int deviceIndex);

    void setPttActive(bool active);
    // One 20 ms press or release beep on the push-to-talk output, when it runs.
    void playPttTone(bool pressed);

    // Radios stay registered across stream restarts.
    void addRadioSource(const RadioChannel& radio);
    void moveRadioSource(const RadioChannel& radio);
    void removeRadioSource(int id);
    // One received Opus packet; sender (the talker's callsign) keeps talkers on one radio apart.
    void playReceivedAudio(const RadioChannel& radio, const std::vector<uint8_t>& packet, bool conflict,
                           const QByteArray& sender = {});

    // Capture, then headphone, then speaker; reports the streams that failed.
    // Safe from any thread.
    StreamStartReport startStreams();
    // The same on the global thread pool; a stop or shutdown before it runs cancels it.
    QFuture<StreamStartReport> startStreamsAsync();
    void stopStreams();

    // Microphone loopback test on the headphone (0) or speaker (1) output.
    // The streams start on the global pool; the report names those the test
    // needs that did not start, and a test that failed holds no device.
    QFuture<StreamStartReport> startMicTest(quint8 target);
    void stopMicTest();
    // The tone needs only its output: a microphone that fails is not reported.
    QFuture<StreamStartReport> startPlayConflict();
    void stopPlayConflict();

    // Stops everything, cancels and waits for pending starts, ends PortAudio.
    void shutdown();

    void setMicGain(double dB);
    void setPttVolume(float volume);
    void setPttPlayDevice(quint8 device);
    void setConflictPlayDevice(quint8 device);
    void setConflictVolume(float volume);
    void setPttPressFrequency(float frequency);
    void setPttReleaseFrequency(float frequency);

    AudioEndpointConfig inputConfig() const;
    AudioEndpointConfig headphoneConfig() const;
    AudioEndpointConfig speakerConfig() const;
    float pttVolume() const { return m_pttVolume.load(); }
    float conflictVolume() const { return m_conflictVolume.load(); }
    quint8 pttPlayDevice() const { return m_pttPlayDevice.load(); }
    quint8 conflictPlayDevice() const { return m_conflictPlayDevice.load(); }
    float pttPressFrequency() const;
    float pttReleaseFrequency() const;
    bool testStreamsRunning() const { return m_testStreamsRunning.load(); }

    InputAudioStream* captureStream() { return &m_capture; }
    MixedOutputAudioStream* headphoneStream() { return &m_headphone; }
    MixedOutputAudioStream* speakerStream() { return &m_speaker; }

signals:
    void encodedAudioReady(std::vector<uint8_t> data);
    void inputVolumeChanged(velk::voice::VolumeInfo volume);
    void outputVolumeChanged(velk::voice::VolumeInfo volume);
    // Streams whose devices stopped while they ran (a sound server that
    // stopped, a headset unplugged); they are closed.
    void streamsStopped(velk::voice::AudioStreams streams);

private:
    enum class Endpoint { Input, Headphone, Speaker };

    void changeDevice(Endpoint endpoint, int deviceIndex);
    MixedOutputAudioStream& output(quint8 which) { return which == 1 ? m_speaker : m_headphone; }
    AudioEndpointConfig& outputConfig(quint8 which) {
        return which == 1 ? m_speakerConfig : m_headphoneConfig;
    }
    // Starts one output and registers the radios (and the loopback) that play on it.
    bool startOutput(quint8 which);
    StreamStartReport startStreamsFor(quint64 generation);
    // Runs task on the global pool unless a stop or shutdown comes first
    // (the report then says cancelled).
    QFuture<StreamStartReport> runStartTask(std::function<StreamStartReport()> task);
    // Starts the capture stream and `which` output for a test; what failed is
    // stopped again. `needCapture`: a capture that fails fails the test.
    StreamStartReport startTestStreams(quint8 which, bool needCapture);
    // Kept so that shut-down can wait for it; finished ones are let go.
    void keepTask(QFuture<void> future);
    // Cancels pending starts; call under the PortAudio lock.
    void cancelPendingStarts() { ++m_generation; }
    void endMicTest();
    void onConflictTimer();
    // Closes the running streams whose devices no longer call back.
    void watchStreams();
    void enqueueTone(MixedOutputAudioStream& target, ToneGenerator& tone, float gain);

    AppConfig* m_config;
    AudioEndpointConfig m_inputConfig;
    AudioEndpointConfig m_headphoneConfig;
    AudioEndpointConfig m_speakerConfig;
    OpusEncoder m_encoder;
    std::atomic<quint8> m_pttPlayDevice{0};
    std::atomic<quint8> m_conflictPlayDevice{0};
    InputAudioStream m_capture;
    MixedOutputAudioStream m_headphone;
    MixedOutputAudioStream m_speaker;

    // The tones are rebuilt from settings on the writing thread and played on the handler's.
    mutable std::mutex m_toneMutex;
    ToneGenerator m_pressTone;
    ToneGenerator m_releaseTone;
    std::atomic<float> m_pttVolume{0.3f};
    std::atomic<float> m_conflictVolume{0.5f};

    std::atomic<bool> m_testStreamsRunning{false};
    std::atomic<bool> m_micTestActive{false};
    std::atomic<quint8> m_micTestTarget{0};
    QTimer m_conflictTimer;
    QTimer m_watchdog;
    QMetaObject::Connection m_loopbackConnection;
    bool m_paInitialized = false;
    bool m_shutDown = false; // under the PortAudio lock

    // Radio id -> plays on the speaker; re-registered whenever an output starts.
    mutable std::mutex m_radioMutex;
    QHash<qint32, bool> m_radios;

    // Bumped by every stop; a start scheduled under an older value is cancelled.
    std::atomic<quint64> m_generation{0};
    std::mutex m_taskMutex;
    QList<QFuture<void>> m_tasks;
};

} // namespace velk::voice

Q_DECLARE_OPERATORS_FOR_FLAGS(velk::voice::AudioStreams)
