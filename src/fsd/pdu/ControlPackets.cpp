#include "fsd/pdu/ControlPackets.h"

namespace velk::fsd::pdu {

KillRequest::KillRequest(QString from, QString to, QString reason)
    : from(std::move(from)), to(std::move(to)), reason(std::move(reason)) {}

KillRequest KillRequest::fromTokens(const Fields& fields) {
    field::requireCount(fields, 2);
    KillRequest pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.reason = field::joinFrom(fields, 2);
    return pdu;
}

QString KillRequest::serialize() const {
    return PacketWriter(kPrefix).text(from).text(to).freeText(reason).finish();
}

ProtocolError::ProtocolError(QString from, QString to, int errorCode, QString parameter, QString message)
    : from(std::move(from)), to(std::move(to)), errorCode(errorCode), parameter(std::move(parameter)),
      message(std::move(message)) {}

ProtocolError ProtocolError::fromTokens(const Fields& fields) {
    field::requireCount(fields, 5);
    ProtocolError pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.errorCode = field::toInt32(fields[2], "error code");
    pdu.parameter = fields[3].toString();
    pdu.message = field::joinFrom(fields, 4);
    return pdu;
}

QString ProtocolError::serialize() const {
    return PacketWriter(kPrefix)
        .text(from)
        .text(to)
        .number(errorCode)
        .text(parameter)
        .freeText(message)
        .finish();
}

Mute::Mute(QString from, QString to, bool mute) : from(std::move(from)), to(std::move(to)), mute(mute) {}

Mute Mute::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    Mute pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.mute = field::toInt32(fields[2], "mute flag") != 0;
    return pdu;
}

QString Mute::serialize() const {
    return PacketWriter(kPrefix).text(from).text(to).text(mute ? u"1" : u"0").finish();
}

} // namespace velk::fsd::pdu
