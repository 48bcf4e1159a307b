#include "voice/VoiceClient.h"

#include "common/LogThrottle.h"
#include "model/MetaTypes.h"

#include <QDebug>
#include <QFutureWatcher>

#include <algorithm>
#include <stdexcept>

namespace velk::voice {

namespace {

constexpr quint64 kLoggedErrorsInFull = 10;

} // namespace

VoiceClient::VoiceClient(QObject* parent) : QObject(parent) {
    model::registerMetaTypes();
    // The transport emits on this thread, for its current connection only.
    connect(&m_transport, &NetworkHandler::socketStateChanged, this, &VoiceClient::handleSocketState);
    connect(&m_transport, &NetworkHandler::controlMessageReceived, this, &VoiceClient::handleControlMessage);
    connect(&m_transport, &NetworkHandler::voicePacketReceived, this, &VoiceClient::handleVoicePacket);
    connect(&m_transport, &NetworkHandler::errorOccurred, this, &VoiceClient::errorOccurred);
    m_welcomeTimer.setSingleShot(true);
    m_welcomeTimer.setInterval(kDefaultWelcomeTimeout);
    connect(&m_welcomeTimer, &QTimer::timeout, this, &VoiceClient::onWelcomeTimeout);
}

VoiceClient::~VoiceClient() {
    m_transport.stop();
    if (m_audio) {
        m_audio->shutdown();
    }
}

void VoiceClient::setCid(quint32 cid) {
    m_cid = cid;
    m_transport.setCid(cid);
}

bool VoiceClient::isReady() const {
    return m_state == ConnectionState::Ready && m_cid != 0 && !m_callsign.isEmpty();
}

void VoiceClient::connectToServer(const QString& auth) {
    ++m_generation;
    setConnectionState(ConnectionState::Connecting);
    // On a thread of its own, not the pool: a stalled name look-up must not
    // hold up logging out or quitting.
    m_transport.connectInBackground(auth);
}

void VoiceClient::disconnectFromServer() {
    // Left first, so that the transport's report of its own end is no loss.
    ++m_generation;
    setConnectionState(ConnectionState::Disconnected);
    m_transport.disconnectFromServer();
    m_currentTransmitter = -1;
    stopAudio();
    m_radios.clear();
    m_frequencyIndex.clear();
}

void VoiceClient::handleSocketState(bool connected, const QString& reason, bool byServer) {
    const bool wasUp = m_state != ConnectionState::Disconnected && m_state != ConnectionState::Connecting;
    if (!connected) {
        ++m_generation;
        // A lost connection must not leave the microphone open.
        stopAudio();
    }
    setConnectionState(connected ? ConnectionState::Connected : ConnectionState::Disconnected);
    if (connected) {
        m_serverLastWord.clear();
        m_serverErrors = 0;
        m_welcomeTimer.start();
    } else if (wasUp) {
        emit connectionLost(byServer ? serverReason(reason) : reason);
    }
}

QString VoiceClient::serverReason(const QString& fallback) const {
    // Timed as this thread handles them: the transport hands out the lines
    // and the end in the order they came.
    const bool justBefore =
        !m_serverLastWord.isEmpty() && m_clock() - m_serverLastWordAt <= kServerLastWordWindow;
    return justBefore ? m_serverLastWord : fallback;
}

void VoiceClient::handleControlMessage(const ControlMessage& msg) {
    // An error is the reason for an end only while nothing else comes between
    // them: one long before says nothing about why the session ended.
    if (msg.type != ControlMessageType::Error && msg.type != ControlMessageType::Disconnect) {
        m_serverLastWord.clear();
    }
    switch (msg.type) {
    case ControlMessageType::Pong:
        qDebug() << "VoiceClient: pong received";
        break;
    case ControlMessageType::Error:
        m_serverLastWord = QString::fromStdString(msg.data);
        m_serverLastWordAt = m_clock();
        // Every one reaches the pilot; the run log takes the first few and
        // then every thousandth.
        if (common::worthWarning(++m_serverErrors, kLoggedErrorsInFull)) {
            qWarning().noquote() << "VoiceClient: server error:" << common::logExcerpt(m_serverLastWord);
        }
        emit errorOccurred(m_serverLastWord);
        break;
    case ControlMessageType::Message:
        handleWelcome(msg.data);
        break;
    case ControlMessageType::Disconnect:
        handleServerDisconnect(msg.data);
        break;
    case ControlMessageType::Channel:
    case ControlMessageType::Ping:
    case ControlMessageType::TextReceive:
    case ControlMessageType::VoiceReceive:
        break;
    }
}

void VoiceClient::handleVoicePacket(const VoicePacket& pkt) {
    // The radio first: a frequency no receiving radio has leaves no trace.
    const auto id = m_frequencyIndex.constFind(pkt.frequency);
    if (id == m_frequencyIndex.constEnd() || !m_audio) {
        return;
    }
    const auto radio = m_radios.constFind(*id);
    if (radio == m_radios.constEnd()) {
        return;
    }
    const bool conflict = isConflict(pkt);
    const QByteArray sender = QByteArray::fromStdString(pkt.callsign);
    m_audio->playReceivedAudio(*radio, pkt.audio, conflict, sender);
    emit voiceDataReceived(QString::fromUtf8(sender), pkt.frequency, m_outputVolume);
}

bool VoiceClient::isConflict(const VoicePacket& pkt) {
    // While we transmit, everything heard is doubled over.
    if (transmitting()) {
        return true;
    }
    const std::chrono::nanoseconds now = m_clock();
    const auto last = m_lastSpeakers.constFind(pkt.frequency);
    if (last != m_lastSpeakers.constEnd() && now - last->time < kConflictWindow &&
        last->callsign != pkt.callsign) {
        return true;
    }
    m_lastSpeakers.insert(pkt.frequency, {pkt.callsign, now});
    return false;
}

std::optional<std::string> VoiceClient::welcomeIdentity(const std::string& data) {
    static constexpr std::string_view kPrefix = "SERVER:";
    if (!data.starts_with(kPrefix) || data.find("Welcome") == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = data.find(':', kPrefix.size());
    return data.substr(kPrefix.size(), end == std::string::npos ? std::string::npos : end - kPrefix.size());
}

void VoiceClient::handleWelcome(const std::string& data) {
    const std::optional<std::string> identity = welcomeIdentity(data);
    if (!identity) {
        return;
    }
    // The identity goes into every voice datagram's one-byte length field.
    if (identity->empty() || identity->size() > kMaxVoiceCallsign) {
        const QString text =
            QStringLiteral("Voice server confirmed an unusable callsign (%1 bytes)").arg(identity->size());
        qWarning().noquote() << "VoiceClient:" << text;
        emit errorOccurred(text);
        return;
    }
    m_welcomeTimer.stop();
    setIdentity(QByteArray::fromStdString(*identity));
    onIdentityVerified();
}

void VoiceClient::onWelcomeTimeout() {
    // Without a welcome the session never becomes ready: end it, so that the
    // pilot can connect again.
    const QString text = QStringLiteral("Voice server sent no welcome within %1 s")
                             .arg(QString::number(double(m_welcomeTimer.interval()) / 1000.0));
    qWarning().noquote() << "VoiceClient:" << text;
    giveUp(text);
}

void VoiceClient::giveUp(const QString& reason) {
    emit errorOccurred(reason);
    disconnectFromServer();
    emit connectionLost(reason);
}

AudioHandler* VoiceClient::ensureAudioHandler() {
    if (m_audio) {
        return m_audio.get();
    }
    m_audio = std::make_unique<AudioHandler>();
    m_audio->moveToThread(thread());
    AudioHandler* audio = m_audio.get();
    connect(audio, &AudioHandler::encodedAudioReady, this, &VoiceClient::sendEncodedAudio);
    connect(audio, &AudioHandler::inputVolumeChanged, this,
            [this](VolumeInfo level) { m_inputVolume = level; });
    connect(audio, &AudioHandler::outputVolumeChanged, this,
            [this](VolumeInfo level) { m_outputVolume = level; });
    connect(audio, &AudioHandler::streamsStopped, this, &VoiceClient::onStreamsStopped);
    for (const RadioChannel& radio : std::as_const(m_radios)) {
        registerRadio(radio);
    }
    // Held before the engine existed: the gate follows, without a tone.
    audio->setPttActive(m_ptt);
    emit audioHandlerCreated(audio);
    return audio;
}

void VoiceClient::onIdentityVerified() {
    AudioHandler* audio = ensureAudioHandler();
    // Only the start runs on the pool; its report comes back to this thread,
    // and a watcher that dies with the client never calls back.
    auto* watcher = new QFutureWatcher<StreamStartReport>(this);
    const quint64 generation = m_generation;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        onStreamsStarted(generation, watcher->result());
    });
    watcher->setFuture(audio->startStreamsAsync());
}

void VoiceClient::onStreamsStarted(quint64 generation, const StreamStartReport& report) {
    if (report.cancelled || generation != m_generation) {
        return;
    }
    const AudioStreams outputs = AudioStream::Headphone | AudioStream::Speaker;
    if ((report.failed & outputs) == outputs) {
        // A session nothing can be heard on is of no use and would keep the
        // pilot from connecting again: end it.
        giveUp(QStringLiteral("语音音频无法启动（%1），语音不可用").arg(audioDeviceNames(report.failed)));
        return;
    }
    setListenOnly(report.failed.testFlag(AudioStream::Capture));
    if (m_listenOnly) {
        // Observers and pilots without a microphone still hear ATC; with the
        // capture stream closed push-to-talk encodes and sends nothing.
        qWarning() << "VoiceClient: no microphone, the session only listens";
        emit errorOccurred(QStringLiteral("麦克风无法启动，当前仅可收听，按 PTT 不会发送语音"));
    }
    if (report.failed & outputs) {
        emit errorOccurred(
            QStringLiteral("语音音频输出无法启动（%1）").arg(audioDeviceNames(report.failed & outputs)));
    }
    markReady(generation);
}

void VoiceClient::onStreamsStopped(AudioStreams stopped) {
    // Outside a session only a device test runs: it is not the session's.
    if (m_state == ConnectionState::Disconnected || m_state == ConnectionState::Connecting) {
        return;
    }
    const QString what = QStringLiteral("音频设备已停止工作（%1）").arg(audioDeviceNames(stopped));
    const QString todo =
        QStringLiteral("请检查设备后重新连接语音服务器；如仍无法使用，请在设置中改选音频设备或重启客户端");
    if (!m_audio->headphoneStream()->isRunning() && !m_audio->speakerStream()->isRunning()) {
        giveUp(what + QStringLiteral("。") + todo);
        return;
    }
    if (stopped.testFlag(AudioStream::Capture)) {
        setListenOnly(true);
        emit errorOccurred(what + QStringLiteral("，当前仅可收听，按 PTT 不会发送语音。") + todo);
        return;
    }
    emit errorOccurred(what + QStringLiteral("。") + todo);
}

void VoiceClient::markReady(quint64 generation) {
    if (generation != m_generation || m_state == ConnectionState::Disconnected) {
        return;
    }
    setConnectionState(ConnectionState::Ready);
    qDebug() << "VoiceClient: identity verified, ready";
}

void VoiceClient::stopAudio() {
    if (m_audio) {
        m_audio->stopStreams();
    }
    setListenOnly(false);
}

void VoiceClient::setListenOnly(bool listenOnly) {
    if (listenOnly != m_listenOnly) {
        m_listenOnly = listenOnly;
        emit listenOnlyChanged(listenOnly);
    }
}

void VoiceClient::registerRadio(const RadioChannel& radio) {
    if (m_audio) {
        m_audio->moveRadioSource(radio);
    }
}

void VoiceClient::updateRadioOutput(const RadioChannel& radio) {
    ensureAudioHandler()->moveRadioSource(radio);
    // Received audio is routed by the table's flag: it must follow the source.
    const auto stored = m_radios.find(radio.id);
    if (stored != m_radios.end()) {
        stored->speaker = radio.speaker;
    }
}

void VoiceClient::setPtt(bool active) {
    m_ptt = active;
    if (m_audio) {
        m_audio->setPttActive(active);
        m_audio->playPttTone(active);
    }
}

void VoiceClient::handleServerDisconnect(const std::string& reason) {
    m_radios.clear();
    m_frequencyIndex.clear();
    stopAudio();
    // The server has ended the session: close what it left open.
    m_transport.stop();
    ++m_generation;
    setConnectionState(ConnectionState::Disconnected);
    const QString text =
        reason.empty() ? QStringLiteral("Voice server ended the session") : QString::fromStdString(reason);
    qInfo().noquote() << "VoiceClient: disconnected by the server:" << text;
    emit errorOccurred(text);
    emit connectionLost(reason.empty() ? serverReason(text) : text);
}

void VoiceClient::applyRadioStack(const RadioChannel& applied) {
    const RadioChannel radio = withPilotVolume(applied);
    m_radios.insert(radio.id, radio);
    registerRadio(radio);
    rebuildFrequencyIndex();
    if (radio.frequency != 0) {
        updateRadioStack(radio);
    }
}

void VoiceClient::updateRadioStack(const RadioChannel& pushed) {
    if (!isReady()) {
        return;
    }
    const RadioChannel radio = withPilotVolume(pushed);
    m_radios.insert(radio.id, radio);
    registerRadio(radio);
    rebuildFrequencyIndex();
    if (radio.transmit) {
        m_currentTransmitter = radio.id;
        emit currentFrequencyChanged(radio.frequency);
    }
    announceChannel(radio);
}

void VoiceClient::setRadioVolume(qint32 id, float volume) {
    m_pilotVolumes.insert(id, volume);
    const auto stored = m_radios.find(id);
    if (stored != m_radios.end()) {
        stored->volume = volume;
    }
}

RadioChannel VoiceClient::withPilotVolume(RadioChannel radio) const {
    radio.volume = m_pilotVolumes.value(radio.id, radio.volume);
    return radio;
}

void VoiceClient::sendTextMessage(const QString& first, const QString& second) {
    if (!isReady()) {
        return;
    }
    m_transport.sendControlMessage(
        ownMessage(ControlMessageType::Message, 0, (first + QLatin1Char(':') + second).toStdString()));
}

bool VoiceClient::transmitVoiceFrame(const std::vector<std::uint8_t>& audio) {
    const auto radio = m_radios.constFind(m_currentTransmitter);
    if (!isReady() || radio == m_radios.constEnd()) {
        return false;
    }
    std::vector<std::uint8_t> datagram;
    try {
        datagram = encodeVoicePacket(m_cid, radio->id, radio->frequency, m_callsign.toStdString(), audio);
    } catch (const std::exception& e) {
        // A frame the packet cannot carry is dropped here, never left to the event loop.
        if (common::worthWarning(++m_droppedFrames)) {
            qWarning() << "VoiceClient: voice frame dropped:" << e.what() << "-" << m_droppedFrames
                       << "so far";
        }
        return false;
    }
    // Announced only once it can go out: a rejected frame lights no send indicator.
    emit voiceDataSent(m_inputVolume);
    m_transport.sendDatagram(datagram);
    return true;
}

void VoiceClient::sendEncodedAudio(const std::vector<std::uint8_t>& audio) {
    transmitVoiceFrame(audio);
}

qint32 VoiceClient::currentFrequency() const {
    const auto it = m_radios.constFind(m_currentTransmitter);
    return it == m_radios.constEnd() ? -1 : it->frequency;
}

QByteArray VoiceClient::channelData(const RadioChannel& radio) {
    return QByteArray::number(radio.frequency) + (radio.receive ? ":1" : ":0");
}

void VoiceClient::setConnectionState(ConnectionState state) {
    if (state != ConnectionState::Connected) {
        m_welcomeTimer.stop();
    }
    if (state == m_state) {
        return;
    }
    m_state = state;
    emit connectionStateChanged(state);
}

void VoiceClient::setIdentity(const QByteArray& callsign) {
    m_callsign = callsign;
    m_transport.setCallsign(callsign.toStdString());
}

void VoiceClient::rebuildFrequencyIndex() {
    // Only receiving radios play; on a frequency tuned twice the lower id wins,
    // the same in every run.
    QList<qint32> ids = m_radios.keys();
    std::sort(ids.begin(), ids.end());
    m_frequencyIndex.clear();
    for (const qint32 id : std::as_const(ids)) {
        const RadioChannel& radio = *m_radios.constFind(id);
        if (radio.frequency != 0 && radio.receive && !m_frequencyIndex.contains(radio.frequency)) {
            m_frequencyIndex.insert(radio.frequency, id);
        }
    }
    // A frequency no longer heard has no speaker to clash with.
    m_lastSpeakers.removeIf(
        [this](decltype(m_lastSpeakers)::iterator it) { return !m_frequencyIndex.contains(it.key()); });
}

ControlMessage VoiceClient::ownMessage(ControlMessageType type, qint32 transmitter, std::string data) const {
    ControlMessage message;
    message.type = type;
    message.cid = static_cast<std::int32_t>(m_cid);
    message.callsign = m_callsign.toStdString();
    message.transmitter = transmitter;
    message.data = std::move(data);
    return message;
}

void VoiceClient::announceChannel(const RadioChannel& radio) {
    m_transport.sendControlMessage(
        ownMessage(ControlMessageType::Channel, radio.id, channelData(radio).toStdString()));
}

} // namespace velk::voice
