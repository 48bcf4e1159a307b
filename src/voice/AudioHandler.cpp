#include "voice/AudioHandler.h"

#include "AppConfig.h"
#include "model/MetaTypes.h"
#include "voice/AudioLimits.h"
#include "voice/PortAudioSupport.h"

#include <QDebug>
#include <QStringList>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <array>
#include <cmath>

namespace velk::voice {

namespace {

// A device's default rate as a whole number PortAudio can be asked for.
int deviceRate(double rate) {
    if (!std::isfinite(rate)) {
        return 44100;
    }
    return static_cast<int>(
        std::clamp(rate, double(StreamConfig::kMinSampleRate), double(StreamConfig::kMaxSampleRate)));
}

} // namespace

namespace {

// The named streams among capture, headphone and speaker, in that order.
QString streamNames(AudioStreams streams, const std::array<QString, 3>& names, const QString& separator) {
    QStringList shown;
    const AudioStream order[] = {AudioStream::Capture, AudioStream::Headphone, AudioStream::Speaker};
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (streams.testFlag(order[i])) {
            shown << names[i];
        }
    }
    return shown.join(separator);
}

} // namespace

QString audioStreamNames(AudioStreams streams) {
    return streamNames(streams,
                       {QStringLiteral("capture"), QStringLiteral("headphone"), QStringLiteral("speaker")},
                       QStringLiteral(", "));
}

QString audioDeviceNames(AudioStreams streams) {
    return streamNames(streams, {QStringLiteral("麦克风"), QStringLiteral("耳机"), QStringLiteral("扬声器")},
                       QStringLiteral("、"));
}

AudioHandler::AudioHandler(AppConfig* config)
    : QObject(nullptr), m_config(config ? config : AppConfig::instance()), m_encoder(1),
      m_capture(&m_encoder),
      m_pressTone(44100, toneFrequency(m_config->value(ConfigKeys::VoicePttPressFreq)), kToneAmplitude),
      m_releaseTone(44100, toneFrequency(m_config->value(ConfigKeys::VoicePttReleaseFreq)), kToneAmplitude),
      m_conflictTimer(this), m_watchdog(this) {
    model::registerMetaTypes();
    {
        std::lock_guard lock(portAudioMutex());
        m_paInitialized = Pa_Initialize() == paNoError;
    }
    connect(&m_capture, &InputAudioStream::encodedAudioReady, this, &AudioHandler::encodedAudioReady);
    connect(&m_capture, &InputAudioStream::inputVolumeChanged, this, &AudioHandler::inputVolumeChanged);
    connect(&m_headphone, &MixedOutputAudioStream::outputVolumeChanged, this,
            &AudioHandler::outputVolumeChanged);
    connect(&m_speaker, &MixedOutputAudioStream::outputVolumeChanged, this,
            &AudioHandler::outputVolumeChanged);
    connect(&m_conflictTimer, &QTimer::timeout, this, &AudioHandler::onConflictTimer);
    connect(&m_watchdog, &QTimer::timeout, this, &AudioHandler::watchStreams);
    m_watchdog.start(kWatchInterval);
    connect(m_config, &AppConfig::configChanged, this, &AudioHandler::onSettingChanged, Qt::DirectConnection);
}

AudioHandler::~AudioHandler() {
    shutdown();
}

// --- settings ---------------------------------------------------------------

namespace {

// Each voice setting and how it reaches the handler. The conversions to float
// stay here: a double beyond a float's range must not be narrowed.
struct VoiceSetting {
    const QString& key;
    void (*apply)(AudioHandler&, const AppConfig&);
};

const std::array<VoiceSetting, 7>& voiceSettings() {
    using namespace ConfigKeys;
    static const std::array<VoiceSetting, 7> settings{{
        {VoiceMicGain.name, [](AudioHandler& h, const AppConfig& c) { h.setMicGain(c.value(VoiceMicGain)); }},
        {VoicePttPressFreq.name,
         [](AudioHandler& h, const AppConfig& c) {
             h.setPttPressFrequency(toneFrequency(c.value(VoicePttPressFreq)));
         }},
        {VoicePttReleaseFreq.name,
         [](AudioHandler& h, const AppConfig& c) {
             h.setPttReleaseFrequency(toneFrequency(c.value(VoicePttReleaseFreq)));
         }},
        {VoicePttVolume.name,
         [](AudioHandler& h, const AppConfig& c) { h.setPttVolume(clampVolume(c.value(VoicePttVolume))); }},
        {VoicePttPlayDevice.name,
         [](AudioHandler& h, const AppConfig& c) {
             h.setPttPlayDevice(static_cast<quint8>(c.value(VoicePttPlayDevice) & 0xff));
         }},
        {VoiceConflictPlayDevice.name,
         [](AudioHandler& h, const AppConfig& c) {
             h.setConflictPlayDevice(static_cast<quint8>(c.value(VoiceConflictPlayDevice) & 0xff));
         }},
        {VoiceConflictVolume.name,
         [](AudioHandler& h, const AppConfig& c) {
             h.setConflictVolume(clampVolume(c.value(VoiceConflictVolume)));
         }},
    }};
    return settings;
}

} // namespace

void AudioHandler::reloadSettings() {
    for (const VoiceSetting& setting : voiceSettings()) {
        setting.apply(*this, *m_config);
    }
}

void AudioHandler::onSettingChanged(const QString& key) {
    for (const VoiceSetting& setting : voiceSettings()) {
        if (setting.key == key) {
            setting.apply(*this, *m_config);
            return;
        }
    }
}

void AudioHandler::setMicGain(double dB) {
    m_capture.setMicGainDb(dB);
}

void AudioHandler::setPttVolume(float volume) {
    m_pttVolume = clampVolume(volume);
}

void AudioHandler::setPttPlayDevice(quint8 device) {
    m_pttPlayDevice = device;
}

void AudioHandler::setConflictPlayDevice(quint8 device) {
    m_conflictPlayDevice = device;
}

void AudioHandler::setConflictVolume(float volume) {
    m_conflictVolume = clampVolume(volume);
}

void AudioHandler::setPttPressFrequency(float frequency) {
    std::lock_guard lock(m_toneMutex);
    m_pressTone.setFrequency(frequency);
}

void AudioHandler::setPttReleaseFrequency(float frequency) {
    std::lock_guard lock(m_toneMutex);
    m_releaseTone.setFrequency(frequency);
}

float AudioHandler::pttPressFrequency() const {
    std::lock_guard lock(m_toneMutex);
    return m_pressTone.frequency();
}

float AudioHandler::pttReleaseFrequency() const {
    std::lock_guard lock(m_toneMutex);
    return m_releaseTone.frequency();
}

AudioEndpointConfig AudioHandler::inputConfig() const {
    std::lock_guard lock(portAudioMutex());
    return m_inputConfig;
}

AudioEndpointConfig AudioHandler::headphoneConfig() const {
    std::lock_guard lock(portAudioMutex());
    return m_headphoneConfig;
}

AudioEndpointConfig AudioHandler::speakerConfig() const {
    std::lock_guard lock(portAudioMutex());
    return m_speakerConfig;
}

// --- devices ----------------------------------------------------------------

void AudioHandler::setInputDevice(int deviceIndex) {
    changeDevice(Endpoint::Input, deviceIndex);
}

void AudioHandler::setOutputHeadphoneDevice(int deviceIndex) {
    changeDevice(Endpoint::Headphone, deviceIndex);
}

void AudioHandler::setOutputSpeakerDevice(int deviceIndex) {
    changeDevice(Endpoint::Speaker, deviceIndex);
}

void AudioHandler::changeDevice(Endpoint endpoint, int deviceIndex) {
    // One lock across the query, the stop, the codec and the restart: a start
    // from another thread cannot slip in between.
    std::lock_guard lock(portAudioMutex());
    if (m_shutDown) {
        return;
    }
    const bool input = endpoint == Endpoint::Input;
    const quint8 which = endpoint == Endpoint::Speaker ? 1 : 0;
    AudioEndpointConfig& config = input ? m_inputConfig : outputConfig(which);
    if (deviceIndex < 0) {
        deviceIndex = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    }
    config.device = deviceIndex;
    if (deviceIndex < 0) {
        qCritical() << (input ? "No input device selected and no default device found"
                              : "No output device selected and no default device found");
        return;
    }
    const char* label = input ? "Input" : (which == 1 ? "Output(speaker)" : "Output(headphone)");
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info) {
        qWarning().noquote()
            << QStringLiteral("%1 device change failed: invalid device").arg(QLatin1String(label))
            << deviceIndex;
        return;
    }
    const int available = input ? info->maxInputChannels : info->maxOutputChannels;
    qInfo().noquote() << (input ? QStringLiteral("Input device change to ")
                                : QStringLiteral("%1 device change to").arg(QLatin1String(label)))
                      << QString::fromUtf8(info->name ? info->name : "") << ", " << available << " channels";
    config.sampleRate = deviceRate(info->defaultSampleRate);
    config.channels = std::clamp(available, 1, 2);

    if (input) {
        const bool running = m_capture.isRunning();
        if (running) {
            m_capture.stop();
        }
        m_encoder.init(config.channels);
        if (running) {
            m_capture.start(config.streamConfig());
        }
        return;
    }
    MixedOutputAudioStream& out = output(which);
    const bool running = out.isRunning();
    if (running) {
        out.stop();
    }
    if (running) {
        startOutput(which);
    }
}

// --- push-to-talk and tones -------------------------------------------------

void AudioHandler::setPttActive(bool active) {
    m_capture.setPttActive(active);
}

void AudioHandler::playPttTone(bool pressed) {
    MixedOutputAudioStream& target = output(m_pttPlayDevice);
    if (!target.isRunning()) {
        return;
    }
    enqueueTone(target, pressed ? m_pressTone : m_releaseTone, m_pttVolume * 0.5f);
}

void AudioHandler::enqueueTone(MixedOutputAudioStream& target, ToneGenerator& tone, float gain) {
    const int channels = std::max(target.channels(), 1);
    const int frames = target.blockSamples() / channels;
    std::vector<float> block;
    {
        std::lock_guard lock(m_toneMutex);
        // The tone follows the rate of the output it plays on, whichever that is now.
        if (tone.sampleRate() != target.sampleRate()) {
            tone.setSampleRate(target.sampleRate());
        }
        block = tone.generateBlock(frames, channels, gain);
    }
    target.enqueueOneShot(std::move(block));
}

void AudioHandler::onConflictTimer() {
    MixedOutputAudioStream& out = output(m_conflictPlayDevice);
    if (!out.isRunning()) {
        return;
    }
    // Held by each tick, so that a late tick does not break the tone up.
    out.holdConflictTone(m_conflictVolume);
}

// --- radios -----------------------------------------------------------------

void AudioHandler::addRadioSource(const RadioChannel& radio) {
    {
        std::lock_guard lock(m_radioMutex);
        m_radios.insert(radio.id, radio.speaker);
    }
    output(radio.speaker ? 1 : 0).addSource(radio.id);
}

void AudioHandler::moveRadioSource(const RadioChannel& radio) {
    {
        std::lock_guard lock(m_radioMutex);
        m_radios.insert(radio.id, radio.speaker);
    }
    output(radio.speaker ? 0 : 1).removeSource(radio.id);
    output(radio.speaker ? 1 : 0).addSource(radio.id);
}

void AudioHandler::removeRadioSource(int id) {
    {
        std::lock_guard lock(m_radioMutex);
        m_radios.remove(id);
    }
    m_speaker.removeSource(id);
    m_headphone.removeSource(id);
}

void AudioHandler::playReceivedAudio(const RadioChannel& radio, const std::vector<uint8_t>& packet,
                                     bool conflict, const QByteArray& sender) {
    const float radioVolume = clampRadioVolume(radio.volume);
    if (radioVolume <= 0.0f || !radio.receive) {
        return;
    }
    const float volume = conflict ? m_conflictVolume.load() : radioVolume;
    const quint8 which = conflict ? m_conflictPlayDevice.load() : quint8(radio.speaker ? 1 : 0);
    output(which).pushEncodedAudio(radio.id, packet, conflict, volume, sender);
}

// --- streams ----------------------------------------------------------------

bool AudioHandler::startOutput(quint8 which) {
    MixedOutputAudioStream& out = output(which);
    if (!out.start(outputConfig(which).streamConfig())) {
        return false;
    }
    // Stopping an output forgets its sources: register the radios again.
    QList<qint32> ids;
    {
        std::lock_guard lock(m_radioMutex);
        for (auto it = m_radios.cbegin(); it != m_radios.cend(); ++it) {
            if (it.value() == (which == 1)) {
                ids.append(it.key());
            }
        }
    }
    for (qint32 id : ids) {
        out.addSource(id);
    }
    if (m_micTestActive && m_micTestTarget == which) {
        out.addSource(kLoopbackSourceId);
    }
    return true;
}

StreamStartReport AudioHandler::startStreamsFor(quint64 generation) {
    std::lock_guard lock(portAudioMutex());
    StreamStartReport report;
    if (m_shutDown || generation != m_generation) {
        report.cancelled = true;
        return report;
    }
    if (!m_capture.start(m_inputConfig.streamConfig())) {
        report.failed |= AudioStream::Capture;
    }
    if (!startOutput(0)) {
        report.failed |= AudioStream::Headphone;
    }
    if (!startOutput(1)) {
        report.failed |= AudioStream::Speaker;
    }
    if (report.failed) {
        qWarning().noquote() << "AudioHandler: streams failed to start:" << audioStreamNames(report.failed);
    }
    return report;
}

StreamStartReport AudioHandler::startStreams() {
    return startStreamsFor(m_generation);
}

QFuture<StreamStartReport> AudioHandler::startStreamsAsync() {
    const quint64 generation = m_generation;
    QFuture<StreamStartReport> future =
        QtConcurrent::run([this, generation] { return startStreamsFor(generation); });
    keepTask(QFuture<void>(future));
    return future;
}

QFuture<StreamStartReport> AudioHandler::runStartTask(std::function<StreamStartReport()> task) {
    const quint64 generation = m_generation;
    QFuture<StreamStartReport> future = QtConcurrent::run([this, generation, task = std::move(task)] {
        std::lock_guard lock(portAudioMutex());
        if (m_shutDown || generation != m_generation) {
            return StreamStartReport{.failed = {}, .cancelled = true};
        }
        return task();
    });
    keepTask(QFuture<void>(future));
    return future;
}

StreamStartReport AudioHandler::startTestStreams(quint8 which, bool needCapture) {
    const AudioStream outputStream = which == 1 ? AudioStream::Speaker : AudioStream::Headphone;
    StreamStartReport report;
    if (!m_capture.start(m_inputConfig.streamConfig()) && needCapture) {
        report.failed |= AudioStream::Capture;
    }
    if (!startOutput(which)) {
        report.failed |= outputStream;
    }
    if (report.failed) {
        // Not running: nothing may stay open, a microphone least of all.
        qWarning().noquote() << "AudioHandler: device test streams failed to start:"
                             << audioStreamNames(report.failed);
        m_capture.stop();
        output(which).stop();
        return report;
    }
    m_testStreamsRunning = true;
    return report;
}

void AudioHandler::keepTask(QFuture<void> future) {
    std::lock_guard lock(m_taskMutex);
    m_tasks.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    m_tasks.append(std::move(future));
}

void AudioHandler::stopStreams() {
    std::lock_guard lock(portAudioMutex());
    cancelPendingStarts();
    m_capture.stop();
    m_headphone.stop();
    m_speaker.stop();
}

void AudioHandler::watchStreams() {
    AudioStreams stopped;
    {
        // A start or stop holds the lock: this look waits for the next tick,
        // never this thread for the devices.
        std::unique_lock lock(portAudioMutex(), std::try_to_lock);
        if (!lock.owns_lock() || m_shutDown) {
            return;
        }
        if (m_capture.deviceStopped()) {
            m_capture.stop();
            stopped |= AudioStream::Capture;
        }
        for (const quint8 which : {0, 1}) {
            if (output(which).deviceStopped()) {
                output(which).stop();
                stopped |= which == 1 ? AudioStream::Speaker : AudioStream::Headphone;
            }
        }
    }
    if (stopped) {
        qWarning().noquote() << "AudioHandler: audio devices stopped:" << audioStreamNames(stopped);
        emit streamsStopped(stopped);
    }
}

// --- tests ------------------------------------------------------------------

QFuture<StreamStartReport> AudioHandler::startMicTest(quint8 target) {
    if (m_testStreamsRunning || m_micTestActive) {
        endMicTest();
    }
    m_micTestTarget = target;
    m_micTestActive = true;
    output(target).addSource(kLoopbackSourceId);
    disconnect(m_loopbackConnection);
    m_loopbackConnection = connect(
        &m_capture, &InputAudioStream::encodedAudioReady, this, [this](const std::vector<uint8_t>& packet) {
            output(m_micTestTarget).pushEncodedAudio(kLoopbackSourceId, packet, false, 1.0f);
        });
    return runStartTask([this, target] { return startTestStreams(target, true); });
}

void AudioHandler::stopMicTest() {
    if (!m_testStreamsRunning && !m_micTestActive) {
        return;
    }
    endMicTest();
}

void AudioHandler::endMicTest() {
    disconnect(m_loopbackConnection);
    m_loopbackConnection = {};
    std::lock_guard lock(portAudioMutex());
    cancelPendingStarts();
    m_micTestActive = false;
    MixedOutputAudioStream& out = output(m_micTestTarget);
    out.removeSource(kLoopbackSourceId);
    if (m_testStreamsRunning) {
        m_capture.stop();
        out.stop();
        m_testStreamsRunning = false;
    }
}

QFuture<StreamStartReport> AudioHandler::startPlayConflict() {
    m_conflictTimer.start(20);
    return runStartTask([this] { return startTestStreams(m_conflictPlayDevice, false); });
}

void AudioHandler::stopPlayConflict() {
    m_conflictTimer.stop();
    std::lock_guard lock(portAudioMutex());
    cancelPendingStarts();
    m_capture.stop();
    output(m_conflictPlayDevice).stop();
    m_testStreamsRunning = false;
}

// --- shut-down --------------------------------------------------------------

void AudioHandler::shutdown() {
    if (QThread::currentThread() == thread()) {
        m_conflictTimer.stop();
        m_watchdog.stop();
    }
    disconnect(m_loopbackConnection);
    m_loopbackConnection = {};
    {
        std::lock_guard lock(portAudioMutex());
        cancelPendingStarts();
        m_shutDown = true;
        m_micTestActive = false;
        m_capture.stop();
        m_headphone.stop();
        m_speaker.stop();
        m_testStreamsRunning = false;
    }
    // Pending starts see the shut-down and return; a queued one runs here at once.
    QList<QFuture<void>> tasks;
    {
        std::lock_guard lock(m_taskMutex);
        tasks.swap(m_tasks);
    }
    for (QFuture<void>& task : tasks) {
        task.waitForFinished();
    }
    std::lock_guard lock(portAudioMutex());
    if (m_paInitialized) {
        Pa_Terminate();
        m_paInitialized = false;
    }
}

} // namespace velk::voice
