#include "manager/NetworkManager.h"

#include "AppConfig.h"
#include "common/Deployment.h"
#include "common/LogThrottle.h"
#include "fsd/pdu/PDUFields.h"
#include "model/MetaTypes.h"
#include "network/ApiService.h"
#include "network/SwiftAircraftIcaoService.h"

#include <QDateTime>
#include <QDebug>
#include <QPointer>
#include <QSysInfo>

namespace velk::manager {

using common::MessageType;

namespace {

constexpr quint16 kClientId = 0xBDC0;
const QString kClientName = QStringLiteral("VelkClient");
constexpr int kClientMajor = 3;
constexpr int kClientMinor = 0;
constexpr quint8 kRating = 1;

const QString kServer = QStringLiteral("SERVER");

constexpr quint64 kLoggedErrorsInFull = 10;

const char* modeText(bool observer) {
    return observer ? "observer" : "pilot";
}

} // namespace

NetworkManager::NetworkManager(QObject* parent)
    : QObject(parent), m_fsdClient(this), m_voiceClient(this), m_com1VoiceRadio{}, m_com2VoiceRadio{} {
    model::registerMetaTypes();
    m_config = AppConfig::instance();
    m_apiService = network::ApiService::instance();
    m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };

    m_com1VoiceRadio.id = 0;
    m_com1VoiceRadio.frequency = 0;
    m_com1VoiceRadio.transmit = false;
    m_com1VoiceRadio.receive = false;
    m_com1VoiceRadio.volume = 1.0f;
    m_com1VoiceRadio.speaker = false;
    m_com2VoiceRadio = m_com1VoiceRadio;
    m_com2VoiceRadio.id = 1;

    openRawLog();
    m_logFlushTimer.setInterval(1000);
    connect(&m_logFlushTimer, &QTimer::timeout, this, &NetworkManager::flushLogTimer);

    using fsd::FsdClient;
    connect(&m_fsdClient, &FsdClient::raiseNetworkError, this, &NetworkManager::onNetworkError);
    connect(&m_fsdClient, &FsdClient::raiseProtocolErrorReceived, this,
            &NetworkManager::onProtocolErrorReceived);
    connect(&m_fsdClient, &FsdClient::raiseNetworkConnected, this, &NetworkManager::onNetworkConnected);
    connect(&m_fsdClient, &FsdClient::raiseNetworkDisconnected, this, &NetworkManager::onNetworkDisconnected);
    connect(&m_fsdClient, &FsdClient::raiseServerIdentificationReceived, this,
            &NetworkManager::onServerIdentificationReceived);
    connect(&m_fsdClient, &FsdClient::raiseAddATCReceived, this, &NetworkManager::onAddATCReceived);
    connect(&m_fsdClient, &FsdClient::raiseAddPilotReceived, this, &NetworkManager::onAddPilotReceived);
    connect(&m_fsdClient, &FsdClient::raiseClientQueryReceived, this, &NetworkManager::onClientQueryReceived);
    connect(&m_fsdClient, &FsdClient::raiseClientQueryResponseReceived, this,
            &NetworkManager::onClientQueryResponseReceived);
    connect(&m_fsdClient, &FsdClient::raisePilotPositionReceived, this,
            &NetworkManager::onPilotPositionReceived);
    connect(&m_fsdClient, &FsdClient::raiseFastPilotPositionReceived, this,
            &NetworkManager::onFastPilotPositionReceived);
    connect(&m_fsdClient, &FsdClient::raiseATCPositionReceived, this, &NetworkManager::onATCPositionReceived);
    connect(&m_fsdClient, &FsdClient::raiseDeletePilotReceived, this, &NetworkManager::onDeletePilotReceived);
    connect(&m_fsdClient, &FsdClient::raiseDeleteATCReceived, this, &NetworkManager::onDeleteATCReceived);
    connect(&m_fsdClient, &FsdClient::raisePingReceived, this, &NetworkManager::onPingReceived);
    connect(&m_fsdClient, &FsdClient::raiseTextMessageReceived, this, &NetworkManager::onTextMessageReceived);
    connect(&m_fsdClient, &FsdClient::raiseRadioMessageReceived, this,
            &NetworkManager::onRadioMessageReceived);
    connect(&m_fsdClient, &FsdClient::raiseBroadcastMessageReceived, this,
            &NetworkManager::onBroadcastMessageReceived);
    connect(&m_fsdClient, &FsdClient::raisePlaneInfoRequestReceived, this,
            &NetworkManager::onPlaneInfoRequestReceived);
    connect(&m_fsdClient, &FsdClient::raisePlaneInfoResponseReceived, this,
            &NetworkManager::onPlaneInfoResponseReceived);
    connect(&m_fsdClient, &FsdClient::raiseFlightPlanReceived, this, &NetworkManager::onFlightPlanReceived);
    connect(&m_fsdClient, &FsdClient::raiseKillRequestReceived, this, &NetworkManager::onKillRequestReceived);
    connect(&m_fsdClient, &FsdClient::raiseSendFastReceived, this, &NetworkManager::onSendFastReceived);
    connect(&m_fsdClient, &FsdClient::raiseRawDataSent, this, &NetworkManager::onRawDataSent);
    connect(&m_fsdClient, &FsdClient::raiseRawDataReceived, this, &NetworkManager::onRawDataReceived);
    connect(&m_fsdClient, &FsdClient::raiseMuteReceived, this, &NetworkManager::onMuteReceived);

    connect(this, &NetworkManager::notificationPosted, this, &NetworkManager::showNotificationInSimulator);

    connect(&m_positionTimer, &QTimer::timeout, this, &NetworkManager::onPositionTimer);
    connect(&m_fastPositionTimer, &QTimer::timeout, this, &NetworkManager::onFastPositionTimer);
    m_fastPositionTimer.setInterval(200);
    m_dataWatchdogTimer.setInterval(500);
    connect(&m_dataWatchdogTimer, &QTimer::timeout, this, &NetworkManager::checkSimulatorDataStale);
    m_pilotExpiryTimer.setInterval(10000);
    connect(&m_pilotExpiryTimer, &QTimer::timeout, this, &NetworkManager::expireStalePilots);
    m_identificationTimer.setSingleShot(true);
    m_identificationTimer.setInterval(ServerIdentificationTimeoutMs);
    connect(&m_identificationTimer, &QTimer::timeout, this, &NetworkManager::onServerIdentificationTimeout);

    connect(&m_voiceClient, &voice::VoiceClient::connectionStateChanged, this,
            &NetworkManager::onVoiceConnectionStateChanged);

    m_voiceClient.applyRadioStack(m_com1VoiceRadio);
    m_voiceClient.applyRadioStack(m_com2VoiceRadio);
}

NetworkManager::~NetworkManager() {
    disconnectSimulatorSignals();
    // The members are torn down after this body; none of their last signals
    // may reach a half-destroyed session.
    disconnect(&m_fsdClient, nullptr, this, nullptr);
    disconnect(&m_voiceClient, nullptr, this, nullptr);
    stopSessionTimers();
    m_dataWatchdogTimer.stop();
    m_logFlushTimer.stop();
    m_pilotExpiryTimer.stop();
    if (m_rawLogFile.isOpen()) {
        m_rawLogStream.flush();
        m_rawLogFile.close();
    }
}

void NetworkManager::setClock(std::function<qint64()> clock) {
    m_clock = clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); };
}

qint64 NetworkManager::now() const {
    return m_clock();
}

bool NetworkManager::sessionExists() const {
    return m_sessionState != Idle || m_fsdClient.isConnected();
}

bool NetworkManager::send(const QString& line) {
    return m_fsdClient.isConnected() && m_fsdClient.sendData(line);
}

QString NetworkManager::cid() const {
    // Without "记住密码" nothing is stored: the name signed in with this session.
    const QString stored = m_config->value(ConfigKeys::AuthUsername).trimmed();
    return stored.isEmpty() ? m_apiService->signedInName() : stored;
}

// --- Names -------------------------------------------------------------------

bool NetworkManager::validateCallsign(const QString& callsign) {
    return fsd::pdu::isValidCallsign(callsign);
}

std::pair<QString, QString> NetworkManager::splitKeyValue(const QString& text) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        return {};
    }
    return {text.left(eq).trimmed().toUpper(), text.mid(eq + 1).trimmed()};
}

QString NetworkManager::realName() const {
    const QString profileName = m_config->value(ConfigKeys::ProfileRealname).trimmed();
    if (!profileName.isEmpty() && profileName.compare(QStringLiteral("Unknown"), Qt::CaseInsensitive) != 0) {
        return profileName;
    }
    const QString accountName = m_apiService->currentUser().username.trimmed();
    if (!accountName.isEmpty()) {
        return accountName;
    }
    const QString username = m_config->value(ConfigKeys::AuthUsername).trimmed();
    if (!username.isEmpty()) {
        return username;
    }
    return QStringLiteral("Unknown");
}

QString NetworkManager::defaultAirport() const {
    const QString airport = m_config->value(ConfigKeys::ProfileHomeAirport).trimmed().toUpper();
    if (airport.isEmpty() || airport == QLatin1String("ZZZZ")) {
        return QStringLiteral("ZBAA");
    }
    return airport;
}

QString NetworkManager::realNameWithHomeAirport() const {
    return QStringLiteral("%1 %2").arg(realName(), defaultAirport()).trimmed();
}

// --- Connecting ----------------------------------------------------------------

bool NetworkManager::connectToNetwork(QString callsign, QString typeCode, QString selcal, bool observer) {
    callsign = callsign.trimmed().toUpper();
    const auto refuse = [this](const QString& notice) {
        emit notificationPosted(notice, MessageType::Error);
        return false;
    };
    if (sessionExists()) {
        return refuse(QStringLiteral(
            "Already connected or connecting to network. Disconnect before changing callsign."));
    }
    if (callsign.isEmpty()) {
        return refuse(observer ? QStringLiteral("Callsign is required for observer mode.")
                               : QStringLiteral("Callsign and Type Code are required."));
    }
    if (!validateCallsign(callsign)) {
        return refuse(QStringLiteral("Invalid callsign. Use only A-Z, 0-9, or underscore; spaces and Chinese "
                                     "characters are not allowed."));
    }
    const QString trimmedType = typeCode.trimmed();
    if (!observer) {
        if (trimmedType.isEmpty()) {
            return refuse(QStringLiteral("Callsign and Type Code are required."));
        }
        if (!m_simulator || !m_simDataValid || m_lastSimDataMs < 1) {
            return refuse(QStringLiteral("飞行员模式连接 FSD 前，请先连接模拟器并等待有效的飞机数据。"));
        }
    }
    if (fsd::pdu::asField(cid()).trimmed().isEmpty()) {
        return refuse(QStringLiteral("无法确定登录 FSD 所用的 CID（账户名），请重新登录账户后再连接。"));
    }
    // A password login sends the password as one field: it is never sent changed.
    if (!m_config->value(ConfigKeys::AuthVatsim) &&
        !fsd::pdu::fitsInField(m_config->value(ConfigKeys::AuthPassword))) {
        return refuse(
            QStringLiteral("密码中含有冒号“:”或控制字符，无法在 FSD 登录中发送，请修改密码后再连接。"));
    }

    QString type;
    if (!trimmedType.isEmpty()) {
        const auto result = network::SwiftAircraftIcaoService::instance()->normalizeDesignator(trimmedType);
        type = result.found ? result.normalized : trimmedType.toUpper();
    }

    m_connectInfo.callsign = callsign;
    m_connectInfo.typeCode = type;
    m_connectInfo.selcalCode = selcal;
    m_connectInfo.observerMode = observer;
    m_loggedIn = false;
    m_forcedDisconnect = false;
    m_killReason.clear();
    m_sessionErrors = 0;
    m_sessionState = Connecting;
    ++m_attempt;
    restartReportedAircraft();

    if (m_rawLogFile.isOpen() && !m_logFlushTimer.isActive()) {
        m_logFlushTimer.start();
    }
    emit notificationPosted(QStringLiteral("Connecting to network..."), MessageType::Info);

    const deployment::FsdServer& server = deployment::fsdServer();
    qInfo() << "FSD connecting to" << server.host << server.port << "as" << callsign << modeText(observer);
    const bool started = m_fsdClient.connectToServer(server.host, server.port);
    if (!started) {
        m_sessionState = Idle;
        m_loggedIn = false;
        stopRawLogFlushing();
    }
    return started;
}

void NetworkManager::onNetworkConnected() {
    emit notificationPosted(QStringLiteral("Connected to network."), MessageType::Info);
    m_pilotExpiryTimer.start();
    if (!m_config->value(ConfigKeys::AuthVatsim)) {
        sendLogin(m_config->value(ConfigKeys::AuthPassword));
        return;
    }
    // A server that never identifies itself (a wrong port, a classic server)
    // must not leave the attempt hanging.
    m_awaitingIdentification = true;
    m_identificationTimer.start();
}

void NetworkManager::onServerIdentificationTimeout() {
    if (!m_awaitingIdentification) {
        return;
    }
    m_awaitingIdentification = false;
    m_identificationTimer.stop();
    if (!m_fsdClient.isConnected()) {
        return;
    }
    qWarning() << "No server identification within" << ServerIdentificationTimeoutMs << "ms; giving up";
    m_forcedDisconnect = true;
    m_killReason =
        QStringLiteral("服务器 %1 秒内未发送身份标识（$DI），请检查服务器地址与端口，或在设置中关闭"
                       "“VATSIM 协议”后重试。")
            .arg(ServerIdentificationTimeoutMs / 1000);
    m_fsdClient.disconnectFromServer();
}

void NetworkManager::onServerIdentificationReceived(const fsd::pdu::ServerIdentification& pdu) {
    qInfo() << "Server version:" << pdu.version;
    m_awaitingIdentification = false;
    m_identificationTimer.stop();
    if (m_fsdClient.isConnected()) {
        const fsd::pdu::ClientIdentification identification(
            m_connectInfo.callsign, kClientId, kClientName, kClientMajor, kClientMinor, cid(),
            QString::fromUtf8(QSysInfo::machineUniqueId()), QString());
        send(identification.serialize());
    }
    if (!m_config->value(ConfigKeys::AuthVatsim)) {
        return;
    }
    // The answer may come after this attempt ended or a new one began, or
    // after this object is gone: it is taken only by the attempt that asked.
    QPointer<NetworkManager> self(this);
    const quint64 attempt = m_attempt;
    m_apiService->getFSDToken([self, attempt](bool ok, const QString& token, const QString& error) {
        if (!self) {
            return;
        }
        if (self->m_attempt != attempt || self->m_sessionState != Connecting || self->m_loggedIn ||
            !self->m_fsdClient.isConnected()) {
            qInfo() << "FSD token answer for a login attempt that has ended is ignored";
            return;
        }
        self->onFsdTokenReceived(ok, token, error);
    });
}

void NetworkManager::onFsdTokenReceived(bool ok, const QString& token, const QString& error) {
    if (ok) {
        m_fsdToken = token;
        sendLogin(m_fsdToken);
        return;
    }
    emit notificationPosted(QStringLiteral("Network authentication error: %1").arg(error),
                            MessageType::Error);
    m_forcedDisconnect = true;
    m_killReason = error;
    m_fsdClient.disconnectFromServer();
}

void NetworkManager::sendLogin(const QString& password) {
    const bool vatsim = m_config->value(ConfigKeys::AuthVatsim);
    const auto revision = vatsim ? fsd::ProtocolRevision::VatsimAuth : fsd::ProtocolRevision::Classic;
    if (m_connectInfo.observerMode) {
        const fsd::pdu::AddATC addAtc(m_connectInfo.callsign, realName(), cid(), password, kRating, revision);
        send(addAtc.serialize());
    } else {
        const auto simulatorType =
            static_cast<fsd::SimulatorType>(m_simulator ? m_simulator->simulatorGeneration() : 0);
        const fsd::pdu::AddPilot addPilot(m_connectInfo.callsign, cid(), password, kRating, revision,
                                          simulatorType, realNameWithHomeAirport());
        send(addPilot.serialize());
    }
    const fsd::pdu::ClientQuery ipQuery(m_connectInfo.callsign, kServer, fsd::ClientQueryType::PublicIP, {});
    send(ipQuery.serialize());

    sendPosition();
    sendStoppedPosition();
    m_positionTimer.setInterval(m_connectInfo.observerMode ? 15000 : 5000);
    m_positionTimer.start();
}

void NetworkManager::completeLogin() {
    // Only a login in progress can complete; an answer arriving while the
    // session is being left changes nothing.
    if (m_loggedIn || m_sessionState != Connecting) {
        return;
    }
    m_loggedIn = true;
    m_sessionState = Connected;
    qInfo() << "FSD logged on as" << m_connectInfo.callsign << modeText(m_connectInfo.observerMode);
    // A pilot was told "Connected to network." when the connection came up.
    if (m_connectInfo.observerMode) {
        emit notificationPosted(QStringLiteral("Connected to network in observer mode."), MessageType::Info);
    }
    emit networkConnected(m_connectInfo.callsign);
    if (m_simulator) {
        m_simulator->notifyNetworkConnected(m_connectInfo.callsign, m_connectInfo.selcalCode,
                                            m_connectInfo.observerMode);
    }
}

void NetworkManager::onAddATCReceived(const fsd::pdu::AddATC& pdu) {
    if (pdu.from.trimmed().toUpper() == m_connectInfo.callsign.toUpper()) {
        completeLogin();
    }
}

void NetworkManager::onAddPilotReceived(const fsd::pdu::AddPilot& pdu) {
    if (pdu.from.trimmed().toUpper() == m_connectInfo.callsign.toUpper()) {
        completeLogin();
    }
}

// --- Leaving -------------------------------------------------------------------

void NetworkManager::stopSessionTimers() {
    m_fastPositionTimer.stop();
    m_positionTimer.stop();
    m_identificationTimer.stop();
    m_awaitingIdentification = false;
}

void NetworkManager::sendLogoffPacket() {
    if (!m_fsdClient.isConnected()) {
        return;
    }
    if (m_connectInfo.observerMode) {
        send(fsd::pdu::DeleteATC(m_connectInfo.callsign, cid()).serialize());
    } else {
        send(fsd::pdu::DeletePilot(m_connectInfo.callsign, cid()).serialize());
    }
}

void NetworkManager::disconnectFromNetwork() {
    if (!m_fsdClient.isConnected() && m_sessionState == Idle) {
        return;
    }
    m_sessionState = Disconnecting;
    sendLogoffPacket();
    m_fsdClient.disconnectFromServer();
}

void NetworkManager::onKillRequestReceived(const fsd::pdu::KillRequest& pdu) {
    m_forcedDisconnect = true;
    m_killReason = pdu.reason;
}

void NetworkManager::onSimulatorForceDisconnect(QString reason) {
    if (!sessionExists()) {
        qInfo().noquote() << "Simulator asked to leave the network while not connected; nothing to do";
        return;
    }
    m_forcedDisconnect = true;
    m_killReason = reason;
    sendLogoffPacket();
    m_fsdClient.disconnectFromServer();
}

void NetworkManager::onNetworkDisconnected() {
    if (m_sessionState == Idle) {
        // Already ended (for example by an error before the connection was up).
        return;
    }
    stopSessionTimers();

    if (!m_forcedDisconnect && m_fsdClient.lostUnacknowledged()) {
        // The pilot did not leave: the network path died under the session.
        m_forcedDisconnect = true;
        m_killReason = QStringLiteral("已发送的数据 %1 秒内未得到服务器确认，网络连接已中断。")
                           .arg(QString::number(m_fsdClient.unacknowledgedTimeout() / 1000.0));
    }
    if (!m_forcedDisconnect) {
        if (m_sessionState == Disconnecting) {
            qInfo() << "FSD session ended: the pilot disconnected";
        } else {
            qWarning() << "FSD session ended: the connection was closed";
        }
        emit notificationPosted(QStringLiteral("Disconnected from network."), MessageType::Info);
    } else {
        qWarning() << "FSD session ended by force:" << maskSecrets(m_killReason);
        emit notificationPosted(m_killReason.isEmpty()
                                    ? QStringLiteral("Forcibly disconnected from network.")
                                    : QStringLiteral("Forcibly disconnected from network: ") + m_killReason,
                                MessageType::Error);
    }

    if (m_simulator) {
        m_simulator->notifyNetworkDisconnected();
        m_simulator->removeAllRemoteAircraft();
        m_simulator->clearControllerList();
    }
    emit networkDisconnected(m_forcedDisconnect);

    resetSessionTables();
    m_voiceClient.disconnectFromServer();

    m_forcedDisconnect = false;
    m_loggedIn = false;
    m_sessionState = Idle;
    m_killReason.clear();
    stopRawLogFlushing();
}

void NetworkManager::onNetworkError(QString error) {
    emit notificationPosted(error, MessageType::Error);
    if (m_fsdClient.isConnected() || m_sessionState == Idle) {
        // Every error reaches the server log; the run log takes the first
        // few and then every thousandth.
        if (common::worthWarning(++m_sessionErrors, kLoggedErrorsInFull)) {
            // Masked before it is cut, so that no part of a secret is left.
            qWarning().nospace() << "FSD error " << m_sessionErrors
                                 << " of this session: " << common::logExcerpt(maskSecrets(error));
        }
        return;
    }
    qWarning() << "FSD connection attempt failed:" << error;
    // The attempt failed before a connection existed.
    stopSessionTimers();
    stopRawLogFlushing();
    resetSessionTables();
    m_forcedDisconnect = false;
    m_loggedIn = false;
    m_killReason.clear();
    m_sessionState = Idle;
    emit networkDisconnected(false);
}

void NetworkManager::onProtocolErrorReceived(const fsd::pdu::ProtocolError& pdu) {
    if (pdu.errorCode == 8) {
        const QString callsign = pdu.parameter.trimmed().toUpper();
        if (!callsign.isEmpty()) {
            m_pilotInfoRequested.remove(callsign);
        }
        qInfo().noquote() << QStringLiteral("No flight plan available for %1").arg(callsign);
        return;
    }
    emit notificationPosted(QStringLiteral("Network Error: %1").arg(pdu.message), MessageType::Error);
}

void NetworkManager::onMuteReceived(const fsd::pdu::Mute& pdu) {
    emit muteReceived(pdu.mute);
}

void NetworkManager::resetSessionTables() {
    m_pilotExpiryTimer.stop();
    m_pilotCapWarned = false;
    m_pilots.clear();
    m_pilotInfoRequested.clear();
    m_configurationRequested.clear();
    m_flightPlanRequested.clear();
    m_atisLines.clear();
}

} // namespace velk::manager
