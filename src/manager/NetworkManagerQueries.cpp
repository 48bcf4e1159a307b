// Client queries: answers to what the server and other clients ask, the
// responses to our own queries, and the query operations of the tables.
#include "manager/NetworkManager.h"

#include "AppConfig.h"
#include "common/AppVersion.h"
#include "model/AircraftConfig.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSysInfo>

namespace velk::manager {

using fsd::ClientQueryType;

namespace {

const QString kServer = QStringLiteral("SERVER");
const QString kBroadcastRecipient = QStringLiteral("@94386");
constexpr double kFeetPerMetre = 3.28084;

const QStringList& capabilities() {
    static const QStringList list{QStringLiteral("VERSION=1"), QStringLiteral("ATCINFO=1"),
                                  QStringLiteral("MODELDESC=1"), QStringLiteral("ACCONFIG=1"),
                                  QStringLiteral("VISUPDATE=1")};
    return list;
}

// A callsign typed on the dashboard or in the simulator becomes one FSD field.
bool isUsableTarget(const QString& callsign) {
    if (callsign.trimmed().isEmpty() || callsign.contains(QLatin1Char(':'))) {
        qWarning() << "Query not sent: invalid callsign" << callsign;
        return false;
    }
    return true;
}

QString simulatorName(const simulator::Simulator* sim) {
    if (!sim) {
        return QStringLiteral("Observer");
    }
    switch (sim->simulatorGeneration()) {
    case 1:
        return QStringLiteral("MFS2020");
    case 2:
        return QStringLiteral("MFS2024");
    case 3:
        return QStringLiteral("XPlane10");
    case 4:
        return QStringLiteral("XPlane11");
    case 5:
        return QStringLiteral("XPlane12");
    default:
        return QStringLiteral("Unknown");
    }
}

} // namespace

// --- Query operations --------------------------------------------------------

void NetworkManager::requestCapabilities(QString callsign) {
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, callsign, ClientQueryType::Capabilities, {})
             .serialize());
}

void NetworkManager::sendCapabilities(QString callsign) {
    send(fsd::pdu::ClientQueryResponse(m_connectInfo.callsign, callsign, ClientQueryType::Capabilities,
                                       capabilities())
             .serialize());
}

void NetworkManager::requestRealName(QString callsign) {
    if (!isUsableTarget(callsign)) {
        return;
    }
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, callsign, ClientQueryType::RealName, {}).serialize());
}

void NetworkManager::requestControllerAtis(QString callsign) {
    if (!isUsableTarget(callsign)) {
        return;
    }
    m_atisLines[callsign.trimmed().toUpper()] = QStringList();
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, callsign, ClientQueryType::ATIS, {}).serialize());
}

void NetworkManager::requestIsValidAtc(QString callsign) {
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, kServer, ClientQueryType::IsValidATC, {callsign})
             .serialize());
}

void NetworkManager::requestAircraftConfiguration(QString callsign) {
    model::AircraftConfigMessage message;
    message.requestFull = true;
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, callsign, ClientQueryType::AircraftConfiguration,
                               {message.toJson()})
             .serialize());
}

void NetworkManager::sendAircraftConfiguration(QString callsign, model::AircraftConfig config) {
    model::AircraftConfigMessage message;
    message.config = std::move(config);
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, callsign, ClientQueryType::AircraftConfiguration,
                               {message.toJson()})
             .serialize());
}

void NetworkManager::broadcastAircraftConfiguration(model::AircraftConfig config) {
    sendAircraftConfiguration(kBroadcastRecipient, std::move(config));
}

// --- Queries received ---------------------------------------------------------

void NetworkManager::onClientQueryReceived(const fsd::pdu::ClientQuery& pdu) {
    const QString& from = pdu.from;
    switch (pdu.queryType) {
    case ClientQueryType::Capabilities:
        if (from.trimmed().toUpper() != kServer) {
            emit capabilitiesRequestReceived(from);
        }
        sendCapabilities(from);
        break;
    case ClientQueryType::Com1Freq: {
        const QString mhz =
            QString::number(static_cast<double>(reportedRadios().com1Frequency) / 1000.0, 'f', 3);
        send(fsd::pdu::ClientQueryResponse(m_connectInfo.callsign, from, ClientQueryType::Com1Freq, {mhz})
                 .serialize());
        break;
    }
    case ClientQueryType::RealName:
        send(fsd::pdu::ClientQueryResponse(m_connectInfo.callsign, from, ClientQueryType::RealName,
                                           {realNameWithHomeAirport(), QStringLiteral("1")})
                 .serialize());
        break;
    case ClientQueryType::INF: {
        const auto& d = m_reportedData;
        const QString text =
            QStringLiteral("VELK Client %1 PID=%2 (%3) IP=%4 SYS_UID=%5 FS_VER=%6 LT=%7 LO=%8 AL=%9")
                .arg(common::appVersionString(), cid(), realNameWithHomeAirport(), m_clientIp,
                     QString::fromUtf8(QSysInfo::machineUniqueId()), simulatorName(m_simulator.get()),
                     QString::number(d.latitude, 'g', 6), QString::number(d.longitude, 'g', 6),
                     QString::number(d.altitudeMslM * kFeetPerMetre, 'g', 6));
        send(fsd::pdu::TextMessage(m_connectInfo.callsign, from, text).serialize());
        break;
    }
    case ClientQueryType::AircraftConfiguration:
        applyAircraftConfiguration(from, pdu.payload.join(QLatin1Char(':')));
        break;
    default:
        break;
    }
}

void NetworkManager::applyAircraftConfiguration(const QString& from, const QString& json) {
    const QString callsign = from.trimmed().toUpper();
    const model::AircraftConfigMessage message = model::AircraftConfigMessage::fromJson(json);
    // A request for our configuration, or a text without a member, says
    // nothing about the sender's.
    if (!callsign.isEmpty() && message.config && !message.config->isEmpty()) {
        const model::AircraftConfig& received = *message.config;
        // Only a full configuration creates the record: an increment needs one held.
        RemoteAircraft* record = nullptr;
        if (received.isFull()) {
            record = &touchPilot(callsign);
        } else if (auto it = m_pilots.find(callsign); it != m_pilots.end()) {
            record = &*it;
        }
        if (record && record->applyConfiguration(received)) {
            record->addRequestedAt = QDateTime::currentDateTimeUtc();
            m_configurationRequested.remove(callsign);
            requestAircraftInfoIfNeeded(callsign);
            const auto it = m_pilots.constFind(callsign);
            if (m_simulator && it != m_pilots.constEnd() &&
                it->simState == RemoteAircraft::SimState::InSimulator) {
                m_simulator->updateRemoteAircraftConfig(*it);
            }
        }
    }
    emit aircraftConfigurationInfoReceived(from, json);
}

// --- Responses to our queries -------------------------------------------------

void NetworkManager::onClientQueryResponseReceived(const fsd::pdu::ClientQueryResponse& pdu) {
    const QStringList& args = pdu.payload;
    switch (pdu.queryType) {
    case ClientQueryType::IsValidATC:
        if (args.size() >= 2 && args.at(0).toUpper() == QLatin1String("Y")) {
            emit isValidAtcReceived(args.at(1).toUpper());
        }
        break;
    case ClientQueryType::Capabilities:
        emit capabilitiesResponseReceived(pdu.from, args.join(QLatin1Char(':')));
        break;
    case ClientQueryType::RealName:
        if (!args.isEmpty()) {
            emit realNameReceived(pdu.from, args.at(0));
        }
        break;
    case ClientQueryType::ATIS:
        handleAtisResponse(pdu);
        break;
    case ClientQueryType::PublicIP:
        m_clientIp = args.value(0);
        completeLogin();
        break;
    case ClientQueryType::FlightPlan:
        handleFlightPlanResponse(pdu);
        break;
    default:
        break;
    }
}

void NetworkManager::handleAtisResponse(const fsd::pdu::ClientQueryResponse& pdu) {
    const QString key = pdu.from.trimmed().toUpper();
    auto it = m_atisLines.find(key);
    if (it == m_atisLines.end()) {
        return;
    }
    const QString kind = pdu.payload.value(0);
    if (kind == QLatin1String("T")) {
        it->append(pdu.payload.value(1));
    } else if (kind == QLatin1String("Z")) {
        it->append(QStringLiteral("Estimated logoff time: %1").arg(pdu.payload.value(1)));
    } else if (kind == QLatin1String("E")) {
        const QStringList lines = *it;
        m_atisLines.erase(it);
        emit controllerAtisReceived(key, lines);
        if (m_simulator) {
            m_simulator->showNotification(key + QStringLiteral(" ATIS:"), 0xffa500);
            for (const QString& line : lines) {
                m_simulator->showNotification(line, 0xffa500);
            }
        }
    }
}

void NetworkManager::handleFlightPlanResponse(const fsd::pdu::ClientQueryResponse& pdu) {
    static const QRegularExpression callsignPattern(QStringLiteral("^[A-Z0-9_]{2,12}$"));
    const QStringList& args = pdu.payload;
    const QString payload = args.join(QLatin1Char(':'));

    QString callsign;
    const QString from = pdu.from.trimmed();
    if (from.isEmpty() || from.toUpper() == kServer) {
        static const QStringList callsignKeys{QStringLiteral("CALLSIGN"), QStringLiteral("CID"),
                                              QStringLiteral("PILOT"), QStringLiteral("FROM")};
        bool keyed = false;
        for (const QString& arg : args) {
            const auto [key, value] = splitKeyValue(arg);
            if (callsignKeys.contains(key)) {
                callsign = value.trimmed().toUpper();
                keyed = true;
                break;
            }
        }
        if (!keyed && !args.isEmpty()) {
            const QString first = args.at(0).trimmed().toUpper();
            if (callsignPattern.match(first).hasMatch()) {
                callsign = first;
            }
        }
    } else {
        callsign = from.toUpper();
    }

    QString type;
    static const QStringList typeKeys{QStringLiteral("AIRCRAFT"),  QStringLiteral("AIRCRAFTTYPE"),
                                      QStringLiteral("EQUIPMENT"), QStringLiteral("AIRCRAFT_TYPE"),
                                      QStringLiteral("TYPE"),      QStringLiteral("ACFT")};
    for (const QString& arg : args) {
        const auto [key, value] = splitKeyValue(arg);
        if (typeKeys.contains(key)) {
            type = extractTypeFromFlightPlanAircraft(value);
            if (!type.isEmpty()) {
                break;
            }
        }
    }
    if (type.isEmpty() && args.size() >= 2) {
        type = extractTypeFromFlightPlanAircraft(args.at(1));
    }

    if (callsign.isEmpty() || type.isEmpty()) {
        qInfo().noquote()
            << QStringLiteral("FlightPlan response ignored: from=%1 payload=%2").arg(pdu.from, payload);
        return;
    }

    applyFlightPlanType(callsign, type, [&](const QString& typeCode) {
        qInfo().noquote() << QStringLiteral("FlightPlan response applied: callsign=%1 typeCode=%2 payload=%3")
                                 .arg(callsign, typeCode, payload);
    });
}

void NetworkManager::onPingReceived(const fsd::pdu::Ping& pdu) {
    send(fsd::pdu::Pong(pdu.to, pdu.from, pdu.timeStamp).serialize());
}

} // namespace velk::manager
