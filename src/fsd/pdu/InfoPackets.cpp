#include "fsd/pdu/InfoPackets.h"

#include "fsd/PDUFormatException.h"

#include <limits>

namespace velk::fsd::pdu {

using exception::PDUFormatException;

namespace {

// "$CQ" and "$CR" share one layout: from:to:type[:argument…]. The arguments
// stay a list; an unknown type text reads as Unknown.
template <class Query> Query readQuery(const Fields& fields) {
    field::requireCount(fields, 3);
    Query pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    pdu.queryType = clientQueryTypeFromString(fields[2]);
    for (qsizetype i = 3; i < fields.size(); ++i) {
        pdu.payload.append(fields[i].toString());
    }
    return pdu;
}

// Index of the first argument that is free text running to the end of the
// line, ':' and all: the aircraft configuration's JSON, an ATIS line's text.
// Every argument before it, and every argument of other types, is one field.
qsizetype freeTextFrom(ClientQueryType type) {
    switch (type) {
    case ClientQueryType::AircraftConfiguration:
        return 0;
    case ClientQueryType::ATIS:
        return 1;
    default:
        return std::numeric_limits<qsizetype>::max();
    }
}

template <class Query> QString writeQuery(const Query& pdu) {
    PacketWriter writer(Query::kPrefix);
    writer.text(pdu.from).text(pdu.to).text(clientQueryTypeToString(pdu.queryType));
    const qsizetype freeFrom = freeTextFrom(pdu.queryType);
    for (qsizetype i = 0; i < pdu.payload.size(); ++i) {
        if (i < freeFrom) {
            writer.text(pdu.payload.at(i));
        } else {
            writer.freeText(pdu.payload.at(i));
        }
    }
    return writer.finish();
}

} // namespace

PlaneInfoRequest::PlaneInfoRequest(QString from, QString to) : from(std::move(from)), to(std::move(to)) {}

PlaneInfoRequest PlaneInfoRequest::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    PlaneInfoRequest pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    return pdu;
}

QString PlaneInfoRequest::serialize() const {
    return PacketWriter(kPrefix).text(from).text(to).text(u"PIR").finish();
}

PlaneInfoResponse::PlaneInfoResponse(QString from, QString to, QString equipment, QString airline,
                                     QString livery, QString csl)
    : from(std::move(from)), to(std::move(to)), equipment(std::move(equipment)), airline(std::move(airline)),
      livery(std::move(livery)), csl(std::move(csl)) {}

PlaneInfoResponse PlaneInfoResponse::fromTokens(const Fields& fields) {
    field::requireCount(fields, 3);
    PlaneInfoResponse pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    for (qsizetype i = 3; i < fields.size(); ++i) {
        const QStringView item = fields[i];
        if (item.startsWith(u"EQUIPMENT=")) {
            pdu.equipment = item.sliced(10).toString();
        } else if (item.startsWith(u"AIRLINE=")) {
            pdu.airline = item.sliced(8).toString();
        } else if (item.startsWith(u"LIVERY=")) {
            pdu.livery = item.sliced(7).toString();
        } else if (item.startsWith(u"CSL=")) {
            pdu.csl = item.sliced(4).toString();
        }
    }
    return pdu;
}

QString PlaneInfoResponse::serialize() const {
    PacketWriter writer(kPrefix);
    writer.text(from).text(to).text(u"PI").text(u"GEN").text(QStringLiteral("EQUIPMENT=") + equipment);
    if (!airline.isEmpty()) {
        writer.text(QStringLiteral("AIRLINE=") + airline);
    }
    if (!livery.isEmpty()) {
        writer.text(QStringLiteral("LIVERY=") + livery);
    }
    if (!csl.isEmpty()) {
        writer.text(QStringLiteral("CSL=") + csl);
    }
    return writer.finish();
}

FlightPlan FlightPlan::fromTokens(const Fields& fields) {
    field::requireCount(fields, 17);
    FlightPlan pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = fields[1].toString();
    pdu.flightRules = fields[2].toString();
    pdu.aircraft = fields[3].toString();
    pdu.trueAirspeed = fields[4].toString();
    pdu.departure = fields[5].toString();
    pdu.plannedDepartureTime = fields[6].toString();
    pdu.actualDepartureTime = fields[7].toString();
    pdu.cruiseAltitude = fields[8].toString();
    pdu.destination = fields[9].toString();
    pdu.hoursEnroute = fields[10].toString();
    pdu.minutesEnroute = fields[11].toString();
    pdu.hoursFuel = fields[12].toString();
    pdu.minutesFuel = fields[13].toString();
    pdu.alternate = fields[14].toString();
    pdu.remarks = fields[15].toString();
    pdu.route = field::joinFrom(fields, 16);
    return pdu;
}

QString FlightPlan::serialize() const {
    return PacketWriter(kPrefix)
        .text(from)
        .text(to)
        .text(flightRules)
        .text(aircraft)
        .text(trueAirspeed)
        .text(departure)
        .text(plannedDepartureTime)
        .text(actualDepartureTime)
        .text(cruiseAltitude)
        .text(destination)
        .text(hoursEnroute)
        .text(minutesEnroute)
        .text(hoursFuel)
        .text(minutesFuel)
        .text(alternate)
        .text(remarks)
        .freeText(route)
        .finish();
}

ClientQuery::ClientQuery(QString from, QString to, ClientQueryType queryType, QStringList payload)
    : from(std::move(from)), to(std::move(to)), queryType(queryType), payload(std::move(payload)) {}

ClientQuery ClientQuery::fromTokens(const Fields& fields) {
    return readQuery<ClientQuery>(fields);
}

QString ClientQuery::serialize() const {
    return writeQuery(*this);
}

ClientQueryResponse::ClientQueryResponse(QString from, QString to, ClientQueryType queryType,
                                         QStringList payload)
    : from(std::move(from)), to(std::move(to)), queryType(queryType), payload(std::move(payload)) {}

ClientQueryResponse ClientQueryResponse::fromTokens(const Fields& fields) {
    return readQuery<ClientQueryResponse>(fields);
}

QString ClientQueryResponse::serialize() const {
    return writeQuery(*this);
}

Ping::Ping(QString from, QString to, QString timeStamp)
    : from(std::move(from)), to(std::move(to)), timeStamp(std::move(timeStamp)) {}

Ping Ping::fromTokens(const Fields& fields) {
    return readAddressed<Ping, &Ping::timeStamp>(fields);
}

QString Ping::serialize() const {
    return writeAddressed<Ping, &Ping::timeStamp>(*this);
}

Pong::Pong(QString from, QString to, QString timeStamp)
    : from(std::move(from)), to(std::move(to)), timeStamp(std::move(timeStamp)) {}

Pong Pong::fromTokens(const Fields& fields) {
    return readAddressed<Pong, &Pong::timeStamp>(fields);
}

QString Pong::serialize() const {
    return writeAddressed<Pong, &Pong::timeStamp>(*this);
}

MetarResponse::MetarResponse(QString from, QString to, QString metar)
    : from(std::move(from)), to(std::move(to)), metar(std::move(metar)) {}

MetarResponse MetarResponse::fromTokens(const Fields& fields) {
    field::requireCount(fields, 4);
    MetarResponse pdu;
    pdu.from = field::nonEmpty(fields, 0, "sender");
    pdu.to = field::nonEmpty(fields, 1, "recipient");
    pdu.metar = field::joinFrom(fields, 3);
    return pdu;
}

QString MetarResponse::serialize() const {
    return PacketWriter(kPrefix).text(from).text(to).text(u"METAR").freeText(metar).finish();
}

} // namespace velk::fsd::pdu
