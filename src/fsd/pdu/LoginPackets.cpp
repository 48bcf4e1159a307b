#include "fsd/pdu/LoginPackets.h"

namespace velk::fsd::pdu {

namespace {

const QString kServer = QStringLiteral("SERVER");

// "#DP" and "#DA": callsign[:cid]; only the callsign is needed on receipt.
template <class Delete> Delete readDelete(const Fields& fields) {
    Delete pdu;
    pdu.from = field::nonEmpty(fields, 0, "callsign");
    if (fields.size() > 1) {
        pdu.cid = fields[1].toString();
    }
    return pdu;
}

template <class Delete> QString writeDelete(const Delete& pdu) {
    return PacketWriter(Delete::kPrefix).text(pdu.from).text(pdu.cid).finish();
}

} // namespace

ClientIdentification::ClientIdentification(QString callsign, quint16 clientId, QString clientName,
                                           int majorVersion, int minorVersion, QString cid, QString sysUid,
                                           QString initialChallenge)
    : from(std::move(callsign)), to(kServer), clientId(clientId), clientName(std::move(clientName)),
      majorVersion(majorVersion), minorVersion(minorVersion), cid(std::move(cid)), sysUid(std::move(sysUid)),
      initialChallenge(std::move(initialChallenge)) {}

ClientIdentification ClientIdentification::fromTokens(const Fields& fields) {
    field::requireCount(fields, 8);
    ClientIdentification pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.clientId = field::toUInt16(fields[2], "client id", 16);
    pdu.clientName = fields[3].toString();
    pdu.majorVersion = field::toInt32(fields[4], "major version");
    pdu.minorVersion = field::toInt32(fields[5], "minor version");
    pdu.cid = fields[6].toString();
    pdu.sysUid = fields[7].toString();
    if (fields.size() > 8) {
        pdu.initialChallenge = fields[8].toString();
    }
    return pdu;
}

QString ClientIdentification::serialize() const {
    PacketWriter writer(kPrefix);
    writer.text(from)
        .text(to)
        .text(QString::number(clientId, 16))
        .text(clientName)
        .number(majorVersion)
        .number(minorVersion)
        .text(cid)
        .text(sysUid);
    if (!initialChallenge.isEmpty()) {
        writer.text(initialChallenge);
    }
    return writer.finish();
}

ServerIdentification::ServerIdentification(QString from, QString to, QString version,
                                           QString initialChallenge)
    : from(std::move(from)), to(std::move(to)), version(std::move(version)),
      initialChallenge(std::move(initialChallenge)) {}

ServerIdentification ServerIdentification::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    ServerIdentification pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.version = fields[2].toString();
    if (fields.size() > 3) {
        pdu.initialChallenge = fields[3].toString();
    }
    return pdu;
}

QString ServerIdentification::serialize() const {
    PacketWriter writer(kPrefix);
    writer.text(from).text(to).text(version);
    if (!initialChallenge.isEmpty()) {
        writer.text(initialChallenge);
    }
    return writer.finish();
}

AddPilot::AddPilot(QString callsign, QString cid, QString password, quint8 rating,
                   ProtocolRevision protocolRevision, SimulatorType simulatorType, QString realName)
    : from(std::move(callsign)), to(kServer), cid(std::move(cid)), password(std::move(password)),
      rating(rating), protocolRevision(protocolRevision), simulatorType(simulatorType),
      realName(std::move(realName)) {}

AddPilot AddPilot::fromTokens(const Fields& fields) {
    field::requireCount(fields, 8);
    AddPilot pdu;
    pdu.from = field::nonEmpty(fields, 0, "callsign");
    pdu.to = fields[1].toString();
    pdu.cid = fields[2].toString();
    pdu.password = fields[3].toString();
    pdu.rating = field::toUInt8(fields[4], "rating");
    pdu.protocolRevision = static_cast<ProtocolRevision>(field::toUInt8(fields[5], "protocol revision"));
    pdu.simulatorType = static_cast<SimulatorType>(field::toUInt8(fields[6], "simulator type"));
    pdu.realName = field::joinFrom(fields, 7);
    return pdu;
}

QString AddPilot::serialize() const {
    return PacketWriter(kPrefix)
        .text(from)
        .text(to)
        .text(cid)
        .text(password)
        .unsignedNumber(rating)
        .unsignedNumber(static_cast<quint8>(protocolRevision))
        .unsignedNumber(static_cast<quint8>(simulatorType))
        .text(realName)
        .finish();
}

AddATC::AddATC(QString callsign, QString realName, QString cid, QString password, quint8 rating,
               ProtocolRevision protocolRevision)
    : from(std::move(callsign)), to(kServer), realName(std::move(realName)), cid(std::move(cid)),
      password(std::move(password)), rating(rating), protocolRevision(protocolRevision) {}

AddATC AddATC::fromTokens(const Fields& fields) {
    field::requireCount(fields, 7);
    AddATC pdu;
    pdu.from = field::nonEmpty(fields, 0, "callsign");
    pdu.to = fields[1].toString();
    pdu.realName = fields[2].toString();
    pdu.cid = fields[3].toString();
    pdu.password = fields[4].toString();
    pdu.rating = field::toUInt8(fields[5], "rating");
    pdu.protocolRevision = static_cast<ProtocolRevision>(field::toUInt8(fields[6], "protocol revision"));
    return pdu;
}

QString AddATC::serialize() const {
    return PacketWriter(kPrefix)
        .text(from)
        .text(to)
        .text(realName)
        .text(cid)
        .text(password)
        .unsignedNumber(rating)
        .unsignedNumber(static_cast<quint8>(protocolRevision))
        .finish();
}

DeletePilot::DeletePilot(QString callsign, QString cid) : from(std::move(callsign)), cid(std::move(cid)) {}

DeletePilot DeletePilot::fromTokens(const Fields& fields) {
    return readDelete<DeletePilot>(fields);
}

QString DeletePilot::serialize() const {
    return writeDelete(*this);
}

DeleteATC::DeleteATC(QString callsign, QString cid) : from(std::move(callsign)), cid(std::move(cid)) {}

DeleteATC DeleteATC::fromTokens(const Fields& fields) {
    return readDelete<DeleteATC>(fields);
}

QString DeleteATC::serialize() const {
    return writeDelete(*this);
}

} // namespace velk::fsd::pdu
