#include "simulator/xplane/XPlaneAdapter.h"

#include "AppConfig.h"
#include "simulator/xplane/DatarefLink.h"
#include "simulator/xplane/PluginChannel.h"

#include <QDateTime>
#include <QDebug>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

namespace velk::simulator::xplane {

namespace {

constexpr qint64 kStaleSeconds = 15;
constexpr qint64 kLostSeconds = 16;
constexpr double kFeetPerMetre = 3.28084;
constexpr int kWatchdogMs = 1000;
constexpr int kPublishMs = 50;
constexpr int kOpenChannelDelayMs = 500;
constexpr int kMaxPendingPluginMessages = 1000;

const QString kPathTransponderCode = QStringLiteral("sim/cockpit/radios/transponder_code");
const QString kPathTransponderMode = QStringLiteral("sim/cockpit/radios/transponder_mode");
const QString kPathCom1 = QStringLiteral("sim/cockpit2/radios/actuators/com1_frequency_hz_833");
const QString kPathCom2 = QStringLiteral("sim/cockpit2/radios/actuators/com2_frequency_hz_833");
const QString kCmdIdent = QStringLiteral("sim/transponder/transponder_ident");
const QString kCmdModeC = QStringLiteral("sim/transponder/transponder_alt");
const QString kCmdStandby = QStringLiteral("sim/transponder/transponder_standby");

} // namespace

XPlaneAdapter::XPlaneAdapter() : XPlaneAdapter(Options{}) {}

XPlaneAdapter::XPlaneAdapter(Options options) : m_options(std::move(options)) {
    m_config = AppConfig::instance();
    m_lastDataTime = now() - kStaleSeconds;

    m_udp = new QUdpSocket(this);
    applyTargetAddress();
    connect(m_udp, &QUdpSocket::readyRead, this, &XPlaneAdapter::readPendingDatagrams);

    m_channel = makeChannel();

    m_watchdog.setInterval(kWatchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, &XPlaneAdapter::checkConnection);
    m_connectTimeout.setSingleShot(true);
    m_connectTimeout.setInterval(m_options.connectTimeoutMs);
    connect(&m_connectTimeout, &QTimer::timeout, this, &XPlaneAdapter::onConnectTimeout);
    m_publisher.setInterval(kPublishMs);
    connect(&m_publisher, &QTimer::timeout, this, &XPlaneAdapter::publishSimState);

    if (m_options.startTimers) {
        QTimer::singleShot(kOpenChannelDelayMs, this, &XPlaneAdapter::openNngSocket);
        m_watchdog.start();
        m_publisher.start();
    }
}

XPlaneAdapter::~XPlaneAdapter() {
    m_watchdog.stop();
    m_publisher.stop();
    m_connectTimeout.stop();
    m_udp->close();
    retireChannel();
}

qint64 XPlaneAdapter::now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentSecsSinceEpoch();
}

quint16 XPlaneAdapter::udpLocalPort() const {
    return m_udp->localPort();
}

QHostAddress XPlaneAdapter::targetAddressFor(const QString& configured) {
    const QString text = configured.trimmed();
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    QHostAddress address;
    if (!address.setAddress(text)) {
        return QHostAddress();
    }
    return address;
}

QString XPlaneAdapter::pluginUrlFor(const QString& configured, const QString& ipcUrl, quint16 tcpPort) {
    const QString text = configured.trimmed();
    const QString lower = text.toLower();
    if (text.isEmpty() || lower == QLatin1String("127.0.0.1") || lower == QLatin1String("localhost")) {
        return ipcUrl;
    }
    // An IPv6 literal is bracketed in a URL.
    const bool ipv6 = QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
    const QString host = ipv6 ? QStringLiteral("[%1]").arg(text) : text;
    return QStringLiteral("tcp://%1:%2").arg(host).arg(tcpPort);
}

// ---- UDP dataref link -------------------------------------------------------

// The address may have been changed in the settings since the last attempt.
void XPlaneAdapter::applyTargetAddress() {
    const QString configured = m_config->value(ConfigKeys::XPlaneNetworkAddress);
    m_target = targetAddressFor(configured);
    if (m_target.isNull()) {
        qWarning() << "X-Plane address is not an IP address, nothing can be sent:" << configured.trimmed();
    }
    // The socket's family follows the target's: an IPv4 socket cannot reach an IPv6 address.
    const bool ipv6 = m_target.protocol() == QAbstractSocket::IPv6Protocol;
    const QHostAddress any(ipv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4);
    if (m_udp->state() == QAbstractSocket::BoundState && m_udp->localAddress().protocol() == any.protocol()) {
        return;
    }
    m_udp->close();
    if (!m_udp->bind(any, 0)) {
        qWarning() << "X-Plane UDP socket could not be bound:" << m_udp->errorString();
    }
}

void XPlaneAdapter::sendDatagram(const QByteArray& datagram) {
    const int port = m_config->value(ConfigKeys::XPlaneUDPPort);
    if (port <= 0 || port > std::numeric_limits<quint16>::max()) {
        qWarning() << "X-Plane UDP port out of range, nothing sent:" << port;
        return;
    }
    m_udp->writeDatagram(datagram, m_target, static_cast<quint16>(port));
}

void XPlaneAdapter::subscribeDataref(const QString& path, int index, int rate) {
    if (m_subscribedDatarefs.contains(path)) {
        return;
    }
    sendDatagram(buildRrefRequest(path.toLatin1(), index, rate));
    if (m_simConnected) {
        m_subscribedDatarefs.append(path);
    }
}

void XPlaneAdapter::subscribeDatarefs() {
    const auto& table = datarefSubscriptions();
    for (qint32 i = 0; i < kDatarefCount; ++i) {
        subscribeDataref(QString::fromLatin1(table[i].path), i, table[i].rate);
    }
}

void XPlaneAdapter::writeDataref(const QString& path, float value) {
    sendDatagram(buildDrefPacket(path.toLatin1(), value));
}

void XPlaneAdapter::sendCommand(const QString& path) {
    sendDatagram(buildCmndPacket(path.toLatin1()));
}

void XPlaneAdapter::readPendingDatagrams() {
    // Drain everything: one read per readyRead would let datagrams pile up.
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        if (!datagram.senderAddress().isEqual(m_target)) {
            continue;
        }
        const QByteArray bytes = datagram.data();
        if (!isRrefReply(bytes)) {
            continue;
        }
        m_lastDataTime = now();
        m_dataSinceAttempt = true;
        m_replySincePublish = true;
        forEachRrefPair(bytes, [this](qint32 index, float value) {
            if (index < 0 || index >= kDatarefCount) {
                return;
            }
            if (applyDatarefValue(index, value, m_userAircraftData, m_userAircraftConfigData,
                                  m_radioStackState)) {
                return;
            }
            if (index == kPausedIndex) {
                const bool paused = value != 0.0f;
                if (paused != m_simPaused) {
                    m_simPaused = paused;
                    emit simPausedStateChanged(paused);
                }
            } else if (index == kVersionIndex) {
                // Compared as the integer it becomes; 0, negative or unreadable values are ignored.
                const auto version = integerFrom<qint32>(value);
                if (version && *version > 0 && *version != m_xplaneVersion) {
                    m_xplaneVersion = *version;
                    emit xplaneVersionUpdated(*version);
                }
            } else if (index == kReplayModeIndex && value > 0.0f) {
                emit replayModeDetected();
            }
        });
    }
}

float XPlaneAdapter::normalizeFrequencyKhz(float freq) {
    if (!(freq > 0.0f)) {
        return 0.0f;
    }
    return freq > 1000.0f ? freq : freq * 1000.0f;
}

void XPlaneAdapter::setTransponderCode(int code) {
    writeDataref(kPathTransponderCode, static_cast<float>(code));
}

void XPlaneAdapter::setCom1Frequency(float freq) {
    writeDataref(kPathCom1, normalizeFrequencyKhz(freq));
}

void XPlaneAdapter::setCom2Frequency(float freq) {
    writeDataref(kPathCom2, normalizeFrequencyKhz(freq));
}

void XPlaneAdapter::transponderIdent() {
    sendCommand(kCmdIdent);
}

void XPlaneAdapter::transponderModeToggle() {
    if (!m_radioStackState.squawkingModeC) {
        writeDataref(kPathTransponderMode, 3.0f);
        sendCommand(kCmdModeC);
    } else {
        writeDataref(kPathTransponderMode, 1.0f);
        sendCommand(kCmdStandby);
    }
}

// ---- Altitudes and generation -----------------------------------------------

int XPlaneAdapter::simulatorGeneration() const {
    if (m_xplaneVersion >= 120000) {
        return static_cast<int>(SimulatorGeneration::XPlane12);
    }
    if (m_xplaneVersion >= 110000) {
        return static_cast<int>(SimulatorGeneration::XPlane11);
    }
    if (m_xplaneVersion >= 100000) {
        return static_cast<int>(SimulatorGeneration::XPlane10);
    }
    return static_cast<int>(SimulatorGeneration::Unknown);
}

double XPlaneAdapter::userAltitudeFeet() const {
    double feet = m_userAircraftData.altitudeMslM * kFeetPerMetre;
    if (m_xplaneVersion >= 120000) {
        feet += m_userAircraftData.temperatureError;
    }
    return feet;
}

double XPlaneAdapter::userPressureAltitudeFeet() const {
    if (m_xplaneVersion < 120000) {
        return m_userAircraftData.altitudeMslM * kFeetPerMetre + (1013.25 - m_userAircraftData.qnh) * 30.0;
    }
    return m_userAircraftData.altitudePressure;
}

double XPlaneAdapter::adjustRemoteAltitude(double altitudeFeet) const {
    if (m_xplaneVersion < 120000) {
        return altitudeFeet;
    }
    const double error = m_userAircraftData.temperatureError;
    const double own = m_userAircraftData.altitudeMslM * kFeetPerMetre + error;
    const double d = std::fabs(own - altitudeFeet);
    if (d > 6000.0) {
        return altitudeFeet;
    }
    const double factor = d <= 3000.0 ? 1.0 : 1.0 - (d - 3000.0) / 3000.0;
    return altitudeFeet - error * factor;
}

// ---- Lifecycle --------------------------------------------------------------

void XPlaneAdapter::reconnectSimulator() {
    m_connectTimeout.stop();
    if (m_simConnected) {
        emit simConnectionStateChanged(false);
        m_simConnected = false;
        m_versionReplyReceived = false;
        m_subscribedDatarefs.clear();
    }
    m_connectWanted = true;
    m_attemptInProgress = false;
    if (m_nngReady) {
        tryConnect();
    }
}

void XPlaneAdapter::tryConnect() {
    if (!m_connectWanted) {
        return;
    }
    if (m_simConnected) {
        m_connectWanted = false;
        m_attemptInProgress = false;
        m_connectTimeout.stop();
        return;
    }
    if (m_attemptInProgress) {
        return;
    }
    m_attemptInProgress = true;
    applyTargetAddress();
    if (m_nngReady) {
        replaceChannelIfUnusable();
    }
    qInfo().noquote() << "X-Plane connection attempt to" << m_target.toString();

    m_versionReplyReceived = false;
    m_pluginVersionValid = true;
    m_cslValid = true;
    m_dataSinceAttempt = false;
    m_lastDataTime = now() - kStaleSeconds;
    m_subscribedDatarefs.clear();

    subscribeDatarefs();
    sendRequest(encodeVersionRequest());
    validateCslPaths(m_config->value(ConfigKeys::XPlaneCSL));
    m_connectTimeout.start(m_options.connectTimeoutMs);
}

void XPlaneAdapter::checkConnection() {
    const qint64 age = now() - m_lastDataTime;
    if (!m_simConnected) {
        if (m_connectWanted && m_attemptInProgress && m_versionReplyReceived && m_pluginVersionValid &&
            m_cslValid && m_dataSinceAttempt && age <= kStaleSeconds) {
            emit simConnectionStateChanged(true);
            m_simConnected = true;
            m_connectWanted = false;
            m_attemptInProgress = false;
            m_connectTimeout.stop();
        }
        return;
    }
    if (age >= kLostSeconds) {
        m_userAircraftData = {};
        m_userAircraftConfigData = {};
        m_radioStackState = {};
        emit simConnectionStateChanged(false);
        m_simConnected = false;
        m_versionReplyReceived = false;
        m_subscribedDatarefs.clear();
        // What was sent meanwhile may still wait on a connection nobody reads.
        if (m_nngReady) {
            startOverWithPlugin();
        }
    }
}

void XPlaneAdapter::onConnectTimeout() {
    if (!m_connectWanted || m_simConnected) {
        return;
    }
    m_connectWanted = false;
    m_attemptInProgress = false;
    m_connectTimeout.stop();
    emit simConnectionFailed(kConnectionFailedText);
}

void XPlaneAdapter::publishSimState() {
    publishUserAircraftData(std::exchange(m_replySincePublish, false));
    publishUserAircraftConfigData();
    publishRadioStackState();
}

void XPlaneAdapter::validateCslPaths(const QStringList& paths) {
    if (!paths.isEmpty()) {
        qInfo() << "Validating X-Plane CSL paths:" << paths;
        emit trafficMappingStatusChanged(QStringLiteral("X-Plane CSL 验证中：%1 个路径").arg(paths.size()));
    } else {
        qWarning() << "X-Plane CSL validation skipped because no CSL paths are configured";
        emit trafficMappingStatusChanged(QStringLiteral("X-Plane CSL 未配置"));
    }
    sendRequest(encodeCslRequest(paths));
}

// ---- Plug-in channel --------------------------------------------------------

void XPlaneAdapter::openNngSocket() {
    if (m_nngReady) {
        return;
    }
    openChannel();
    m_nngReady = true;
    if (m_connectWanted && !m_attemptInProgress) {
        tryConnect();
    }
}

// No error stops these steps: an unusable socket only means that sends fail
// and nothing is received.
void XPlaneAdapter::openChannel() {
    const int openResult = m_channel->open();
    if (openResult != 0) {
        emit nngSocketError(
            QStringLiteral("Error opening socket: %1").arg(QString::fromUtf8(nng_strerror(openResult))));
    }
    const QString address = m_config->value(ConfigKeys::XPlaneNetworkAddress);
    m_pluginUrl = pluginUrlFor(address, m_options.pluginIpcUrl, m_options.pluginTcpPort);
    const int dialResult = m_channel->dial(m_pluginUrl.toStdString());
    if (dialResult != 0) {
        const QString reason = QString::fromUtf8(nng_strerror(dialResult));
        if (m_pluginUrl == m_options.pluginIpcUrl) {
            emit nngSocketError(QStringLiteral("Error dialing socket: %1").arg(reason));
        } else {
            emit nngSocketError(
                QStringLiteral("Error dialing socket (%1): %2").arg(address.trimmed(), reason));
        }
    }
    // Only an open socket gets a receive thread; a failed one would spin.
    m_channel->startReceiving();
}

// The address may have been changed in the settings since the channel was
// dialled, or its plug-in went away: the attempt gets a channel of its own.
// On a socket redialled in place, what is sent while the old connection
// closes can be lost. An unchanged address is left to nng, which redials it
// in the background.
void XPlaneAdapter::replaceChannelIfUnusable() {
    const QString url = pluginUrlFor(m_config->value(ConfigKeys::XPlaneNetworkAddress),
                                     m_options.pluginIpcUrl, m_options.pluginTcpPort);
    if (url == m_pluginUrl && !m_channel->isSpent()) {
        return;
    }
    replaceChannel();
}

void XPlaneAdapter::replaceChannel() {
    retireChannel();
    m_channel = makeChannel();
    openChannel();
}

void XPlaneAdapter::retireChannel() {
    // First: a receive thread held back until this thread takes its messages
    // lets go, so that the close does not wait for this thread.
    ++m_liveChannel;
    m_channel->close();
}

// Nothing queued for a plug-in that went away or fell silent reaches the
// next one, which is asked its version first.
void XPlaneAdapter::startOverWithPlugin() {
    replaceChannel();
    sendRequest(encodeVersionRequest());
}

std::unique_ptr<PluginChannel> XPlaneAdapter::makeChannel() {
    const quint64 channel = ++m_liveChannel;
    auto onMessage = [this, channel](PluginMessage m) { postFromReceiveThread(channel, std::move(m)); };
    // On an nng thread; what a retired channel tells is ignored. A plug-in
    // that attaches holds no aircraft yet, whatever the last one was given:
    // it is told so before any traffic reaches it.
    auto onPeer = [this, channel](bool attached) {
        QMetaObject::invokeMethod(
            this,
            [this, channel, attached] {
                if (channel != m_liveChannel.load()) {
                    return;
                }
                if (attached) {
                    m_channel->takePeer();
                    emit remoteAircraftCleared();
                } else {
                    startOverWithPlugin();
                }
            },
            Qt::QueuedConnection);
    };
    return std::make_unique<PluginChannel>(std::move(onMessage), std::move(onPeer));
}

bool XPlaneAdapter::isPluginAttached() const {
    return m_channel->hasPeer();
}

void XPlaneAdapter::sendMessage(const PluginMessageWriter& message) {
    const std::string_view bytes = message.bytes();
    if (bytes.size() < kMaxPluginMessageSize) {
        m_channel->send(bytes, PluginChannel::Delivery::ToAttachedPeer);
    }
}

void XPlaneAdapter::sendRequest(const PluginMessageWriter& message) {
    const std::string_view bytes = message.bytes();
    if (bytes.size() < kMaxPluginMessageSize) {
        m_channel->send(bytes, PluginChannel::Delivery::QueueForPeer);
    }
}

void XPlaneAdapter::postFromReceiveThread(quint64 channel, PluginMessage message) {
    // A plug-in that floods the channel is slowed down here rather than
    // filling this thread's event queue without bound; a retired channel's
    // thread stops waiting at once.
    const auto live = [&] { return m_liveChannel.load() == channel; };
    while (m_pendingPluginMessages.load() >= kMaxPendingPluginMessages && live()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!live()) {
        return;
    }
    ++m_pendingPluginMessages;
    // State belongs to this object's thread; the receive thread only decodes.
    QMetaObject::invokeMethod(
        this,
        [this, channel, message = std::move(message)] {
            --m_pendingPluginMessages;
            // Nothing from a channel left behind counts for the one that replaced it.
            if (channel == m_liveChannel.load()) {
                handleNngMessage(message);
            }
        },
        Qt::QueuedConnection);
}

// Messages that do not have their expected shape are dropped without a report.
void XPlaneAdapter::handleNngMessage(const PluginMessage& message) {
    try {
        const std::string& type = message.type;
        if (type == "SHUTDOWN") {
            handleShutdown();
            return;
        }
        if (type == "VER") {
            handleVersionReply(message.payload);
            return;
        }
        if (type == "CSL") {
            handleCslReply(message.payload);
            return;
        }
        const auto elements = payloadElements(message.payload);
        if (!elements) {
            return;
        }
        // A missing element reads as empty; an element of the wrong type drops the message.
        auto textAt = [&](size_t i) -> std::optional<QString> {
            return i < elements->size() ? readText((*elements)[i]) : std::optional<QString>(QString());
        };
        const auto first = textAt(0);
        if (!first) {
            return;
        }
        if (type == "FORCEDISC") {
            emit forceDisconnect(*first);
            return;
        }
        if (first->isEmpty()) {
            return;
        }
        if (type == "ADDED") {
            emit aircraftAddedToSim(*first);
        } else if (type == "DELETED") {
            emit aircraftRemovedFromSim(*first);
        } else if (type == "REQSTATION") {
            emit requestStationInfo(*first);
        } else if (type == "RDIOSENT") {
            emit radioMessageSent(*first);
        } else if (type == "PRIVSENT") {
            const auto second = textAt(1);
            if (second && !second->isEmpty()) {
                emit privateMessageSent(*first, *second);
            }
        }
    } catch (...) {
        // Nothing the plug-in sends may take the client down.
    }
}

void XPlaneAdapter::handleVersionReply(const msgpack::object& payload) {
    if (payload.type != msgpack::type::ARRAY) {
        return;
    }
    bool valid = false;
    if (payload.via.array.size > 0) {
        const auto version = readInt32(payload.via.array.ptr[0]);
        if (!version) {
            return;
        }
        valid = *version >= 0x10000;
    }
    m_pluginVersionValid = valid;
    if (!valid) {
        emit invalidPluginVersion();
    }
    emit pluginVersionChecked(valid);
    m_versionReplyReceived = true;
}

void XPlaneAdapter::handleCslReply(const msgpack::object& payload) {
    const auto elements = payloadElements(payload);
    if (!elements) {
        return;
    }
    bool valid = false;
    if (elements->size() >= 2) {
        const auto flag = readBool((*elements)[1]);
        if (!flag) {
            return;
        }
        valid = *flag;
    }
    m_cslValid = valid;
    qInfo().noquote() << "X-Plane CSL validation result:" << (valid ? "true" : "false");
    emit trafficMappingStatusChanged(valid ? QStringLiteral("X-Plane CSL 有效")
                                           : QStringLiteral("X-Plane CSL 无效"));
    emit cslValidationChecked(valid);
}

void XPlaneAdapter::handleShutdown() {
    emit simConnectionStateChanged(false);
    m_simConnected = false;
    m_versionReplyReceived = false;
    m_subscribedDatarefs.clear();
}

// ---- Operations carried by the plug-in ----------------------------------------

void XPlaneAdapter::addRemoteAircraft(const manager::RemoteAircraft& aircraft) {
    sendMessage(encodeAdd(aircraft));
}

void XPlaneAdapter::updateRemoteAircraftConfig(const manager::RemoteAircraft& aircraft) {
    sendMessage(encodeAircraftConfig(aircraft));
}

void XPlaneAdapter::removeRemoteAircraft(const QString& callsign, const QString& reason) {
    sendMessage(encodeDelete(callsign, reason));
}

void XPlaneAdapter::removeAllRemoteAircraft() {
    sendMessage(encodeDeleteAll());
}

void XPlaneAdapter::updateControllerList(const QList<model::Controller>& controllers) {
    sendMessage(encodeControllers(atcEntriesFrom(controllers)));
}

void XPlaneAdapter::clearControllerList() {
    sendMessage(encodeControllers({}));
}

void XPlaneAdapter::updateRemoteAircraftPosition(const manager::RemoteAircraft& aircraft,
                                                 const model::AircraftVisualState& state) {
    sendMessage(encodePosition(aircraft, state));
}

void XPlaneAdapter::updateRemoteAircraftFastPosition(const manager::RemoteAircraft& aircraft,
                                                     const model::AircraftVisualState& state,
                                                     const model::VelocityVector& positional,
                                                     const model::VelocityVector& rotational) {
    sendMessage(encodeFastPosition(aircraft, state, positional, rotational));
}

void XPlaneAdapter::sendHeartbeat(const QString& callsign) {
    sendMessage(encodeHeartbeat(callsign));
}

void XPlaneAdapter::notifyRadioMessageSent(const QString& message) {
    sendMessage(encodeRadioSent(message));
}

void XPlaneAdapter::notifyRadioMessageReceived(const QString& from, const QString& message, bool isDirect) {
    sendMessage(encodeRadioReceived(from, message, isDirect));
}

void XPlaneAdapter::showNotification(const QString& text, qint64 rgb) {
    sendMessage(encodeNotification(text, rgb));
}

void XPlaneAdapter::notifyPrivateMessageSent(const QString& to, const QString& message) {
    sendMessage(encodePrivateSent(to, message));
}

void XPlaneAdapter::notifyPrivateMessageReceived(const QString& from, const QString& message) {
    sendMessage(encodePrivateReceived(from, message));
}

void XPlaneAdapter::notifyNetworkConnected(const QString& callsign, const QString& selcalCode,
                                           bool observerMode) {
    sendMessage(encodeConnected(callsign, selcalCode, observerMode));
}

void XPlaneAdapter::notifyNetworkDisconnected() {
    sendMessage(encodeDisconnected());
}

void XPlaneAdapter::setStationCallsign(int radio, const QString& station) {
    sendMessage(encodeStationCallsign(radio, station));
}

void XPlaneAdapter::notifySelcal() {}

} // namespace velk::simulator::xplane
