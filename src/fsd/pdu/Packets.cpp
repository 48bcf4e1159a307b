#include "fsd/pdu/Packets.h"

#include "fsd/PDUFormatException.h"

#include <QMetaType>

namespace velk::fsd::pdu {

using exception::PDUFormatException;

namespace {

Packet decodeTextMessage(const Fields& fields) {
    // The recipient decides what the text is; check the count first so that
    // the recipient can be read.
    field::requireCount(fields, 3);
    const QStringView to = fields[1];
    if (to == u"*" || to == u"*A" || to == u"*P") {
        return BroadcastMessage::fromTokens(fields);
    }
    if (to == u"*S") {
        return Wallop::fromTokens(fields);
    }
    if (to.startsWith(u'@')) {
        return RadioMessage::fromTokens(fields);
    }
    return TextMessage::fromTokens(fields);
}

Packet decodePlaneInfo(const Fields& fields) {
    field::requireCount(fields, 3);
    const QStringView kind = fields[2];
    if (kind == u"PIR") {
        return PlaneInfoRequest::fromTokens(fields);
    }
    if (kind == u"PI") {
        return PlaneInfoResponse::fromTokens(fields);
    }
    return std::monostate{};
}

Packet decodeBody(QStringView line) {
    if (line.isEmpty()) {
        return std::monostate{};
    }
    switch (line.front().unicode()) {
    case u'@':
        return PilotPosition::fromTokens(splitFields(line.sliced(1)));
    case u'%':
        return ATCPosition::fromTokens(splitFields(line.sliced(1)));
    case u'^':
        return FastPilotPosition::fromTokens(FastPositionKind::Fast, splitFields(line.sliced(1)));
    case u'#':
    case u'$':
        break;
    default:
        return std::monostate{};
    }
    if (line.size() < 3) {
        return std::monostate{};
    }
    const QStringView prefix = line.first(3);
    const Fields fields = splitFields(line.sliced(3));
    if (prefix == u"#SL") {
        return FastPilotPosition::fromTokens(FastPositionKind::Slow, fields);
    }
    if (prefix == u"#ST") {
        return FastPilotPosition::fromTokens(FastPositionKind::Stopped, fields);
    }
    if (prefix == u"#TM") {
        return decodeTextMessage(fields);
    }
    if (prefix == u"$CQ") {
        return ClientQuery::fromTokens(fields);
    }
    if (prefix == u"$CR") {
        return ClientQueryResponse::fromTokens(fields);
    }
    if (prefix == u"#SB") {
        return decodePlaneInfo(fields);
    }
    if (prefix == u"#AP") {
        return AddPilot::fromTokens(fields);
    }
    if (prefix == u"#AA") {
        return AddATC::fromTokens(fields);
    }
    if (prefix == u"#DP") {
        return DeletePilot::fromTokens(fields);
    }
    if (prefix == u"#DA") {
        return DeleteATC::fromTokens(fields);
    }
    if (prefix == u"$PI") {
        return Ping::fromTokens(fields);
    }
    if (prefix == u"$PO") {
        return Pong::fromTokens(fields);
    }
    if (prefix == u"$FP") {
        return FlightPlan::fromTokens(fields);
    }
    if (prefix == u"$SF") {
        return SendFast::fromTokens(fields);
    }
    if (prefix == u"$DI") {
        return ServerIdentification::fromTokens(fields);
    }
    if (prefix == u"$ID") {
        return ClientIdentification::fromTokens(fields);
    }
    if (prefix == u"$!!") {
        return KillRequest::fromTokens(fields);
    }
    if (prefix == u"$ER") {
        return ProtocolError::fromTokens(fields);
    }
    if (prefix == u"#MU") {
        return Mute::fromTokens(fields);
    }
    if (prefix == u"$AR") {
        return MetarResponse::fromTokens(fields);
    }
    return std::monostate{};
}

} // namespace

Packet decode(QStringView line) {
    try {
        return decodeBody(line);
    } catch (const PDUFormatException& e) {
        throw PDUFormatException(e.error(), line.toString());
    }
}

void registerMetaTypes() {
    qRegisterMetaType<ClientIdentification>();
    qRegisterMetaType<ServerIdentification>();
    qRegisterMetaType<AddPilot>();
    qRegisterMetaType<AddATC>();
    qRegisterMetaType<DeletePilot>();
    qRegisterMetaType<DeleteATC>();
    qRegisterMetaType<PilotPosition>();
    qRegisterMetaType<ATCPosition>();
    qRegisterMetaType<FastPositionKind>();
    qRegisterMetaType<FastPilotPosition>();
    qRegisterMetaType<SendFast>();
    qRegisterMetaType<TextMessage>();
    qRegisterMetaType<RadioMessage>();
    qRegisterMetaType<BroadcastMessage>();
    qRegisterMetaType<Wallop>();
    qRegisterMetaType<PlaneInfoRequest>();
    qRegisterMetaType<PlaneInfoResponse>();
    qRegisterMetaType<FlightPlan>();
    qRegisterMetaType<ClientQuery>();
    qRegisterMetaType<ClientQueryResponse>();
    qRegisterMetaType<Ping>();
    qRegisterMetaType<Pong>();
    qRegisterMetaType<MetarResponse>();
    qRegisterMetaType<KillRequest>();
    qRegisterMetaType<ProtocolError>();
    qRegisterMetaType<Mute>();
    qRegisterMetaType<ClientQueryType>();
    qRegisterMetaType<ProtocolRevision>();
    qRegisterMetaType<SimulatorType>();
    qRegisterMetaType<NetworkFacility>();
    qRegisterMetaType<NetworkRating>();
}

} // namespace velk::fsd::pdu
